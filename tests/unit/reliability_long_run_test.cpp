// The longest recordings the program makes: seven minutes of input at 1000 events a second
// through the record hook, with the one-second limit tick. The recording stops at its limit with
// every event, saves and loads whole, and its memory grows with the events and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "app/shell.h"
#include "journal/journal_recorder.h"
#include "platform/fake/fake_file.h"
#include "platform/fake/fake_notify.h"
#include "platform/fake/fake_wave.h"
#include "platform/fake/fake_window.h"
#include "platform/program_ids.h"
#include "sound/sound_recorder.h"
#include "tests/common/folder_test.h"
#include "tests/unit/fake_platform.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QV_SANITIZER_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QV_SANITIZER_HEAP 1
#endif
#ifdef QV_SANITIZER_HEAP
// The sanitizers' allocator statistics (their header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

// Bytes the program has asked the heap for and not given back.
size_t HeapInUse() {
#ifdef QV_SANITIZER_HEAP
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

const uint32_t kPerSecond = 1000;
const uint32_t kLimitMs = 7 * 60000;
// The limit tick comes once a second; the first that finds more than seven minutes gone since
// the start stops the recording, which keeps the events of its seven minutes.
const uint32_t kFedEvents = kLimitMs + kPerSecond;
const uint32_t kExpectedEvents = kLimitMs + 1;
const uint32_t kSoundPerSecond = 22050;

intptr_t IgnoreMessages(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

platform::EventRecord Move(uint32_t i, uint32_t firstTime) {
    return {WM_MOUSEMOVE, i % 1920, i / 1920, firstTime + i, 0x10000 + i % 7};
}

// Feeds one second of events after the `fed` already fed, then the limit tick.
void FeedSecond(uint32_t* fed, uint32_t firstTime, const std::function<void()>& tick) {
    for (uint32_t n = 0; n < kPerSecond; n++, (*fed)++)
        fake::RecordEvent(Move(*fed, firstTime));
    tick();
}

::testing::AssertionResult HoldsAllMoves(const JournalRecorder& recorder, uint32_t firstTime) {
    if (recorder.GetCount() != kExpectedEvents)
        return ::testing::AssertionFailure() << recorder.GetCount() << " events";
    uint32_t i = 0;
    for (const JournalEvent* e = recorder.GetHead(); e; e = e->next, i++) {
        platform::EventRecord want = Move(i, firstTime);
        if (e->record.message != want.message || e->record.paramL != want.paramL ||
            e->record.paramH != want.paramH || e->record.time != want.time ||
            e->record.hwnd != want.hwnd)
            return ::testing::AssertionFailure() << "event " << i << " differs";
    }
    if (i != kExpectedEvents)
        return ::testing::AssertionFailure() << "the list holds " << i << " events";
    return ::testing::AssertionSuccess();
}

class LongRunTest : public testkit::FolderTest {
  protected:
    void SetUp() override { ResetFakePlatform(); }
    void TearDown() override {
        EXPECT_EQ(0, fake::OpenFileCount());
        fake::ResetWave();
    }
};

TEST_F(LongRunTest, SevenMinutesAcrossTheTickWrapStopAtTheLimitWithEveryEvent) {
    // The tick count wraps round 32 bits a hundred seconds in.
    const uint32_t firstTime = 0xFFFFFFFFu - 100000;
    platform::RegisterMainWindowClass(nullptr, "Test", IgnoreMessages, 0, 0);
    JournalRecorder* recorder =
        new JournalRecorder(nullptr, platform::CreateHiddenWindow(nullptr, "Test"), 7, "");
    size_t before = HeapInUse();
    fake::SetInputClock(firstTime);
    ASSERT_EQ(1, recorder->StartRecording());
    uint32_t fed = 0;
    while (recorder->IsRecording() && fed < 2 * kFedEvents)
        FeedSecond(&fed, firstTime, [&] { recorder->CheckTimeLimit(); });
    EXPECT_EQ(0, fake::RecordHookInstalled());
    EXPECT_EQ(kFedEvents, fed);
    fake::RecordEvent(Move(fed, firstTime));  // after the stop: not recorded
    ASSERT_TRUE(HoldsAllMoves(*recorder, firstTime));

    size_t recorded = HeapInUse();
    double perEvent = double(recorded - before) / kExpectedEvents;
    RecordProperty("heap_bytes_per_event", std::to_string(perEvent));
    printf("heap per recorded event: %.1f bytes (%zu bytes for %u events)\n", perEvent,
           recorded - before, kExpectedEvents);
    EXPECT_GE(perEvent, double(sizeof(platform::EventRecord)));
    EXPECT_LE(perEvent, 64.0) << "more than the event and its link";

    std::string path = Path("long.Jnf");
    ASSERT_EQ(1, recorder->Save(path.c_str()));
    EXPECT_EQ(40u + 20u * kExpectedEvents, std::filesystem::file_size(path));
    ASSERT_EQ(1, recorder->Load(path.c_str()));
    ASSERT_TRUE(HoldsAllMoves(*recorder, firstTime));
    // Saving and loading cost nothing that stays.
    EXPECT_LE(HeapInUse(), recorded + 4096);
    ASSERT_EQ(1, recorder->Clear());
    EXPECT_LE(HeapInUse(), before + 4096);
    delete recorder;
}

// The same through the whole program in the tray, with the sound track on: both stop together
// at the limit, both files are written by Save Record and read back by Load Record.
TEST_F(LongRunTest, SevenMinutesWithSoundThroughTheMenuSaveAndLoadWhole) {
    static std::string journal;
    journal = Path("long.Jnf");
    EnterFolder();
    fake::SetLoopIdle([] {
        platform::WindowHandle w = fake::LastCreatedWindow();
        ASSERT_EQ(1, shell.soundEnabled);
        fake::SetInputClock(5000);
        fake::Dispatch(w, WM_HOTKEY, HOTKEY_RECORD, 0);
        uint32_t fed = 0, seconds = 0;
        while (fake::RecordHookInstalled() && seconds < 1000) {
            fake::AdvanceWave(kSoundPerSecond);
            FeedSecond(&fed, 5000, [&] {
                ASSERT_TRUE(fake::WaitWaveIdle());
                fake::Dispatch(w, WM_TIMER, TIMER_TIMELIMIT, 0);
            });
            seconds++;
        }
        EXPECT_EQ(kFedEvents / kPerSecond, seconds);
        EXPECT_EQ(0, shell.soundRecorder->IsRecording());
        EXPECT_EQ(0u, fake::DroppedCaptureBytes());

        fake::PushDialogAnswer(journal.c_str());
        fake::Dispatch(w, WM_COMMAND, IDM_SAVE, 0);
        fake::Dispatch(w, WM_COMMAND, IDM_EMPTY, 0);
        EXPECT_EQ(0, shell.journalRecorder->HasEvents());
        EXPECT_EQ(0, shell.soundRecorder->HasSound());
        EXPECT_EQ(0, fake::LiveWaveBuffers());
        fake::PushDialogAnswer(journal.c_str());
        fake::Dispatch(w, WM_COMMAND, IDM_LOAD, 0);
        EXPECT_TRUE(HoldsAllMoves(*shell.journalRecorder, 5000));
        uint64_t sound = uint64_t(seconds) * kSoundPerSecond;
        EXPECT_EQ(int((sound + SoundRecorder::kBlockSize - 1) / SoundRecorder::kBlockSize),
                  fake::LiveWaveBuffers());
        fake::PostToLoop(w, WM_COMMAND, IDM_EXIT, 0);
    });
    EXPECT_EQ(0, AppMain(nullptr, "", 1));
    EXPECT_EQ(40u + 20u * kExpectedEvents, std::filesystem::file_size(journal));
    EXPECT_EQ(16u + uint64_t(kFedEvents / kPerSecond) * kSoundPerSecond,
              std::filesystem::file_size(journal + "_"));
    EXPECT_EQ(0, fake::LiveWaveBuffers());
    EXPECT_EQ(0, fake::OpenWaveDevices());
}

}  // namespace
