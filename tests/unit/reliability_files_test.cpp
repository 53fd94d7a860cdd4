// Saves and loads of both files under every failure the file service can report, one call at a
// time: whatever fails, the file on disk is either the previous one, byte for byte, or the
// complete new one; no temporary is left beside it and no handle stays open. Loads that fail
// keep (journal) or drop (sound) what was held, never a part of the file. Inputs found by the
// loaders' fuzz targets are pinned at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "journal/journal_recorder.h"
#include "platform/fake/fake_file.h"
#include "platform/fake/fake_wave.h"
#include "platform/fake/fake_window.h"
#include "sound/sound_recorder.h"
#include "tests/common/folder_test.h"
#include "tests/common/journal_image.h"

namespace {

const char kSignature[] = "Quorvatellianis";
// Enough events for the journal to fill two write windows and start a third.
const uint32_t kManyEvents = 110000;
// A track of one full block and half of a second: three stores (header, block, rest).
const uint32_t kTrackBytes = SoundRecorder::kBlockSize + SoundRecorder::kBlockSize / 2;

intptr_t IgnoreMessages(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

// One way for a call to fail: its kind, and how to arm it for the nth call from now.
struct Fault {
    const char* name;
    fake::FileCall call;
    std::function<void(int nth)> arm;
    // Whether every failure of this kind must fail the save. The second close is the target's,
    // held only as a lock and never written: its failure may pass.
    bool alwaysFatal;
};

std::vector<Fault> SaveFaults() {
    auto fail = [](fake::FileCall call) {
        return [call](int nth) { fake::FailFileCall(call, nth); };
    };
    return {
        {"open the target", fake::kFileOpen, fail(fake::kFileOpen), true},
        {"create the temporary", fake::kFileCreate, fail(fake::kFileCreate), true},
        {"write", fake::kFileWrite, fail(fake::kFileWrite), true},
        {"short write", fake::kFileWrite, [](int nth) { fake::ShortenFileWrite(nth, 7); }, true},
        {"close", fake::kFileClose, fail(fake::kFileClose), false},
        {"replace", fake::kFileReplace, fail(fake::kFileReplace), true},
    };
}

class FileFaultTest : public testkit::FolderTest {
  protected:
    void SetUp() override {
        fake::ResetWindows();
        fake::ResetFiles();
        fake::ResetWave();
    }
    void TearDown() override {
        fake::ResetFiles();
        EXPECT_EQ(0, fake::OpenFileCount());
    }

    // Runs `save` with each fault armed for the 1st, 2nd, ... call of its kind until the fault
    // no longer fires. `target` holds `previous` before each attempt (absent when empty); after
    // it, the target holds `previous` (or is absent) when the save said 0, and `complete` when
    // it said 1. `others` lists the files besides the target that must be there throughout.
    void SaveUnderEveryFault(const std::function<int32_t()>& save, const std::string& target,
                             const std::string& previous, const std::string& complete,
                             std::vector<std::string> others) {
        std::string leaf = std::filesystem::path(target).filename().string();
        std::vector<std::string> withTarget = others, withoutTarget = others;
        withTarget.push_back(leaf);
        std::sort(withTarget.begin(), withTarget.end());
        for (const Fault& fault : SaveFaults()) {
            for (int nth = 1;; nth++) {
                SCOPED_TRACE(std::string(fault.name) + " #" + std::to_string(nth) + " on " + leaf);
                if (previous.empty())
                    std::filesystem::remove(target);
                else
                    Write(target, previous);
                fake::ResetFiles();
                fault.arm(nth);
                int32_t saved = save();
                bool fired = fake::FileCallCount(fault.call) >= nth;
                EXPECT_EQ(0, fake::OpenFileCount());
                if (saved) {
                    EXPECT_TRUE(Read(target) == complete) << "a save said 1 but wrote other bytes";
                    EXPECT_EQ(withTarget, Listing());
                } else {
                    EXPECT_TRUE(fired) << "a save failed with no fault";
                    if (previous.empty()) {
                        EXPECT_EQ(withoutTarget, Listing());
                    } else {
                        EXPECT_TRUE(Read(target) == previous) << "the previous file was damaged";
                        EXPECT_EQ(withTarget, Listing());
                    }
                }
                if (fired && fault.alwaysFatal) {
                    // Only the target's close, never written, may fail unnoticed.
                    EXPECT_EQ(0, saved) << "a failed call went unnoticed";
                }
                if (!fired) {
                    EXPECT_EQ(1, saved);
                    EXPECT_GT(nth, 1) << fault.name << " never happened";
                    break;
                }
                if (nth > 50) {
                    ADD_FAILURE() << "the fault never stopped firing";
                    break;
                }
            }
        }
        fake::ResetFiles();
        std::filesystem::remove(target);
    }
};

class JournalFaultTest : public FileFaultTest {
  protected:
    void SetUp() override {
        FileFaultTest::SetUp();
        platform::RegisterMainWindowClass(nullptr, "Test", IgnoreMessages, 0, 0);
        recorder = new JournalRecorder(nullptr, platform::CreateHiddenWindow(nullptr, "Test"), 7,
                                       kSignature);
    }
    void TearDown() override {
        delete recorder;
        FileFaultTest::TearDown();
    }
    void Record(uint32_t count, uint32_t seed) {
        ASSERT_EQ(1, recorder->StartRecording());
        for (uint32_t i = 0; i < count; i++)
            fake::RecordEvent({0x100 + (i & 1), seed + i, i * 3, 1000 + i, seed});
        ASSERT_EQ(1, recorder->Stop());
    }
    // The held events, as a fingerprint cheap to compare.
    std::vector<uint32_t> Held() const {
        std::vector<uint32_t> values;
        for (const JournalEvent* e = recorder->GetHead(); e; e = e->next)
            values.insert(values.end(), {e->record.message, e->record.paramL, e->record.paramH,
                                         e->record.time, e->record.hwnd});
        return values;
    }

    JournalRecorder* recorder = nullptr;
};

TEST_F(JournalFaultTest, EveryFailingCallOfASaveKeepsThePreviousFile) {
    Record(3, 77);
    ASSERT_EQ(1, recorder->Save(Path("old.Jnf").c_str()));
    std::string previous = Read(Path("old.Jnf"));
    std::filesystem::remove(Path("old.Jnf"));

    Record(kManyEvents, 5);
    ASSERT_EQ(1, recorder->Save(Path("good.Jnf").c_str()));
    std::string complete = Read(Path("good.Jnf"));
    ASSERT_EQ(40u + 20u * kManyEvents, complete.size());
    std::filesystem::remove(Path("good.Jnf"));
    std::vector<uint32_t> held = Held();

    for (const char* leaf : {"keep.Jnf", "new.Jnf"}) {
        std::string target = Path(leaf);
        SaveUnderEveryFault([&] { return recorder->Save(target.c_str()); }, target,
                            leaf[0] == 'k' ? previous : std::string(), complete, {});
    }
    EXPECT_TRUE(Held() == held) << "a save changed the recording";
}

TEST_F(JournalFaultTest, ALoadThatCannotReadEveryRecordKeepsTheHeldRecording) {
    Record(kManyEvents, 9);
    ASSERT_EQ(1, recorder->Save(Path("big.Jnf").c_str()));
    std::vector<uint32_t> big = Held();
    Record(2, 500);
    std::vector<uint32_t> small = Held();

    for (fake::FileCall call : {fake::kFileOpen, fake::kFileRead}) {
        for (int nth = 1;; nth++) {
            SCOPED_TRACE(std::to_string(call) + " #" + std::to_string(nth));
            fake::ResetFiles();
            fake::FailFileCall(call, nth);
            int32_t loaded = recorder->Load(Path("big.Jnf").c_str());
            EXPECT_EQ(0, fake::OpenFileCount());
            if (fake::FileCallCount(call) < nth) {
                EXPECT_EQ(1, loaded);
                EXPECT_TRUE(Held() == big);
                Record(2, 500);
                break;
            }
            EXPECT_EQ(0, loaded);
            ASSERT_TRUE(Held() == small) << "a failed load changed the recording";
        }
    }
}

class SoundFaultTest : public FileFaultTest {
  protected:
    void TearDown() override {
        recorder.reset();
        EXPECT_EQ(0, fake::LiveWaveBuffers());
        EXPECT_TRUE(fake::WaveFaults().empty());
        FileFaultTest::TearDown();
    }
    // A sound file of this program holding `length` bytes of sound that start at `seed`.
    std::string SoundFile(uint32_t length, uint8_t seed) {
        std::string bytes(kSignature, sizeof kSignature);
        for (uint32_t i = 0; i < length; i++)
            bytes += char(seed + i * 7 + (i >> 9));
        return bytes;
    }

    std::unique_ptr<SoundRecorder> recorder{new SoundRecorder(kSignature)};
};

TEST_F(SoundFaultTest, EveryFailingCallOfASaveKeepsThePreviousFile) {
    std::string previous = SoundFile(5000, 1);
    std::string complete = SoundFile(kTrackBytes, 2);
    Write(Path("source.Jnf_"), complete);
    ASSERT_EQ(1, recorder->Load(Path("source.Jnf").c_str()));
    ASSERT_EQ(2, fake::LiveWaveBuffers());

    for (const char* leaf : {"keep.Jnf", "new.Jnf"}) {
        std::string journal = Path(leaf);
        SaveUnderEveryFault([&] { return recorder->Save(journal.c_str()); }, journal + "_",
                            leaf[0] == 'k' ? previous : std::string(), complete, {"source.Jnf_"});
    }
    EXPECT_EQ(2, fake::LiveWaveBuffers());
}

TEST_F(SoundFaultTest, ALoadThatCannotReadEveryByteHoldsNoSound) {
    std::string file = SoundFile(kTrackBytes, 3);
    Write(Path("rec.Jnf_"), file);
    for (fake::FileCall call : {fake::kFileOpen, fake::kFileRead}) {
        for (int nth = 1;; nth++) {
            SCOPED_TRACE(std::to_string(call) + " #" + std::to_string(nth));
            fake::ResetFiles();
            fake::FailFileCall(call, nth);
            int32_t loaded = recorder->Load(Path("rec.Jnf").c_str());
            EXPECT_EQ(0, fake::OpenFileCount());
            if (fake::FileCallCount(call) < nth) {
                EXPECT_EQ(1, loaded);
                EXPECT_EQ(2, fake::LiveWaveBuffers());
                break;
            }
            // Whichever read failed, no sound is held.
            EXPECT_EQ(0, recorder->HasSound()) << "a part of the track was kept";
            EXPECT_EQ(0, fake::LiveWaveBuffers());
        }
    }
    // The complete track saves back to the same bytes.
    fake::ResetFiles();
    ASSERT_EQ(1, recorder->Save(Path("copy.Jnf").c_str()));
    EXPECT_TRUE(Read(Path("copy.Jnf_")) == file);
}

// ---- Inputs found by the fuzz targets ----

TEST_F(JournalFaultTest, FilesShorterThanTheHeaderAreRefused) {
    // 39 bytes claiming a 39-byte header and no records: the loader used to read the missing
    // fortieth byte as zero and accept the file as an empty journal, dropping the recording.
    std::string bytes = testkit::JournalImage({}, {.headerSize = 39, .recordSize = 0x2814});
    Record(2, 40);
    std::vector<uint32_t> held = Held();
    for (size_t length = 39; length >= 17; length--) {
        SCOPED_TRACE(length);
        bytes.resize(length);
        bytes[16] = char(length);
        Write(Path("short.Jnf"), bytes);
        EXPECT_EQ(0, recorder->Load(Path("short.Jnf").c_str()));
        EXPECT_TRUE(Held() == held);
    }
}

}  // namespace
