#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "journal/journal_recorder.h"
#include "platform/fake/fake_file.h"
#include "platform/fake/fake_window.h"

namespace {

typedef std::vector<uint8_t> Bytes;

intptr_t IgnoreMessages(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

void PutU32(Bytes& bytes, uint32_t value) {
    for (int i = 0; i < 4; i++)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A journal file image: the signature field, then the header's numbers, then the records.
Bytes Journal(const std::string& signatureField, uint32_t headerSize, uint32_t recordSize,
              uint32_t count, uint32_t first, uint32_t last, uint32_t duration,
              const std::vector<platform::EventRecord>& records) {
    Bytes bytes(signatureField.begin(), signatureField.end());
    bytes.resize(16, 0);
    for (uint32_t value : {headerSize, recordSize, count, first, last, duration}) {
        PutU32(bytes, value);
    }
    bytes.resize(headerSize, 0);
    for (const platform::EventRecord& record : records) {
        for (uint32_t value :
             {record.message, record.paramL, record.paramH, record.time, record.hwnd}) {
            PutU32(bytes, value);
        }
        bytes.resize(bytes.size() + recordSize - 20, 0xEE);
    }
    return bytes;
}

const std::vector<platform::EventRecord> kRecords = {{0x100, 0x1E41, 1, 5000, 0x10010},
                                                     {0x200, 320, 0xFFFFFFF6u, 5016, 0x20020},
                                                     {0x20A | (0xFF88u << 16), 10, 20, 6000, 0}};

Bytes GoodJournal() {
    return Journal("Quorvatellianis", 40, 20, 3, 5000, 6000, 1000, kRecords);
}

class JournalFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::ResetWindows();
        fake::ResetFiles();
        char pattern[] = "/tmp/journal-test-XXXXXX";
        folder = mkdtemp(pattern);
        platform::RegisterMainWindowClass(nullptr, "Test", IgnoreMessages, 0, 0);
        recorder = new JournalRecorder(nullptr, platform::CreateHiddenWindow(nullptr, "Test"), 7,
                                       "Quorvatellianis");
    }
    void TearDown() override {
        delete recorder;
        EXPECT_EQ(0, fake::OpenFileCount());
        std::string command = "rm -rf '" + folder + "'";
        EXPECT_EQ(0, system(command.c_str()));
    }

    std::string Path(const char* name) { return folder + "/" + name; }
    void Write(const std::string& path, const Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

    std::string folder;
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
    Write(Path("big.Jnf"), Bytes(5000, 1));
    ASSERT_EQ(1, recorder->Save(Path("big.Jnf").c_str()));
    EXPECT_EQ(GoodJournal(), Read(Path("big.Jnf")));
}

TEST_F(JournalFileTest, RejectedFilesLeaveTheHeldRecordingUntouched) {
    HoldKnownRecording();
    Bytes good = GoodJournal();
    Bytes longer = good;
    longer.push_back(0);
    Bytes shorter(good.begin(), good.end() - 1);
    std::vector<Bytes> bad = {
        Journal("quorvatellianis", 40, 20, 3, 5000, 6000, 1000, kRecords),   // letter case
        Journal("Quorvatellianisx", 40, 20, 3, 5000, 6000, 1000, kRecords),  // no zero after
        longer, shorter,
        Journal("Quorvatellianis", 40, 20, 3, 5000, 6000, 999, kRecords),  // times disagree
        Journal("Quorvatellianis", 40, 16, 3, 5000, 6000, 1000, {}),       // records too small
        // Sizes that wrap round 32 bits to the file's real size.
        Journal("Quorvatellianis", 100, 0x40000000u, 4, 0, 0, 0, {}),
        Journal("Quorvatellianis", 40, 0x100001u, 0, 0, 0, 0, {}),  // beyond the read window
        Bytes(), Bytes(39, 0)};
    for (size_t i = 0; i < bad.size(); i++) {
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
    Write(Path("wide.Jnf"), Journal("Quorvatellianis", 64, 24, 3, 5000, 6000, 1000, kRecords));
    ASSERT_EQ(1, recorder->Load(Path("wide.Jnf").c_str()));
    ASSERT_EQ(3u, recorder->GetCount());
    EXPECT_EQ(6000u, recorder->GetHead()->next->next->record.time);
    EXPECT_EQ(0x20020u, recorder->GetHead()->next->record.hwnd);

    // Bytes after the signature's zero are not looked at.
    Write(Path("noisy.Jnf"), Journal(std::string("Quorvatellianis\0junk", 20).substr(0, 16), 40, 20,
                                     3, 5000, 6000, 1000, kRecords));
    EXPECT_EQ(1, recorder->Load(Path("noisy.Jnf").c_str()));

    // An empty journal loads and leaves the list empty.
    Write(Path("empty.Jnf"), Journal("Quorvatellianis", 40, 20, 0, 9, 9, 0, {}));
    EXPECT_EQ(1, recorder->Load(Path("empty.Jnf").c_str()));
    EXPECT_EQ(0, recorder->HasEvents());
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
    EXPECT_EQ(0, system(("test $(ls -A '" + folder + "' | wc -l) -eq 1").c_str()));
}

}  // namespace
