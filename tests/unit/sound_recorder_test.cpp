// SoundRecorder over the fake wave devices, whose own threads fill and play the buffers, and the
// sound file over the host file service. A chain is inspected by playing it: the fake logs every
// buffer's length and every byte heard.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fake/fake_file.h"
#include "platform/fake/fake_wave.h"
#include "sound/sound_recorder.h"
#include "tests/common/folder_test.h"

namespace {

const uint32_t kBlock = SoundRecorder::kBlockSize;
const char kSignature[] = "Quorvatellianis";

std::vector<uint8_t> Pattern(uint64_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint64_t i = 0; i < count; ++i)
        bytes[i] = fake::PatternSample(i);
    return bytes;
}

// The bytes are the pattern's first `count` samples; names the first one that is not.
::testing::AssertionResult IsPattern(const std::vector<uint8_t>& bytes, uint64_t count) {
    if (bytes.size() != count)
        return ::testing::AssertionFailure() << bytes.size() << " bytes, expected " << count;
    for (uint64_t i = 0; i < count; ++i)
        if (bytes[i] != fake::PatternSample(i))
            return ::testing::AssertionFailure() << "sample " << i << " differs";
    return ::testing::AssertionSuccess();
}

struct Track {
    std::vector<uint32_t> lengths;  // one per block
    std::vector<uint8_t> bytes;
};

// Plays the whole chain and collects it; the played-out device closes at the next Stop.
Track PlayOut(SoundRecorder& recorder) {
    size_t written = fake::WrittenLengths().size();
    size_t played = fake::PlayedBytes().size();
    EXPECT_EQ(recorder.StartPlayback(), 1);
    // Time passes in stretches that end inside blocks, so a block that is not written ahead is
    // heard as a gap.
    for (int i = 0; i < 300 && recorder.IsPlaying(); ++i)
        EXPECT_TRUE(fake::RunWave(kBlock / 3 + 7));
    EXPECT_EQ(recorder.IsPlaying(), 0) << "playback never ended by itself";
    EXPECT_EQ(fake::OpenWaveDevices(), 1);
    recorder.Stop(0);
    EXPECT_EQ(fake::OpenWaveDevices(), 0);
    std::vector<uint32_t> lengths = fake::WrittenLengths();
    std::vector<uint8_t> bytes = fake::PlayedBytes();
    return Track{
        std::vector<uint32_t>(lengths.begin() + static_cast<ptrdiff_t>(written), lengths.end()),
        std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(played), bytes.end())};
}

// Records `bytes` samples of the pattern and stops.
void Capture(SoundRecorder& recorder, uint64_t bytes) {
    ASSERT_EQ(recorder.StartRecording(), 1);
    ASSERT_TRUE(fake::RunWave(bytes));
    recorder.Stop(0);
}

class SoundTest : public testkit::FolderTest {
  protected:
    void SetUp() override {
        fake::ResetWave();
        fake::ResetFiles();
    }
    void TearDown() override {
        recorder.reset();
        EXPECT_EQ(fake::OpenWaveDevices(), 0);
        for (const std::string& fault : fake::WaveFaults())
            ADD_FAILURE() << "wave service: " << fault;
        EXPECT_EQ(fake::LiveWaveBuffers(), 0);
        fake::ResetWave();
    }
    SoundRecorder& Make(const char* signature = kSignature) {
        recorder.reset(new SoundRecorder(signature));
        return *recorder;
    }
    // A journal file name in the test's folder; the sound file is this name with "_".
    std::string Journal() { return Path("rec.Jnf"); }

    std::unique_ptr<SoundRecorder> recorder;
};

typedef SoundTest SoundRecorderTest;
typedef SoundTest SoundFileTest;

TEST_F(SoundRecorderTest, ProbesBothDirectionsWithTheTrackFormat) {
    struct Case {
        uint32_t inputs, outputs;
        int inputOk, outputOk;
        int32_t available;
    } cases[] = {
        {1, 1, 1, 1, 1}, {1, 0, 1, 1, 0}, {0, 1, 1, 1, 0}, {2, 2, 1, 0, 0}, {2, 2, 0, 1, 0}};
    for (const Case& c : cases) {
        fake::SetWaveDevices(c.inputs, c.outputs);
        fake::SetWaveFormatSupport(c.inputOk, c.outputOk);
        EXPECT_EQ(Make().IsAvailable(), c.available) << c.inputs << c.outputs << c.inputOk;
    }
    platform::WaveFormat f = fake::LastWaveFormat();
    EXPECT_EQ(f.formatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.samplesPerSecond, 22050u);
    EXPECT_EQ(f.averageBytesPerSecond, 22050u);
    EXPECT_EQ(f.blockAlign, 1);
    EXPECT_EQ(f.bitsPerSample, 8);
}

TEST_F(SoundRecorderTest, ShortCaptureIsOneBlockOfWhatWasCaptured) {
    SoundRecorder& r = Make();
    Capture(r, 300000);
    EXPECT_EQ(r.IsRecording(), 0);
    EXPECT_EQ(r.HasSound(), 1);
    Track t = PlayOut(r);
    EXPECT_EQ(t.lengths, std::vector<uint32_t>({300000}));
    EXPECT_TRUE(IsPattern(t.bytes, 300000));
}

// 100 s of sound: the blocks follow each other without a lost or repeated sample, in both
// directions, and the playback device is closed after the chain ran out.
TEST_F(SoundRecorderTest, HundredSecondsCaptureAndPlayBackWithoutGaps) {
    std::atomic<int> onMainThread(0);
    std::thread::id main = std::this_thread::get_id();
    fake::SetWaveNotificationHook(
        [&](uint32_t) { onMainThread += std::this_thread::get_id() == main; });
    SoundRecorder& r = Make();
    Capture(r, 2205000);
    EXPECT_EQ(fake::DroppedCaptureBytes(), 0u);

    Track t = PlayOut(r);
    EXPECT_EQ(t.lengths, std::vector<uint32_t>({kBlock, kBlock, 107848}));
    EXPECT_TRUE(IsPattern(t.bytes, 2205000));
    EXPECT_EQ(fake::PlaybackGapBytes(), 0u);
    EXPECT_EQ(onMainThread.load(), 0);

    // Played out: idle with sound, a Stop changes nothing, and it plays again from the start.
    r.Stop(0);
    EXPECT_EQ(r.HasSound(), 1);
    EXPECT_TRUE(IsPattern(PlayOut(r).bytes, 2205000));
}

TEST_F(SoundRecorderTest, StopAtBlockBoundariesKeepsEveryCapturedSample) {
    struct Case {
        uint64_t captured;
        int held;  // the device's notifications wait, so full blocks are still unreported
        std::vector<uint32_t> lengths;
    } cases[] = {
        {0, 0, {0}},
        {1, 0, {1}},
        {kBlock - 1, 0, {kBlock - 1}},
        {kBlock, 0, {kBlock, 0}},
        {kBlock + 1, 0, {kBlock, 1}},
        {kBlock, 1, {kBlock}},
        {kBlock + 1000, 1, {kBlock, 1000}},
        {2 * kBlock, 1, {kBlock, kBlock}},
    };
    SoundRecorder& r = Make();
    for (const Case& c : cases) {
        fake::HoldWaveNotifications(c.held);
        Capture(r, c.captured);
        fake::HoldWaveNotifications(0);
        Track t = PlayOut(r);
        EXPECT_EQ(t.lengths, c.lengths) << c.captured << " held " << c.held;
        EXPECT_TRUE(IsPattern(t.bytes, c.captured)) << c.captured << " held " << c.held;
    }
}

// Stop while the notification of a full block is on its way: it must neither queue another block
// nor lose the block.
TEST_F(SoundRecorderTest, StopRacingANotification) {
    std::atomic<int> arrived(0);
    fake::SetWaveNotificationHook([&](uint32_t) {
        if (arrived++ == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    SoundRecorder& r = Make();
    ASSERT_EQ(r.StartRecording(), 1);
    fake::AdvanceWave(kBlock + 5000);
    while (arrived.load() == 0)
        std::this_thread::yield();
    r.Stop(0);
    Track t = PlayOut(r);
    ASSERT_FALSE(t.lengths.empty());
    EXPECT_EQ(t.lengths[0], kBlock);
    EXPECT_TRUE(IsPattern(t.bytes, t.bytes.size()));
}

// Stops at random moments of capture and playback, also against the end of the chain.
TEST_F(SoundRecorderTest, StopAtRandomMoments) {
    std::mt19937 random(7);
    SoundRecorder& r = Make();
    for (int round = 0; round < 12; ++round) {
        ASSERT_EQ(r.StartRecording(), 1);
        fake::AdvanceWave(kBlock * 5 / 2);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 120000));
        r.Stop(0);
        Track t = PlayOut(r);
        ASSERT_FALSE(t.lengths.empty());
        for (size_t i = 0; i + 1 < t.lengths.size(); ++i)
            EXPECT_EQ(t.lengths[i], kBlock) << "round " << round;
        EXPECT_TRUE(IsPattern(t.bytes, t.bytes.size())) << "round " << round;

        size_t before = fake::PlayedBytes().size();
        ASSERT_EQ(r.StartPlayback(), 1);
        fake::AdvanceWave(t.bytes.size() + 4410);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
        r.Stop(0);
        EXPECT_EQ(r.IsPlaying(), 0);
        EXPECT_EQ(fake::OpenWaveDevices(), 0);
        std::vector<uint8_t> heard = fake::PlayedBytes();
        heard.erase(heard.begin(), heard.begin() + static_cast<ptrdiff_t>(before));
        EXPECT_TRUE(IsPattern(heard, heard.size())) << "round " << round;
    }
    EXPECT_EQ(fake::DroppedCaptureBytes(), 0u);
}

TEST_F(SoundRecorderTest, RefusesWhileBusyAndClearsOnlyWhenIdle) {
    SoundRecorder& r = Make();
    EXPECT_EQ(r.StartPlayback(), 0);  // no sound
    r.Stop(0);                        // idle
    r.Clear();

    ASSERT_EQ(r.StartRecording(), 1);
    EXPECT_EQ(r.StartRecording(), 0);
    EXPECT_EQ(r.StartPlayback(), 0);
    r.Clear();
    EXPECT_EQ(r.HasSound(), 1);
    ASSERT_TRUE(fake::RunWave(5000));
    r.Stop(0);

    ASSERT_EQ(r.StartPlayback(), 1);
    EXPECT_EQ(r.StartRecording(), 0);
    r.Clear();
    EXPECT_EQ(r.HasSound(), 1);
    ASSERT_TRUE(fake::RunWave(2000));
    EXPECT_EQ(r.IsPlaying(), 1);  // still going after the refusals
    r.Stop(0);
    EXPECT_TRUE(IsPattern(fake::PlayedBytes(), 2000));

    r.Clear();
    EXPECT_EQ(r.HasSound(), 0);
}

TEST_F(SoundRecorderTest, DeviceFailures) {
    SoundRecorder& r = Make();
    Capture(r, 100);

    // A failed open drops the held sound all the same.
    fake::FailWaveCall(fake::kWaveInOpen, 1);
    EXPECT_EQ(r.StartRecording(), 0);
    EXPECT_EQ(r.IsRecording(), 0);
    EXPECT_EQ(r.HasSound(), 0);

    // A failed start leaves the device open until Stop.
    fake::FailWaveCall(fake::kWaveInStart, 1);
    EXPECT_EQ(r.StartRecording(), 0);
    EXPECT_EQ(r.IsRecording(), 1);
    r.Stop(0);
    EXPECT_EQ(r.IsRecording(), 0);

    // Without a position the counts come from the buffers themselves.
    fake::FailWaveCall(fake::kWaveInPosition, 1);
    Capture(r, kBlock + 300);
    EXPECT_TRUE(IsPattern(PlayOut(r).bytes, kBlock + 300));

    // No memory for the first block: nothing to capture into.
    fake::FailWaveCall(fake::kWaveAllocate, 1);
    EXPECT_EQ(r.StartRecording(), 0);
    EXPECT_EQ(r.IsRecording(), 0);
    EXPECT_EQ(fake::OpenWaveDevices(), 0);

    // No memory for the third block: the capture ends with the two it has.
    fake::FailWaveCall(fake::kWaveAllocate, 3);
    Capture(r, 3 * kBlock);
    Track t = PlayOut(r);
    EXPECT_EQ(t.lengths, std::vector<uint32_t>({kBlock, kBlock}));
    EXPECT_TRUE(IsPattern(t.bytes, 2 * kBlock));

    // An output that refuses a block skips it and still ends.
    fake::FailWaveCall(fake::kWaveOutQueue, 1);
    EXPECT_EQ(PlayOut(r).lengths, std::vector<uint32_t>({kBlock}));
}

// A reset the driver refuses leaves the buffers with it: none may be released or freed, and the
// device is asked again.
TEST_F(SoundRecorderTest, ARefusedCaptureResetIsTriedAgain) {
    SoundRecorder& r = Make();
    ASSERT_EQ(r.StartRecording(), 1);
    ASSERT_TRUE(fake::RunWave(kBlock + 100));
    fake::FailWaveCall(fake::kWaveInReset, 1);
    r.Stop(0);
    EXPECT_EQ(r.IsRecording(), 0);
    EXPECT_EQ(fake::OpenWaveDevices(), 0);
    Track t = PlayOut(r);
    EXPECT_EQ(t.lengths, std::vector<uint32_t>({kBlock, 100}));
}

TEST_F(SoundRecorderTest, EmptyLastBlockPlaysOutAtOnce) {
    SoundRecorder& r = Make();
    Capture(r, 0);
    // Written with nothing ahead of it, the empty block completes inside the write itself.
    ASSERT_EQ(r.StartPlayback(), 1);
    EXPECT_EQ(r.IsPlaying(), 0);
    EXPECT_EQ(fake::OpenWaveDevices(), 1);  // closed by the capture's start below

    Capture(r, kBlock);
    EXPECT_EQ(PlayOut(r).lengths, std::vector<uint32_t>({kBlock, 0}));
}

TEST_F(SoundRecorderTest, DestroyedWhileRunningStopsFirst) {
    Make().StartRecording();
    fake::AdvanceWave(kBlock * 2);
    recorder.reset();
    EXPECT_EQ(fake::OpenWaveDevices(), 0);

    SoundRecorder& r = Make();
    Capture(r, kBlock + 10);
    r.StartPlayback();
    fake::AdvanceWave(kBlock);
    recorder.reset();
    EXPECT_EQ(fake::OpenWaveDevices(), 0);
}

// ---- The sound file ----

TEST_F(SoundFileTest, SavesSignatureZeroAndTheSound) {
    SoundRecorder& r = Make();
    Capture(r, 300000);
    std::string journal = Journal();
    ASSERT_EQ(r.Save(journal.c_str()), 1);
    std::string file = Read(journal + "_");
    ASSERT_EQ(file.size(), 300016u);
    EXPECT_EQ(file.substr(0, 16), std::string("Quorvatellianis\0", 16));
    std::vector<uint8_t> sound(file.begin() + 16, file.end());
    EXPECT_TRUE(IsPattern(sound, 300000));

    // Saved again with less: replaced, not appended to.
    Capture(r, 10);
    ASSERT_EQ(r.Save(journal.c_str()), 1);
    EXPECT_EQ(Read(journal + "_").size(), 26u);

    // Without a signature of its own the recorder uses the default one.
    SoundRecorder& plain = Make("");
    Capture(plain, 10);
    ASSERT_EQ(plain.Save(journal.c_str()), 1);
    EXPECT_EQ(Read(journal + "_"),
              std::string("Pellomar v1.0\0", 14) +
                  std::string(reinterpret_cast<const char*>(Pattern(10).data()), 10));
}

TEST_F(SoundFileTest, RoundTripCutsTheTrackIntoFullBlocks) {
    std::string journal = Journal();
    struct Case {
        uint64_t captured;
        std::vector<uint32_t> loaded;
    } cases[] = {{2205000, {kBlock, kBlock, 107848}}, {kBlock, {kBlock}}, {0, {}}};
    for (const Case& c : cases) {
        Capture(Make(), c.captured);
        ASSERT_EQ(recorder->Save(journal.c_str()), 1);
        SoundRecorder& loaded = Make();
        ASSERT_EQ(loaded.Load(journal.c_str()), 1);
        EXPECT_EQ(loaded.HasSound(), c.loaded.empty() ? 0 : 1);
        if (c.loaded.empty())
            continue;
        Track t = PlayOut(loaded);
        EXPECT_EQ(t.lengths, c.loaded);
        EXPECT_TRUE(IsPattern(t.bytes, c.captured));
    }
}

TEST_F(SoundFileTest, RefusalsChangeNothing) {
    std::string journal = Journal();
    SoundRecorder& r = Make();
    EXPECT_EQ(r.Save(journal.c_str()), 0);  // no sound
    ASSERT_EQ(r.StartRecording(), 1);
    EXPECT_EQ(r.Save(journal.c_str()), 0);
    EXPECT_EQ(r.Load(journal.c_str()), 0);
    ASSERT_TRUE(fake::RunWave(1000));
    r.Stop(0);
    EXPECT_EQ(r.Save(""), 0);
    EXPECT_EQ(r.Load(""), 0);
    ASSERT_EQ(r.StartPlayback(), 1);
    EXPECT_EQ(r.Save(journal.c_str()), 0);
    EXPECT_EQ(r.Load(journal.c_str()), 0);
    r.Stop(0);
    EXPECT_FALSE(std::filesystem::exists(journal + "_"));
    EXPECT_EQ(r.HasSound(), 1);

    // A missing file: 0, and the sound held before is gone.
    EXPECT_EQ(r.Load(journal.c_str()), 0);
    EXPECT_EQ(r.HasSound(), 0);
}

TEST_F(SoundFileTest, ForeignOrShortFilesLoadAsNoSound) {
    std::string journal = Journal();
    const std::string cases[] = {
        std::string("Other signatur\0sound", 20),
        std::string("Quorvatellianis\0", 16),  // header only
        std::string("Quorvatellianis", 15),    // no zero byte
        std::string("Quorv", 5),
        std::string(),
    };
    for (const std::string& content : cases) {
        SoundRecorder& r = Make();
        Capture(r, 100);
        Write(journal + "_", content);
        EXPECT_EQ(r.Load(journal.c_str()), 1) << content.size();
        EXPECT_EQ(r.HasSound(), 0) << content.size();
        EXPECT_EQ(r.StartPlayback(), 0);
    }
}

TEST_F(SoundFileTest, FailuresReportZeroAndKeepThePreviousFile) {
    std::string journal = Journal();
    SoundRecorder& r = Make();
    Capture(r, 5000);
    ASSERT_EQ(r.Save(journal.c_str()), 1);
    std::string before = Read(journal + "_");

    Capture(r, 7000);
    fake::FailFileCall(fake::kFileWrite, 1);
    EXPECT_EQ(r.Save(journal.c_str()), 0);
    EXPECT_EQ(Read(journal + "_"), before);

    // No memory for a block: no partial track.
    fake::FailWaveCall(fake::kWaveAllocate, 1);
    EXPECT_EQ(r.Load(journal.c_str()), 0);
    EXPECT_EQ(r.HasSound(), 0);

    // A loaded track is dropped by a start on a machine without input.
    fake::SetWaveDevices(0, 1);
    SoundRecorder& deaf = Make();
    ASSERT_EQ(deaf.Load(journal.c_str()), 1);
    EXPECT_EQ(deaf.StartRecording(), 0);
    EXPECT_EQ(deaf.HasSound(), 0);
    EXPECT_EQ(fake::OpenFileCount(), 0);
}

}  // namespace
