#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "journal/journal_recorder.h"
#include "platform/fake/fake_file.h"
#include "platform/fake/fake_window.h"
#include "tests/common/folder_test.h"
#include "tests/common/journal_image.h"

namespace {

intptr_t IgnoreMessages(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

const std::vector<platform::EventRecord> kRecords = {{0x100, 0x1E41, 1, 5000, 0x10010},
                                                     {0x200, 320, 0xFFFFFFF6u, 5016, 0x20020},
                                                     {0x20A | (0xFF88u << 16), 10, 20, 6000, 0}};

std::string GoodJournal() {
    return testkit::JournalImage(kRecords);
}

// Two equal entries: a file's table is kept as it was, each record naming its entry by place.
const std::string kLedger = testkit::WindowEntry("ledger.exe", "LedgerMain", "Accounts - Ledger",
                                                 -1280, 40, -300, 700, 144);
const std::string kTable =
    testkit::WindowTable({kLedger, testkit::WindowEntry("", "#32770", ""), kLedger});

// The same table as a section, and places: events 0 and 1 elsewhere than their entries say.
const std::string kSections = testkit::WindowsSection(kTable);
std::vector<uint32_t> kPlaceAt(uint32_t event) {
    return {event, uint32_t(-100), 0, 540, 480, 120};
}
std::string kPlace(uint32_t event) {
    return testkit::PlacesSection({kPlaceAt(event)});
}
// A move's motion: one entry of event, counts and flags.
std::string kMotion(uint32_t event, uint32_t flags) {
    std::string bytes;
    for (uint32_t value : {1u, event, 5u, uint32_t(-3), flags})
        testkit::PutU32(bytes, value);
    return testkit::Section("MOTN", bytes);
}

std::string WindowedJournal(testkit::JournalHeader header = {}) {
    header.recordSize = header.recordSize == 20 ? 24 : header.recordSize;
    if (header.table.empty())
        header.table = kTable;
    if (header.windowOf.empty())
        header.windowOf = {3, 2, 0};
    return testkit::JournalImage(kRecords, header);
}

class JournalFileTest : public testkit::FolderTest {
  protected:
    void SetUp() override {
        fake::ResetWindows();
        fake::ResetFiles();
        platform::RegisterMainWindowClass(nullptr, "Test", IgnoreMessages, 0, 0);
        recorder = new JournalRecorder(nullptr, platform::CreateHiddenWindow(nullptr, "Test"), 7,
                                       "Quorvatellianis");
    }
    void TearDown() override {
        delete recorder;
        EXPECT_EQ(0, fake::OpenFileCount());
    }

    // Holds a known recording: two events, the first at 777.
    void HoldKnownRecording() {
        ASSERT_EQ(1, recorder->StartRecording());
        fake::RecordEvent({0x100, 'K', 1, 777, 0});
        fake::RecordEvent({0x101, 'K', 1, 778, 0});
        ASSERT_EQ(1, recorder->Stop());
    }
    void ExpectKnownRecordingKept() {
        ASSERT_EQ(2u, recorder->GetCount());
        EXPECT_EQ(777u, recorder->GetHead()->record.time);
    }

    JournalRecorder* recorder;
};

TEST_F(JournalFileTest, SavingALoadedFileReproducesItByteForByte) {
    Write(Path("in.Jnf"), GoodJournal());
    ASSERT_EQ(1, recorder->Load(Path("in.Jnf").c_str()));
    EXPECT_EQ(3u, recorder->GetCount());
    EXPECT_EQ(0xFFFFFFF6u, recorder->GetHead()->next->record.paramH);
    EXPECT_EQ(Path("in.Jnf"), recorder->GetFileName());
    ASSERT_EQ(1, recorder->Save(Path("out.Jnf").c_str()));
    EXPECT_EQ(GoodJournal(), Read(Path("out.Jnf")));
    // A playback stopped midway changes nothing of what is saved.
    ASSERT_EQ(1, recorder->StartPlayback());
    fake::PlayAll(1);
    ASSERT_EQ(1, recorder->Stop());
    ASSERT_EQ(1, recorder->Save(Path("out.Jnf").c_str()));
    EXPECT_EQ(GoodJournal(), Read(Path("out.Jnf")));
    // Saving over an existing file replaces it.
    Write(Path("big.Jnf"), std::string(5000, '\1'));
    ASSERT_EQ(1, recorder->Save(Path("big.Jnf").c_str()));
    EXPECT_EQ(GoodJournal(), Read(Path("big.Jnf")));
}

TEST_F(JournalFileTest, RejectedFilesLeaveTheHeldRecordingUntouched) {
    HoldKnownRecording();
    using testkit::JournalImage;
    const std::string good = GoodJournal();
    const std::string bad[] = {
        JournalImage(kRecords, {"quorvatellianis"}),   // letter case
        JournalImage(kRecords, {"Quorvatellianisx"}),  // no zero after
        good + '\0', good.substr(0, good.size() - 1),
        JournalImage(kRecords, {.duration = 999}),  // times disagree
        JournalImage({}, {.recordSize = 16, .count = 3, .first = 5000, .last = 6000}),
        // Sizes that wrap round 32 bits to the file's real size.
        JournalImage({}, {.headerSize = 100, .recordSize = 0x40000000u, .count = 4}),
        JournalImage({}, {.recordSize = 0x100001u}),  // beyond the read window
        std::string(), std::string(39, '\0'),
        // Damaged window tables, and records that name a window the table lacks.
        WindowedJournal({.windowOf = {4, 0, 0}}),
        WindowedJournal({.table = testkit::WindowTable({}), .windowOf = {0, 0, 0}}),
        WindowedJournal({.table = testkit::WindowTable({kLedger}, 1025)}),
        WindowedJournal({.table = testkit::WindowTable({kLedger}, 2)}),     // an entry past the end
        WindowedJournal({.table = testkit::WindowTable({kLedger}) + "x"}),  // bytes left after it
        WindowedJournal({.table = testkit::WindowTable({testkit::WindowEntry("a\0b", "C", "")})}),
        WindowedJournal({.recordSize = 22, .windowOf = {}}),
        WindowedJournal({.table = "WTBL"}),  // no room for the number of entries
        // Damaged sections: places out of order, past the last event, of an event without a
        // window, or none; a section before one it follows, or running past the header's end.
        WindowedJournal({.table = kSections + kPlace(1) + kPlace(0)}),
        WindowedJournal({.table = kSections + kPlace(3)}),
        WindowedJournal({.table = kSections + kPlace(2)}),
        WindowedJournal({.table = kSections + testkit::PlacesSection({})}),
        WindowedJournal({.table = testkit::PlacesSection({kPlaceAt(0)}) + kSections}),
        WindowedJournal({.table = kSections.substr(0, kSections.size() - 1)}),
        // Motion of a key, motion with flags no version writes, past the last event.
        WindowedJournal({.table = kSections + kMotion(0, 1)}),
        WindowedJournal({.table = kSections + kMotion(1, 8)}),
        WindowedJournal({.table = kSections + kMotion(3, 0)})};
    for (size_t i = 0; i < std::size(bad); i++) {
        SCOPED_TRACE(i);
        Write(Path("bad.Jnf"), bad[i]);
        EXPECT_EQ(0, recorder->Load(Path("bad.Jnf").c_str()));
        ExpectKnownRecordingKept();
    }
    EXPECT_EQ(0, recorder->Load(Path("missing.Jnf").c_str()));
    ExpectKnownRecordingKept();
    fake::PushDialogAnswer("");  // cancelled
    EXPECT_EQ(0, recorder->Load(""));
    ExpectKnownRecordingKept();
    EXPECT_STREQ("", recorder->GetFileName());
}

TEST_F(JournalFileTest, HeaderAndRecordSizesAreHonouredAsRead) {
    // Wider records and a longer header: each event comes from the first 20 bytes of its record.
    Write(Path("wide.Jnf"), testkit::JournalImage(kRecords, {.headerSize = 64, .recordSize = 24}));
    ASSERT_EQ(1, recorder->Load(Path("wide.Jnf").c_str()));
    ASSERT_EQ(3u, recorder->GetCount());
    EXPECT_EQ(6000u, recorder->GetHead()->next->next->record.time);
    EXPECT_EQ(0x20020u, recorder->GetHead()->next->record.hwnd);

    // Bytes after the signature's zero are not looked at.
    Write(Path("noisy.Jnf"),
          testkit::JournalImage(kRecords, {std::string("Quorvatellianis\0junk", 20)}));
    EXPECT_EQ(1, recorder->Load(Path("noisy.Jnf").c_str()));

    // An empty journal loads and leaves the list empty.
    Write(Path("empty.Jnf"), testkit::JournalImage({}, {.first = 9, .last = 9}));
    EXPECT_EQ(1, recorder->Load(Path("empty.Jnf").c_str()));
    EXPECT_EQ(0, recorder->HasEvents());
}

TEST_F(JournalFileTest, AWindowTableIsLoadedAndSavedBackByteForByte) {
    Write(Path("windows.Jnf"), WindowedJournal());
    ASSERT_EQ(1, recorder->Load(Path("windows.Jnf").c_str()));
    const journal::WindowTable& windows = recorder->GetWindows();
    ASSERT_EQ(3u, windows.count);
    EXPECT_STREQ("ledger.exe", windows.entries[2].program);
    EXPECT_STREQ("LedgerMain", windows.entries[2].windowClass);
    EXPECT_STREQ("Accounts - Ledger", windows.entries[2].title);
    EXPECT_EQ(-1280, windows.entries[2].rect.left);
    EXPECT_EQ(700, windows.entries[2].rect.bottom);
    EXPECT_EQ(144u, windows.entries[2].dpi);
    const journal::EventNote* notes = recorder->GetNotes().notes;
    EXPECT_EQ(3u, notes[recorder->GetHead()->note - 1].window);
    EXPECT_EQ(2u, notes[recorder->GetHead()->next->note - 1].window);
    ASSERT_EQ(1, recorder->Save(Path("out.Jnf").c_str()));
    EXPECT_EQ(WindowedJournal(), Read(Path("out.Jnf")));

    // Where windows moved, each event's place comes back with it; a section this version does
    // not know is skipped.
    const std::string moved =
        WindowedJournal({.table = kSections + testkit::PlacesSection({kPlaceAt(0), kPlaceAt(1)})});
    Write(Path("moved.Jnf"), moved);
    ASSERT_EQ(1, recorder->Load(Path("moved.Jnf").c_str()));
    const journal::EventNote& second =
        recorder->GetNotes().notes[recorder->GetHead()->next->note - 1];
    EXPECT_EQ(2u, second.window);
    EXPECT_EQ(-100, second.rect.left);
    EXPECT_EQ(120u, second.dpi);
    ASSERT_EQ(1, recorder->Save(Path("out.Jnf").c_str()));
    EXPECT_EQ(moved, Read(Path("out.Jnf")));
    Write(Path("later.Jnf"), WindowedJournal({.table = kSections + testkit::Section("LATR", "?")}));
    EXPECT_EQ(1, recorder->Load(Path("later.Jnf").c_str()));
}

// What a program that knows nothing of windows reads: the 40-byte header's fields pass its
// tests, and the first 20 bytes of each record are the events, at their recorded positions.
TEST_F(JournalFileTest, AFileWithWindowsReadsAsBeforeWhenTheTableIsIgnored) {
    Write(Path("windows.Jnf"), WindowedJournal());
    ASSERT_EQ(1, recorder->Load(Path("windows.Jnf").c_str()));
    ASSERT_EQ(1, recorder->Save(Path("saved.Jnf").c_str()));
    const std::string file = Read(Path("saved.Jnf"));
    ASSERT_GE(file.size(), 40u);
    EXPECT_EQ(0, file.compare(0, 16, std::string("Quorvatellianis\0", 16)));
    uint32_t headerSize = testkit::GetU32(file, 16), recordSize = testkit::GetU32(file, 20);
    uint32_t count = testkit::GetU32(file, 24);
    ASSERT_EQ(file.size(), headerSize + uint64_t(count) * recordSize);
    EXPECT_EQ(testkit::GetU32(file, 28), testkit::GetU32(file, 32) - testkit::GetU32(file, 36));
    ASSERT_EQ(kRecords.size(), count);
    for (uint32_t i = 0; i < count; i++) {
        size_t at = headerSize + size_t(i) * recordSize;
        platform::EventRecord e = {testkit::GetU32(file, at), testkit::GetU32(file, at + 4),
                                   testkit::GetU32(file, at + 8), testkit::GetU32(file, at + 12),
                                   testkit::GetU32(file, at + 16)};
        EXPECT_EQ(0, memcmp(&kRecords[i], &e, sizeof e)) << i;
    }
}

TEST_F(JournalFileTest, DialogsUseTheJournalFilterAndNeverOpenForAnEmptyList) {
    EXPECT_EQ(0, recorder->Save(""));
    EXPECT_TRUE(fake::FileDialogsShown().empty());

    HoldKnownRecording();
    fake::PushDialogAnswer(Path("chosen.Jnf").c_str());
    ASSERT_EQ(1, recorder->Save(""));
    ASSERT_EQ(1u, fake::FileDialogsShown().size());
    fake::FileDialogShown shown = fake::FileDialogsShown()[0];
    EXPECT_EQ(1, shown.save);
    EXPECT_EQ(std::string("Journal File(*.Jnf)\0*.Jnf\0", 26), shown.filter);
    EXPECT_EQ("Jnf", shown.defaultExtension);
    EXPECT_EQ(Path("chosen.Jnf"), recorder->GetFileName());
    EXPECT_EQ(80u, Read(Path("chosen.Jnf")).size());

    fake::PushDialogAnswer(Path("chosen.Jnf").c_str());
    ASSERT_EQ(1, recorder->Load(""));
    EXPECT_EQ(0, fake::FileDialogsShown()[1].save);
    ExpectKnownRecordingKept();
}

TEST_F(JournalFileTest, SaveThatCannotStoreEveryByteFailsAndKeepsThePreviousFile) {
    Write(Path("keep.Jnf"), GoodJournal());
    HoldKnownRecording();
    for (fake::FileCall call : {fake::kFileWrite, fake::kFileClose, fake::kFileReplace}) {
        SCOPED_TRACE(call);
        fake::ResetFiles();
        fake::FailFileCall(call, 1);
        EXPECT_EQ(0, recorder->Save(Path("keep.Jnf").c_str()));
        EXPECT_EQ(GoodJournal(), Read(Path("keep.Jnf")));
        ExpectKnownRecordingKept();
    }
    fake::ResetFiles();
    fake::ShortenFileWrite(1, 10);
    EXPECT_EQ(0, recorder->Save(Path("keep.Jnf").c_str()));
    EXPECT_EQ(GoodJournal(), Read(Path("keep.Jnf")));
    // Nothing but the journal is left in the folder.
    EXPECT_EQ(std::vector<std::string>{"keep.Jnf"}, Listing());
}

}  // namespace
