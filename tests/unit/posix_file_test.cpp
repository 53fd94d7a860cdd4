// The POSIX file service that the Linux journal tool ships with, under the file buffer's saves
// and reads: the refusals a save relies on, on real files.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "storage/file_buffer.h"
#include "tests/common/folder_test.h"

namespace {

class PosixFileTest : public testkit::FolderTest {};

TEST_F(PosixFileTest, SavesReplaceWholeOrNotAtAll) {
    const struct {
        const char* name;
        mode_t mode;       // of the existing target; 0 for none
        const char* path;  // relative to the folder
        bool saved;
    } kCases[] = {
        {"over a file, keeping its permissions", 0640, "out", true},
        {"a new file", 0, "out", true},
        {"over a read-only file", 0444, "out", false},
        {"into a missing folder", 0, "none/out", false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string path = Path(c.path);
        if (c.mode) {
            Write(path, "old");
            chmod(path.c_str(), c.mode);
        }
        FileBuffer buffer;
        EXPECT_EQ(c.saved, buffer.OpenForSaving(path.c_str()) &&
                               buffer.WriteAt("new bytes", 9, 0) && buffer.Close());
        EXPECT_EQ(c.saved ? "new bytes" : c.mode ? "old" : "", Read(path));
        struct stat st;
        EXPECT_TRUE(!c.mode || (stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == c.mode));
        std::vector<std::string> left;
        if (c.saved || c.mode)
            left.push_back("out");
        EXPECT_EQ(left, Listing()) << "no temporary is left";
        std::filesystem::remove(path);
    }
}

TEST_F(PosixFileTest, OnlyRegularFilesAreRead) {
    Write(Path("file"), "bytes");
    mkfifo(Path("pipe").c_str(), 0600);  // an open would wait for a writer
    FileBuffer buffer;
    EXPECT_TRUE(buffer.OpenForReading(Path("file").c_str()));
    EXPECT_FALSE(buffer.OpenForReading(folder.c_str()));
    EXPECT_FALSE(buffer.OpenForReading(Path("pipe").c_str()));
    EXPECT_FALSE(buffer.OpenForReading(Path("missing").c_str()));
}

}  // namespace
