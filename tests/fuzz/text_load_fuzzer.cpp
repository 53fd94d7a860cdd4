// Arbitrary bytes through the journal tool's text reader (build), and as a journal file through
// dump. What they promise:
// - a text that cannot be read is refused with the number of a line;
// - a text that reads to a journal the program loads dumps to a text that reads to the same
//   bytes again;
// - bytes that the program loads as a journal dump to a text that builds to those very bytes;
// - no file handle stays open.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/journal_io.h"
#include "cli/journal_text.h"
#include "platform/fake/fake_file.h"
#include "tests/fuzz/fuzz_files.h"

namespace {

using fuzz::Check;

// Texts may ask for files of up to 2 GiB; those are left to the unit tests.
const uint64_t kLargestComposed = 1 << 20;

uint64_t ComposedSize(const qvjournal::JournalImage& image) {
    return uint64_t(image.header.headerSize) +
           uint64_t(image.events.size()) * image.header.recordSize;
}

// Dumps the journal file at `path` and builds the text again: the same bytes must come back.
void DumpAndBuild(const std::string& path, const std::vector<uint8_t>& bytes) {
    qvjournal::JournalImage image, again;
    journal::Refusal refusal;
    uint32_t size;
    std::string why;
    Check(qvjournal::ReadJournal(path, &image, &refusal, &size, &why),
          "a loadable file was refused");
    std::string text = qvjournal::DumpJournalText(image, "input", "\n");
    Check(qvjournal::ParseJournalText(text.data(), text.size(), &again, &why),
          "a dumped text does not read");
    std::vector<uint8_t> built;
    Check(qvjournal::ComposeJournal(again, &built, &why), "a dumped text builds no journal");
    Check(built == bytes, "a dumped text builds other bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::ScratchPath("input.Jnf");

    qvjournal::JournalImage image;
    std::string error;
    std::vector<uint8_t> bytes;
    if (!qvjournal::ParseJournalText(reinterpret_cast<const char*>(data), size, &image, &error)) {
        Check(error.compare(0, 5, "line ") == 0, "a refused text names no line");
    } else if (ComposedSize(image) <= kLargestComposed &&
               qvjournal::ComposeJournal(image, &bytes, &error)) {
        fuzz::WriteFile(path, bytes.data(), bytes.size());
        DumpAndBuild(path, bytes);
    }

    journal::Refusal refusal;
    uint32_t fileSize;
    fuzz::WriteFile(path, data, size);
    if (qvjournal::ReadJournal(path, &image, &refusal, &fileSize, &error))
        DumpAndBuild(path, std::vector<uint8_t>(data, data + size));
    Check(fake::OpenFileCount() == 0, "a file was left open");
    return 0;
}
