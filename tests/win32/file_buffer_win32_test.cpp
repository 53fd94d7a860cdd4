// FileBuffer against real files through CreateFileA: the windows as stored on disk, sharing,
// read-only targets and saves that replace their target only at Close.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "storage/file_buffer.h"
#include "tests/common/bytes.h"

namespace {

namespace fs = std::filesystem;
const uint32_t kMiB = FileBuffer::kWindowSize;

class FileBufferWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
        dir = std::string(temp) + "fbtest" + std::to_string(GetCurrentProcessId());
        fs::remove_all(dir);
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    }
    void TearDown() override {
        delete fb;
        for (const std::string& leaf : Listing()) {
            SetFileAttributesA(Path(leaf).c_str(), FILE_ATTRIBUTE_NORMAL);
            EXPECT_TRUE(DeleteFileA(Path(leaf).c_str())) << leaf << " still open";
        }
        RemoveDirectoryA(dir.c_str());
    }
    std::string Path(const std::string& leaf) const { return dir + "\\" + leaf; }
    void Put(const char* leaf, const std::string& content) const {
        std::ofstream(Path(leaf), std::ios::binary) << content;
    }
    std::string Get(const char* leaf) const {
        std::ifstream in(Path(leaf), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    std::string dir;
    FileBuffer* fb = new FileBuffer;
};

TEST_F(FileBufferWin32Test, ReadWindowServesFileBytesThenZeros) {
    std::string content = Pattern(kMiB + 100, 1);
    Put("a", content);
    ASSERT_EQ(fb->OpenForReading(Path("a").c_str()), 1);
    EXPECT_EQ(fb->GetSize(), kMiB + 100);
    EXPECT_EQ(Bytes(fb->ReadAt(40, -1), 40), content.substr(0, 40));
    EXPECT_EQ(Bytes(fb->ReadAt(100, -1), 100), content.substr(kMiB));
    EXPECT_EQ(Bytes(fb->ReadAt(20, kMiB + 90), 20), content.substr(kMiB + 90) + std::string(10, 0));
    EXPECT_EQ(fb->ReadAt(kMiB + 1, 0), nullptr);
    EXPECT_TRUE(Bytes(fb->ReadAt(kMiB, 0), kMiB) == content.substr(0, kMiB));
    EXPECT_EQ(fb->Close(), 1);

    EXPECT_EQ(fb->OpenForReading(Path("missing").c_str()), 0);
    EXPECT_STREQ(fb->GetFileName(), Path("missing").c_str());
    EXPECT_EQ(fb->OpenForSaving(Path("no\\folder").c_str()), 0);
}

TEST_F(FileBufferWin32Test, WritesReachTheDiskWholeAndInOrder) {
    std::string header = Pattern(40, 2), records;
    ASSERT_EQ(fb->OpenForSaving(Path("j").c_str()), 1);
    fb->WriteAt(header.data(), 40, 0);
    for (uint32_t i = 0; i < (kMiB - 40) / 20 + 2; ++i) {
        std::string record = Pattern(20, static_cast<int>(i));
        records += record;
        ASSERT_EQ(fb->WriteAt(record.data(), 20, -1), 1);
    }
    EXPECT_EQ(fb->GetSize(), kMiB - 16);  // the move stored the first window; the rest waits
    EXPECT_EQ(fb->WriteAt("Y", 1, kMiB + 40), 1);  // leaves a gap of zeros
    // An overwrite at the window's start keeps the bytes written after it.
    EXPECT_EQ(fb->WriteAt("X", 1, kMiB - 16), 1);
    EXPECT_EQ(fb->Close(), 1);
    records[kMiB - 56] = 'X';
    EXPECT_TRUE(Get("j") == header + records + std::string(16, 0) + "Y");
}

TEST_F(FileBufferWin32Test, SaveReplacesTheLockedTargetOnlyAtClose) {
    Put("t", "old and longer content");
    ASSERT_EQ(fb->OpenForSaving(Path("t").c_str()), 1);
    fb->WriteAt("new", 3, 0);
    EXPECT_EQ(fb->Flush(), 1);
    EXPECT_EQ(fb->GetSize(), 3u);
    HANDLE reader = CreateFileA(Path("t").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    FileBuffer* other = new FileBuffer;
    EXPECT_EQ(other->OpenForSaving(Path("t").c_str()), 0);
    EXPECT_EQ(fb->Close(), 1);
    EXPECT_EQ(Get("t"), "new");

    // Destroyed while open, a save leaves an existing target as it was and a new one absent.
    ASSERT_EQ(fb->OpenForSaving(Path("t").c_str()), 1);
    ASSERT_EQ(other->OpenForSaving(Path("new").c_str()), 1);
    fb->WriteAt("newer", 5, 0);
    fb->Flush();
    other->WriteAt("new", 3, 0);
    delete other;
    delete fb;
    fb = new FileBuffer;
    EXPECT_EQ(Get("t"), "new");
    EXPECT_EQ(Listing(), std::vector<std::string>{"t"});

    SetFileAttributesA(Path("t").c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE writer =
        CreateFileA(Path("t").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {  // Wine run as root does not enforce read-only files
        CloseHandle(writer);
    } else {
        EXPECT_EQ(fb->OpenForSaving(Path("t").c_str()), 0);
        EXPECT_EQ(Listing(), std::vector<std::string>{"t"});
    }
}

TEST_F(FileBufferWin32Test, FileSameKnowsAFileByAnySpelling) {
    Put("rec.Jnf", "journal");
    Put("other", "journal");
    const struct {
        std::string path;
        int same;
    } kCases[] = {
        {Path("rec.Jnf"), 1}, {Path("REC.JNF"), 1}, {dir + "\\.\\rec.jnf", 1},
        {Path("other"), 0},   {Path("missing"), 0},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.same, platform::FileSame(Path("rec.Jnf").c_str(), c.path.c_str())) << c.path;
}

// A name outside the system's code page is the file the user meant, through every call.
TEST_F(FileBufferWin32Test, NamesInAnyScriptReachTheDiskAsTheyAre) {
    const std::string leaf = "\xE9\x8C\xB2\xE9\x9F\xB3\xCE\xA9\xD1\x8F.Jnf";  // 録音Ωя.Jnf
    const std::wstring wideLeaf = L"\u9332\u97f3\u03a9\u044f.Jnf";
    const std::string path = Path(leaf);
    for (const char* content : {"one", "two"}) {  // made, then replaced
        ASSERT_EQ(fb->OpenForSaving(path.c_str()), 1);
        fb->WriteAt(content, 3, 0);
        ASSERT_EQ(fb->Close(), 1);
        ASSERT_EQ(fb->OpenForReading(path.c_str()), 1);
        EXPECT_EQ(Bytes(fb->ReadAt(3, 0), 3), content);
        fb->Close();
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((fs::path(dir) / wideLeaf).c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(std::wstring(found.cFileName), wideLeaf);
    uint64_t written = 0;
    EXPECT_TRUE(FileBuffer::GetModifiedTime(path.c_str(), &written));
    EXPECT_EQ(platform::FileLookUp(path.c_str()), platform::kPathFile);
    EXPECT_EQ(platform::FileSame(path.c_str(), path.c_str()), 1);
    EXPECT_TRUE(FileBuffer::Remove(path.c_str()));
    EXPECT_TRUE(Listing().empty());
}

// A virus scanner or an indexer holds a file it has just seen for a moment, with whatever
// sharing it chooses: neither a save nor a load may fail for that.
TEST_F(FileBufferWin32Test, SavesAndLoadsWaitOutAMomentaryHolder) {
    const DWORD kShares[] = {FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_SHARE_READ, 0};
    for (DWORD share : kShares) {
        for (bool save : {true, false}) {
            SCOPED_TRACE(std::to_string(share) + (save ? " save" : " load"));
            Put("t", "old");
            HANDLE holder = CreateFileA(Path("t").c_str(), GENERIC_READ, share, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(holder, INVALID_HANDLE_VALUE);
            std::thread release([holder] {
                Sleep(300);
                CloseHandle(holder);
            });
            if (save) {
                EXPECT_EQ(fb->OpenForSaving(Path("t").c_str()), 1);
                fb->WriteAt("new", 3, 0);
            } else {
                EXPECT_EQ(fb->OpenForReading(Path("t").c_str()), 1);
                EXPECT_EQ(Bytes(fb->ReadAt(3, 0), 3), "old");
            }
            EXPECT_EQ(fb->Close(), 1);
            release.join();
            EXPECT_EQ(Get("t"), save ? "new" : "old");
        }
    }
}

// A virus scanner or an indexer opens a freshly written file for a moment, without letting
// others delete or rename it meanwhile.
TEST_F(FileBufferWin32Test, ReplaceWaitsOutAMomentaryHolderAndKeepsTheTargetsAttributes) {
    for (const char* held : {"t", "t.part~"}) {
        SCOPED_TRACE(held);
        Put("t", "old");
        SetFileAttributesA(Path("t").c_str(), FILE_ATTRIBUTE_HIDDEN);
        Put("t.part~", "new");
        HANDLE holder =
            CreateFileA(Path(held).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        std::thread release([holder] {
            Sleep(300);
            CloseHandle(holder);
        });
        EXPECT_EQ(platform::FileReplace(Path("t.part~").c_str(), Path("t").c_str()), 1);
        release.join();
        EXPECT_EQ(Get("t"), "new");
        EXPECT_TRUE(GetFileAttributesA(Path("t").c_str()) & FILE_ATTRIBUTE_HIDDEN);
        EXPECT_EQ(Listing(), std::vector<std::string>{"t"});
    }
    // A holder that stays makes the replace fail, with both files as they were.
    Put("t.part~", "newer");
    HANDLE holder = CreateFileA(Path("t").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(platform::FileReplace(Path("t.part~").c_str(), Path("t").c_str()), 0);
    CloseHandle(holder);
    EXPECT_EQ(Get("t"), "new");
    EXPECT_EQ(Get("t.part~"), "newer");
}

}  // namespace

// A listener on the system's debug-output buffer, as a debug viewer sets one up: what a refused
// save tells it names the call and the system's reason.
TEST_F(FileBufferWin32Test, ARefusedSaveTellsAListenerTheCallAndWhy) {
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    HANDLE bufferReady = CreateEventA(nullptr, FALSE, TRUE, "DBWIN_BUFFER_READY");
    HANDLE dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    ASSERT_TRUE(mapping && bufferReady && dataReady);
    const char* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_TRUE(view);

    std::string target = Path("missing\\out.Jnf");
    EXPECT_FALSE(fb->OpenForSaving(target.c_str()));
    ASSERT_EQ(WaitForSingleObject(dataReady, 5000), WAIT_OBJECT_0) << "nothing was reported";
    std::string report(view + sizeof(DWORD));
    SetEvent(bufferReady);
    EXPECT_NE(report.find("CreateFileW(\"" + Path("missing\\out.Jnf")), std::string::npos)
        << report;
    EXPECT_NE(report.find("error 3 ("), std::string::npos) << report;  // the path was not found

    UnmapViewOfFile(view);
    CloseHandle(dataReady);
    CloseHandle(bufferReady);
    CloseHandle(mapping);
}
