// FileBuffer over the host file service: windows, names, dialogs and saves that never destroy
// the previous file.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fake/fake_file.h"
#include "storage/file_buffer.h"
#include "tests/common/bytes.h"
#include "tests/common/folder_test.h"

namespace {

const uint32_t kMiB = FileBuffer::kWindowSize;
const char kJournalFilter[] = "Journal File(*.Jnf)\0*.Jnf\0";

class FileBufferTest : public testkit::FolderTest {
  protected:
    void SetUp() override { fake::ResetFiles(); }
    void TearDown() override {
        delete fb;
        EXPECT_EQ(fake::OpenFileCount(), 0) << "leaked file handles";
        fake::ResetFiles();
    }

    FileBuffer* fb = new FileBuffer;
};

TEST_F(FileBufferTest, ReadWindowRefillsOnlyWhenTheReadLeavesTheLoadedBytes) {
    std::string content = Pattern(2 * kMiB + 100, 1);
    Write(Path("a"), content);
    ASSERT_EQ(fb->OpenForReading(Path("a").c_str()), 1);

    EXPECT_EQ(Bytes(fb->ReadAt(100, -1), 100), content.substr(0, 100));  // -1 starts at 0
    EXPECT_EQ(Bytes(fb->ReadAt(50, 10), 50), content.substr(10, 50));
    EXPECT_EQ(fake::FileCallCount(fake::kFileRead), 1);
    // Continuing means after the loaded window, not after the last read.
    EXPECT_EQ(Bytes(fb->ReadAt(100, -1), 100), content.substr(kMiB, 100));
    EXPECT_EQ(Bytes(fb->ReadAt(10, 5), 10), content.substr(5, 10));  // before the window
    EXPECT_EQ(fake::FileCallCount(fake::kFileRead), 3);

    EXPECT_TRUE(Bytes(fb->ReadAt(kMiB, 0), kMiB) == content.substr(0, kMiB));
    EXPECT_EQ(fb->ReadAt(kMiB + 1, 0), nullptr);
    EXPECT_EQ(fb->GetSize(), content.size());

    // Past the end: zeros, and a reload each time the read is repeated.
    content = Pattern(100, 2);
    Write(Path("b"), content);
    ASSERT_EQ(fb->OpenForReading(Path("b").c_str()), 1);
    EXPECT_EQ(Bytes(fb->ReadAt(40, 0), 40), content.substr(0, 40));
    std::string tail = content.substr(90) + std::string(10, '\0');
    EXPECT_EQ(Bytes(fb->ReadAt(20, 90), 20), tail);
    EXPECT_EQ(Bytes(fb->ReadAt(20, 90), 20), tail);
    EXPECT_EQ(fake::FileCallCount(fake::kFileRead), 7);
    EXPECT_EQ(fb->Close(), 1);
}

TEST_F(FileBufferTest, ClosedObjectRefusesAndKeepsTheTriedName) {
    EXPECT_STREQ(fb->GetFileName(), "");
    EXPECT_EQ(fb->OpenForReading(Path("missing").c_str()), 0);
    EXPECT_STREQ(fb->GetFileName(), Path("missing").c_str());
    EXPECT_EQ(fb->IsOpen(), 0);
    EXPECT_EQ(fb->ReadAt(1, 0), nullptr);
    EXPECT_EQ(fb->WriteAt("x", 1, 0), 0);
    EXPECT_EQ(fb->Flush(), 0);
    EXPECT_EQ(fb->GetSize(), 0u);
    EXPECT_EQ(fb->OpenForSaving(Path("no/such/folder").c_str()), 0);
    EXPECT_TRUE(Listing().empty());
}

TEST_F(FileBufferTest, AppendsCrossingTheWindowStoreItAndMoveIt) {
    std::string header = Pattern(40, 3), records;
    ASSERT_EQ(fb->OpenForSaving(Path("j").c_str()), 1);
    ASSERT_EQ(fb->WriteAt(header.data(), 40, 0), 1);
    const int fitting = (kMiB - 40) / 20;
    for (int i = 0; i < fitting + 3; ++i) {
        std::string record = Pattern(20, i);
        records += record;
        ASSERT_EQ(fb->WriteAt(record.data(), 20, -1), 1);
        if (i == fitting - 1) {
            // The window is full and nothing of it stored yet.
            EXPECT_EQ(fb->GetSize(), 0u) << "unflushed bytes counted";
        }
    }
    EXPECT_EQ(fb->GetSize(), kMiB - 16);  // the move stored the first window
    EXPECT_EQ(fake::FileCallCount(fake::kFileWrite), 1);
    EXPECT_EQ(fb->Close(), 1);
    EXPECT_TRUE(Read(Path("j")) == header + records);
}

TEST_F(FileBufferTest, OverwritesNeverShortenWhatIsStoredAndGapsAreZero) {
    std::string a = Pattern(100, 4), b = Pattern(10, 5);
    ASSERT_EQ(fb->OpenForSaving(Path("w").c_str()), 1);
    EXPECT_EQ(fb->Flush(), 0);  // nothing waiting
    EXPECT_EQ(fb->WriteAt(a.data(), 100, 0), 1);
    EXPECT_EQ(fb->WriteAt(b.data(), 10, 0), 1);
    EXPECT_EQ(fb->Flush(), 1);
    EXPECT_EQ(fb->GetSize(), 100u);
    EXPECT_EQ(fb->WriteAt("end", 3, 120), 1);
    EXPECT_EQ(fb->Flush(), 1);
    EXPECT_EQ(fb->Close(), 1);
    EXPECT_EQ(fake::FileCallCount(fake::kFileWrite), 2);  // Close after Flush stores nothing
    EXPECT_EQ(Read(Path("w")), b + a.substr(10) + std::string(20, '\0') + "end");

    std::string big = Pattern(kMiB + 1, 6);
    ASSERT_EQ(fb->OpenForSaving(Path("w").c_str()), 1);
    EXPECT_EQ(fb->WriteAt(big.data(), kMiB, 0), 1);
    EXPECT_EQ(fb->WriteAt("a", 1, kMiB), 1);  // moves: the old window's bytes must not linger
    EXPECT_EQ(fb->WriteAt("b", 1, kMiB + 10), 1);
    EXPECT_EQ(fb->Close(), 1);
    EXPECT_TRUE(Read(Path("w")) == big.substr(0, kMiB) + "a" + std::string(9, '\0') + "b");
}

TEST_F(FileBufferTest, OpenOnAnOpenObjectStoresPendingWritesFirst) {
    Write(Path("b"), "bee");
    ASSERT_EQ(fb->OpenForSaving(Path("a").c_str()), 1);
    fb->WriteAt("pending", 7, -1);
    ASSERT_EQ(fb->OpenForReading(Path("b").c_str()), 1);
    EXPECT_EQ(Read(Path("a")), "pending");
    EXPECT_EQ(Bytes(fb->ReadAt(3, -1), 3), "bee");
    // Left open: destruction must still release the handle.
}

TEST_F(FileBufferTest, SaveReplacesTheLockedTargetOnlyAtClose) {
    Write(Path("t"), "old and longer content");
    ASSERT_EQ(fb->OpenForSaving(Path("t").c_str()), 1);
    EXPECT_STREQ(fb->GetFileName(), Path("t").c_str());
    EXPECT_EQ(fb->GetSize(), 0u);
    fb->WriteAt("new", 3, 0);
    fb->Flush();
    EXPECT_EQ(Read(Path("t")), "old and longer content");
    FileBuffer other;
    EXPECT_EQ(other.OpenForReading(Path("t").c_str()), 0);
    EXPECT_EQ(other.OpenForSaving(Path("t").c_str()), 0);
    EXPECT_EQ(fb->Close(), 1);
    EXPECT_EQ(Read(Path("t")), "new");
    EXPECT_EQ(Listing(), std::vector<std::string>{"t"});

    ASSERT_EQ(chmod(Path("t").c_str(), 0444), 0);
    EXPECT_EQ(fb->OpenForSaving(Path("t").c_str()), 0);
    EXPECT_EQ(Listing(), std::vector<std::string>{"t"});
}

TEST_F(FileBufferTest, OverlongPathsFailWithoutTouchingTheDisk) {
    std::string path = folder + "/" + std::string(FileBuffer::kNameCapacity, 'x');
    EXPECT_EQ(fb->OpenForReading(path.c_str()), 0);
    EXPECT_STREQ(fb->GetFileName(), "");
    path.resize(FileBuffer::kNameCapacity - 1);
    EXPECT_EQ(fb->OpenForReading(path.c_str()), 0);
    EXPECT_EQ(fb->GetFileName(), path);
    path.resize(FileBuffer::kNameCapacity - 4);  // fits, but its temporary would not
    EXPECT_EQ(fb->OpenForSaving(path.c_str()), 0);
    EXPECT_EQ(fake::FileCallCount(fake::kFileOpen), 1);
}

TEST_F(FileBufferTest, DialogAsksWithTheFilterAndItsDefaultExtension) {
    EXPECT_EQ(fb->ChooseAndOpen(FileMode::Reading, kJournalFilter), 0);  // no answer: cancelled
    EXPECT_STREQ(fb->GetFileName(), "");
    fake::PushDialogAnswer(Path("chosen.Jnf").c_str());
    ASSERT_EQ(fb->ChooseAndOpen(FileMode::Saving, kJournalFilter), 1);
    EXPECT_EQ(fb->Close(), 1);
    EXPECT_STREQ(fb->GetFileName(), Path("chosen.Jnf").c_str());
    EXPECT_EQ(Listing(), std::vector<std::string>{"chosen.Jnf"});
    EXPECT_STREQ(fb->ChooseFile(FileMode::Reading, ""), "");

    std::vector<fake::FileDialogShown> shown = fake::FileDialogsShown();
    ASSERT_EQ(shown.size(), 3u);
    std::string filter(kJournalFilter, sizeof kJournalFilter - 1);
    EXPECT_EQ(shown[0].save, 0);
    EXPECT_EQ(shown[0].filter, filter);
    EXPECT_EQ(shown[0].defaultExtension, "Jnf");
    EXPECT_EQ(shown[0].capacity, FileBuffer::kNameCapacity);
    EXPECT_EQ(shown[1].save, 1);
    EXPECT_EQ(shown[1].defaultExtension, "Jnf");
    EXPECT_EQ(shown[2].defaultExtension, "");
}

// Each step of a save that can fail: the first window's store (a move), the last window's
// store, a short store, the temporary's close and the replacement.
TEST_F(FileBufferTest, FailedSaveLeavesThePreviousFileAndNoTemporary) {
    struct Case {
        const char* what;
        void (*arm)();
        int32_t moveTaken;  // a move that cannot store its window refuses the write
    } cases[] = {
        {"first store", [] { fake::FailFileCall(fake::kFileWrite, 1); }, 0},
        {"last store", [] { fake::FailFileCall(fake::kFileWrite, 2); }, 1},
        {"short store", [] { fake::ShortenFileWrite(2, 2); }, 1},
        {"close", [] { fake::FailFileCall(fake::kFileClose, 1); }, 1},
        {"replace", [] { fake::FailFileCall(fake::kFileReplace, 1); }, 1},
    };
    std::string old = Pattern(3000, 7), big = Pattern(kMiB, 8);
    Write(Path("t"), old);
    for (const Case& c : cases) {
        for (const char* leaf : {"t", "new"}) {
            SCOPED_TRACE(std::string(c.what) + " on " + leaf);
            fake::ResetFiles();
            c.arm();
            ASSERT_EQ(fb->OpenForSaving(Path(leaf).c_str()), 1);
            EXPECT_EQ(fb->WriteAt(big.data(), kMiB, -1), 1);
            EXPECT_EQ(fb->WriteAt("more", 4, -1), c.moveTaken);
            EXPECT_EQ(fb->Close(), 0);
            EXPECT_TRUE(Read(Path("t")) == old);
            EXPECT_EQ(Listing(), std::vector<std::string>{"t"});
            EXPECT_EQ(fake::OpenFileCount(), 0);
        }
    }
}

TEST_F(FileBufferTest, FlushReportsAFailedStoreAndTheSaveStaysSpoilt) {
    Write(Path("t"), "old");
    ASSERT_EQ(fb->OpenForSaving(Path("t").c_str()), 1);
    fb->WriteAt("new", 3, 0);
    fake::FailFileCall(fake::kFileWrite, 1);
    EXPECT_EQ(fb->Flush(), 0);
    EXPECT_EQ(fb->Flush(), 1);  // the window kept its bytes
    EXPECT_EQ(fb->Close(), 0);  // but an earlier store failed
    EXPECT_EQ(Read(Path("t")), "old");

    // The temporary cannot be made: the target stays, or is not left behind when new.
    fake::FailFileCall(fake::kFileCreate, 1);
    fake::FailFileCall(fake::kFileCreate, 2);
    EXPECT_EQ(fb->OpenForSaving(Path("t").c_str()), 0);
    EXPECT_EQ(fb->OpenForSaving(Path("new").c_str()), 0);
    EXPECT_EQ(Read(Path("t")), "old");
    EXPECT_EQ(Listing(), std::vector<std::string>{"t"});
}

// A write the buffer itself refuses (too long for a window, past the 4 GiB offsets) leaves a
// hole in the file: the save is abandoned as if the disk had refused it.
TEST_F(FileBufferTest, ARefusedWriteAbandonsTheSave) {
    std::string big(kMiB + 1, 'b');
    Write(Path("t"), "old");
    for (const char* leaf : {"t", "new"}) {
        SCOPED_TRACE(leaf);
        ASSERT_EQ(fb->OpenForSaving(Path(leaf).c_str()), 1);
        EXPECT_EQ(fb->WriteAt("new", 3, -1), 1);
        EXPECT_EQ(fb->WriteAt(big.data(), kMiB + 1, -1), 0);
        EXPECT_EQ(fb->WriteAt("more", 4, -1), 1);
        EXPECT_EQ(fb->Close(), 0);
        EXPECT_EQ(Read(Path("t")), "old");
        EXPECT_EQ(Listing(), std::vector<std::string>{"t"});
    }
}

TEST_F(FileBufferTest, DestroyingAnOpenSaveAbandonsIt) {
    Write(Path("t"), "old");
    FileBuffer* other = new FileBuffer;
    ASSERT_EQ(fb->OpenForSaving(Path("t").c_str()), 1);
    ASSERT_EQ(other->OpenForSaving(Path("new").c_str()), 1);
    fb->WriteAt("new", 3, -1);
    fb->Flush();
    other->WriteAt("new", 3, -1);
    delete other;
    delete fb;
    fb = nullptr;
    EXPECT_EQ(Read(Path("t")), "old");
    EXPECT_EQ(Listing(), std::vector<std::string>{"t"});
}

TEST_F(FileBufferTest, SavesNeverTouchAUsersFileNamedLikeTheTemporaryNorLeaveATarget) {
    Write(Path("t.part~"), "mine");
    Write(Path("t.1.part~"), "mine too");
    ASSERT_EQ(fb->OpenForSaving(Path("t").c_str()), 1);
    fb->WriteAt("new", 3, -1);
    EXPECT_EQ(fb->Close(), 1);
    EXPECT_EQ(Read(Path("t")), "new");
    EXPECT_EQ(Read(Path("t.part~")), "mine");
    EXPECT_EQ(Read(Path("t.1.part~")), "mine too");
    EXPECT_EQ(Listing().size(), 3u);

    // A new save that fails leaves no target behind, also when nothing can be deleted.
    fake::FailFileCall(fake::kFileReplace, 1);
    fake::FailFileCall(fake::kFileDelete, 1);
    fake::FailFileCall(fake::kFileDelete, 2);
    ASSERT_EQ(fb->OpenForSaving(Path("new").c_str()), 1);
    fb->WriteAt("x", 1, -1);
    EXPECT_EQ(fb->Close(), 0);
    EXPECT_FALSE(std::filesystem::exists(Path("new")));
}

TEST_F(FileBufferTest, FilesOfTwoGibibytesAndMoreAreNotOpenedForReading) {
    // Sparse: no disk space is taken.
    for (uint64_t size : {(uint64_t(1) << 31) - 1, uint64_t(1) << 31, (uint64_t(1) << 32) + 60}) {
        SCOPED_TRACE(size);
        Write(Path("big"), "");
        ASSERT_EQ(truncate(Path("big").c_str(), off_t(size)), 0);
        EXPECT_EQ(fb->OpenForReading(Path("big").c_str()), size < (uint64_t(1) << 31) ? 1 : 0);
        fb->Close();
    }
}

}  // namespace
