// The Win32 wave service on the real devices (under the harness: PulseAudio's null sink), and the
// sound recorder on top of it.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wave.h"
#include "sound/sound_recorder.h"

namespace {

const platform::WaveFormat kFormat = {WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8};

struct Seen {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<uint32_t> messages;
    DWORD doneThread = 0;
    platform::WaveHeader* refill = nullptr;  // queue this from inside the first WIM_DATA
} seen;

void Record(void* device, uint32_t message, uintptr_t param1, uintptr_t) {
    std::lock_guard<std::mutex> lk(seen.lock);
    seen.messages.push_back(message);
    if (message == WIM_DATA || message == WOM_DONE)
        seen.doneThread = GetCurrentThreadId();
    if (message == WIM_DATA && seen.refill) {
        // As the recorder does: the next buffer is handed over from inside the notification.
        platform::WaveIn in = static_cast<platform::WaveIn>(device);
        platform::WaveInRelease(in, reinterpret_cast<platform::WaveHeader*>(param1));
        platform::WaveInQueue(in, seen.refill);
        seen.refill = nullptr;
    }
    seen.changed.notify_all();
}

bool WaitFor(uint32_t message, int times = 1) {
    std::unique_lock<std::mutex> lk(seen.lock);
    return seen.changed.wait_for(lk, std::chrono::seconds(10), [&] {
        int found = 0;
        for (uint32_t m : seen.messages)
            found += m == message;
        return found >= times;
    });
}

int Count(uint32_t message) {
    std::lock_guard<std::mutex> lk(seen.lock);
    int found = 0;
    for (uint32_t m : seen.messages)
        found += m == message;
    return found;
}

void Pump(int milliseconds) {
    DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    while (int(end - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(5);
    }
}

class WaveWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        if (platform::WaveInCount() == 0 || platform::WaveOutCount() == 0)
            GTEST_SKIP() << "no wave devices (no sound server)";
        std::lock_guard<std::mutex> lk(seen.lock);
        seen.messages.clear();
        seen.doneThread = 0;
    }
};

TEST_F(WaveWin32Test, CapturesAShortBufferOnTheAudioThread) {
    ASSERT_EQ(platform::WaveInSupports(&kFormat), 1);
    platform::WaveIn in = platform::WaveInOpen(&kFormat, Record);
    ASSERT_NE(in, nullptr);
    std::vector<char> first(2205, 0), second(2205, 0);
    platform::WaveHeader header = {}, next = {};
    header.data = first.data();
    header.bufferLength = uint32_t(first.size());
    next.data = second.data();
    next.bufferLength = uint32_t(second.size());
    {
        std::lock_guard<std::mutex> lk(seen.lock);
        seen.refill = &next;
    }
    ASSERT_EQ(platform::WaveInQueue(in, &header), 1);
    ASSERT_EQ(platform::WaveInStart(in), 1);
    ASSERT_TRUE(WaitFor(WIM_DATA, 2));
    EXPECT_EQ(header.bytesRecorded, 2205u);
    EXPECT_EQ(next.bytesRecorded, 2205u);
    EXPECT_NE(seen.doneThread, GetCurrentThreadId());
    uint32_t position = 0;
    EXPECT_EQ(platform::WaveInPosition(in, &position), 1);
    EXPECT_GE(position, 4410u);
    EXPECT_EQ(platform::WaveInReset(in), 1);
    EXPECT_EQ(platform::WaveInRelease(in, &next), 1);
    EXPECT_EQ(platform::WaveInClose(in), 1);
}

// Played buffers come back on the service's own thread, an empty one like any other; a reset
// hands back what the device holds before it returns.
TEST_F(WaveWin32Test, PlayedBuffersComeBackInOrderAndAResetHandsBackTheRest) {
    ASSERT_EQ(platform::WaveOutSupports(&kFormat), 1);
    platform::WaveOut out = platform::WaveOutOpen(&kFormat, Record);
    ASSERT_NE(out, nullptr);
    std::vector<char> tone(2205);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = char(i % 50 < 25 ? 0xA0 : 0x60);
    char none = 0;
    platform::WaveHeader headers[2] = {};
    headers[0].data = tone.data();
    headers[0].bufferLength = uint32_t(tone.size());
    headers[1].data = &none;
    for (platform::WaveHeader& header : headers)
        ASSERT_EQ(platform::WaveOutQueue(out, &header), 1);
    ASSERT_TRUE(WaitFor(WOM_DONE, 2));
    EXPECT_NE(seen.doneThread, GetCurrentThreadId());
    for (platform::WaveHeader& header : headers)
        EXPECT_EQ(platform::WaveOutRelease(out, &header), 1);

    std::vector<char> long_(22050 * 5, char(0x80));
    headers[0].data = long_.data();
    headers[0].bufferLength = uint32_t(long_.size());
    headers[0].flags = 0;
    ASSERT_EQ(platform::WaveOutQueue(out, &headers[0]), 1);
    EXPECT_EQ(platform::WaveOutClose(out), 0) << "closed while it holds a buffer";
    EXPECT_EQ(platform::WaveOutReset(out), 1);
    EXPECT_EQ(Count(WOM_DONE), 3) << "handed back before the reset returned";
    EXPECT_EQ(platform::WaveOutRelease(out, &headers[0]), 1);
    EXPECT_EQ(platform::WaveOutClose(out), 1);
}

TEST_F(WaveWin32Test, RecorderCapturesAndPlaysOut) {
    SoundRecorder recorder("Quorvatellianis");
    ASSERT_EQ(recorder.IsAvailable(), 1);
    ASSERT_EQ(recorder.StartRecording(), 1);
    Sleep(500);
    recorder.Stop(0);
    ASSERT_EQ(recorder.HasSound(), 1);
    // Half a second of sound, counted from the device position.
    char journal[MAX_PATH];
    GetTempPathA(MAX_PATH, journal);
    lstrcatA(journal, "wave_win32_test.Jnf");
    ASSERT_EQ(recorder.Save(journal), 1);
    lstrcatA(journal, "_");
    WIN32_FILE_ATTRIBUTE_DATA info;
    ASSERT_TRUE(GetFileAttributesExA(journal, GetFileExInfoStandard, &info));
    DeleteFileA(journal);
    EXPECT_GT(info.nFileSizeLow, 16u + 22050 * 3 / 10);
    EXPECT_LT(info.nFileSizeLow, 16u + 22050 * 2);

    ASSERT_EQ(recorder.StartPlayback(), 1);
    for (int i = 0; i < 100 && recorder.IsPlaying(); ++i)
        Pump(50);
    EXPECT_EQ(recorder.IsPlaying(), 0) << "played-out chain did not end by itself";

    // Stopped in the middle.
    ASSERT_EQ(recorder.StartPlayback(), 1);
    recorder.Stop(0);
    EXPECT_EQ(recorder.IsPlaying(), 0);
}

}  // namespace
