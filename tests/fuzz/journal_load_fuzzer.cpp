// Arbitrary bytes as a journal file through JournalRecorder::Load. What a load promises:
// - it accepts exactly the files that docs/journal-format.md describes, and then holds their
//   records in file order;
// - a refused file leaves the recording held before as it was;
// - an accepted recording saves to the canonical file (40-byte header, 20-byte records; with a
//   window table, the table as read and 24-byte records naming each event's window), which
//   loads again to the same events; one whose header holds sections saves to a file that loads
//   again to the same events;
// - no file handle stays open and nothing is left beside the saved file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "cli/journal_io.h"
#include "journal/journal_recorder.h"
#include "platform/fake/fake_file.h"
#include "platform/fake/fake_window.h"
#include "platform/window.h"
#include "tests/common/journal_image.h"
#include "tests/fuzz/fuzz_files.h"

namespace {

using fuzz::Bytes;
using fuzz::Check;
using testkit::GetU32;

const char kSignature[] = "Quorvatellianis";
const uint32_t kHeader = 40;
const uint32_t kRecord = 20;
const uint32_t kLargestRecord = 1048576;
const uint64_t kLargestFile = 0x7FFFFFFF;

// What the recorder holds before each load: something a refusal must not touch.
const platform::EventRecord kHeld[] = {{0x100, 0x1E41, 1, 1000, 0x10},
                                       {0x200, 0xFFFFFFF6u, 77, 1016, 0x20},
                                       {0x101, 0x1E41, 0xC0000001u, 1100, 0x30}};

intptr_t IgnoreMessages(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

JournalRecorder& Recorder() {
    static JournalRecorder* recorder = [] {
        platform::RegisterMainWindowClass(nullptr, "FuzzMain", IgnoreMessages, 0, 0);
        platform::WindowHandle window = platform::CreateHiddenWindow(nullptr, "FuzzMain");
        return new JournalRecorder(nullptr, window, 7, kSignature);
    }();
    return *recorder;
}

bool SameEvent(const platform::EventRecord& a, const platform::EventRecord& b) {
    return a.message == b.message && a.paramL == b.paramL && a.paramH == b.paramH &&
           a.time == b.time && a.hwnd == b.hwnd;
}

std::vector<platform::EventRecord> Held(const JournalRecorder& recorder) {
    std::vector<platform::EventRecord> events;
    for (const JournalEvent* e = recorder.GetHead(); e; e = e->next)
        events.push_back(e->record);
    Check(events.size() == recorder.GetCount(), "the count disagrees with the list");
    return events;
}

bool Holds(const JournalRecorder& recorder, const std::vector<platform::EventRecord>& expected) {
    std::vector<platform::EventRecord> events = Held(recorder);
    if (events.size() != expected.size())
        return false;
    for (size_t i = 0; i < events.size(); i++)
        if (!SameEvent(events[i], expected[i]))
            return false;
    return true;
}

void HoldKnownRecording(JournalRecorder& recorder) {
    Check(recorder.StartRecording() == 1, "recording refused");
    for (const platform::EventRecord& e : kHeld)
        fake::RecordEvent(e);
    Check(recorder.Stop() == 1, "stop refused");
}

// The format as documented, written independently of the loader: the events a file holds, or
// false when it is not a journal file of this program.
bool Parse(const uint8_t* data, size_t size, std::vector<platform::EventRecord>* events,
           std::string* table, std::vector<uint32_t>* windowOf) {
    if (size < kHeader || size > kLargestFile)
        return false;
    size_t length = sizeof kSignature - 1;
    if (memcmp(data, kSignature, length) != 0 || data[length] != 0)
        return false;
    uint32_t headerSize = GetU32(data + 16), recordSize = GetU32(data + 20);
    uint32_t count = GetU32(data + 24), first = GetU32(data + 28), last = GetU32(data + 32),
             duration = GetU32(data + 36);
    if (recordSize < kRecord || recordSize > kLargestRecord)
        return false;
    if (uint64_t(headerSize) + uint64_t(count) * recordSize != size)
        return false;
    if (first != last - duration)
        return false;
    // A window table: the tag, 1 to 1024 entries of 23 bytes and three names without a zero
    // byte, filling the header to its end; records of 24 bytes at least, each naming an entry
    // or none.
    bool windows = headerSize >= kHeader + 4 && memcmp(data + kHeader, "WTBL", 4) == 0;
    uint32_t entries = 0;
    if (windows) {
        if (headerSize < kHeader + 8 || recordSize < kRecord + 4)
            return false;
        entries = GetU32(data + kHeader + 4);
        if (entries == 0 || entries > 1024)
            return false;
        size_t at = kHeader + 8;
        for (uint32_t i = 0; i < entries; i++) {
            if (headerSize - at < 23)
                return false;
            size_t names = size_t(data[at + 20]) + data[at + 21] + data[at + 22];
            if (headerSize - at - 23 < names || memchr(data + at + 23, 0, names))
                return false;
            at += 23 + names;
        }
        if (at != headerSize)
            return false;
        table->assign(reinterpret_cast<const char*>(data) + kHeader, headerSize - kHeader);
    }
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* r = data + headerSize + size_t(i) * recordSize;
        events->push_back(
            {GetU32(r), GetU32(r + 4), GetU32(r + 8), GetU32(r + 12), GetU32(r + 16)});
        if (windows && GetU32(r + 20) > entries)
            return false;
        if (windows)
            windowOf->push_back(GetU32(r + 20));
    }
    return true;
}

// Whether the header's bytes after the first 40 begin with the tag of a section this version
// knows, which may then hold more than a window table.
bool Sectioned(const uint8_t* data, size_t size) {
    if (size < kHeader + 4 || GetU32(data + 16) < kHeader + 4)
        return false;
    for (const char* tag : {"WNDS", "WMOV", "SHOT", "MOTN"})
        if (memcmp(data + kHeader, tag, 4) == 0)
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JournalRecorder& recorder = Recorder();
    static const std::string input = fuzz::ScratchPath("input.Jnf");
    static const std::string saved = fuzz::ScratchPath("saved.Jnf");
    static const std::string savedTemporary = saved + ".part~";
    static const std::vector<platform::EventRecord> held(std::begin(kHeld), std::end(kHeld));
    fake::ClearCallLog();  // the fake logs every platform call; keep it from growing

    if (!Holds(recorder, held))
        HoldKnownRecording(recorder);
    fuzz::WriteFile(input, data, size);

    std::vector<platform::EventRecord> expected;
    std::string table;
    std::vector<uint32_t> windowOf;
    bool valid = Parse(data, size, &expected, &table, &windowOf);
    bool sections = Sectioned(data, size);
    int32_t loaded = recorder.Load(input.c_str());
    Check(fake::OpenFileCount() == 0, "Load left a file open");
    // Sections are read by the journal tool on its own way too: the two agree on every file.
    if (sections) {
        qvjournal::JournalImage image;
        journal::Refusal refusal;
        uint32_t fileSize;
        std::string why;
        bool read = qvjournal::ReadJournal(input, &image, &refusal, &fileSize, &why);
        Check(read == (loaded == 1), "the tool and the program disagree on a file with sections");
        Check(!read || Holds(recorder, image.events), "the tool reads other events");
    }
    if (!loaded) {
        Check(!valid || sections, "a valid journal was refused");
        Check(Holds(recorder, held), "a refused load changed the held recording");
        return 0;
    }
    Check(valid, "an invalid journal was accepted");
    Check(Holds(recorder, expected), "the loaded events are not the file's records");
    if (expected.empty()) {
        Check(recorder.Save(saved.c_str()) == 0, "an empty recording was saved");
        return 0;
    }

    Check(recorder.Save(saved.c_str()) == 1, "an accepted recording could not be saved");
    Check(fake::OpenFileCount() == 0, "Save left a file open");
    Check(access(savedTemporary.c_str(), F_OK) != 0, "Save left its temporary behind");
    // Sections are told apart from opaque header bytes, not read: their saved bytes are the
    // recorder tests' to check; here they only have to load again to the same events.
    std::string canonical =
        testkit::JournalImage(expected, {.recordSize = table.empty() ? kRecord : kRecord + 4,
                                         .table = table,
                                         .windowOf = windowOf});
    Check(sections || fuzz::ReadFile(saved) == Bytes(canonical.begin(), canonical.end()),
          "the saved file is not canonical");
    Check(recorder.Load(saved.c_str()) == 1, "the saved file does not load");
    Check(Holds(recorder, expected), "the saved file loads to other events");
    Check(fake::OpenFileCount() == 0, "Load left a file open");
    return 0;
}
