// The journal recorder: captures keyboard and mouse input as a list of events through the
// record hook, replays it through the playback hook at an adjustable speed, ends a recording
// past its time limit and tells the main window about every start and stop.
#pragma once

#include <cstdint>

#include "journal/window_follow.h"
#include "app/program_ids.h"
#include "journal/window_table.h"
#include "platform/input.h"
#include "platform/types.h"

class FileBuffer;
struct JournalHeader;

// What SetSpeed does: halve every delay, double it, or go back to the recorded pace. The values
// are those the speed commands pass.
enum class SpeedKind : int32_t {
    Faster = 0,
    Slower = 1,
    Normal = 16,
};

struct JournalEvent {
    platform::EventRecord record;
    uint32_t window;  // the number of its entry in the recorder's window table; 0 for none
    JournalEvent* next;
};

// The window an event was last found in, kept while the same window stays where it was, so
// that the costly description is taken once.
struct SeenWindow {
    platform::WindowHandle handle;
    platform::WindowRect rect;
    uint32_t number;  // in the recorder's window table
};

// Events are carved out of blocks of many, so that a long recording costs one allocation per
// block instead of one per event (and no allocator header per event).
struct EventChunk;

class JournalRecorder {
  public:
    JournalRecorder(platform::InstanceHandle instance, platform::WindowHandle mainWindow,
                    int32_t minutes, const char* name);
    virtual ~JournalRecorder();

    // Each returns true when it acted, false when it refused and changed nothing.
    bool StartRecording();
    bool StartPlayback();
    bool Stop();
    // Holds a running playback where it is (`paused`), or goes on from there; see
    // platform::PausePlayback.
    void PausePlayback(bool paused);
    void SetSpeed(SpeedKind kind);
    // Whether a replay finds the recorded windows again (on by default), and how long it waits
    // for one that is not there; a playback under way goes on as it began.
    void SetWindowFollowing(bool on, uint32_t longestWaitMs);
    bool FollowsWindows() const { return followWindows; }
    uint32_t GetLongestWait() const { return longestWaitMs; }
    // How many times Play plays the recording (0: until stopped), with `pauseMs` between the
    // passes, or, with `lastGap`, the recording's own last gap; scaled by the speed as any gap.
    // A playback under way takes it from its next pass on.
    void SetRepeat(uint32_t times, bool lastGap, uint32_t pauseMs);
    uint32_t GetRepeat() const { return repeatTimes; }
    bool PausesByLastGap() const { return pauseIsLastGap; }
    uint32_t GetRepeatPause() const;
    uint32_t GetPass() const { return pass; }
    void CheckTimeLimit();
    bool Clear();
    const char* GetStatusText() const;
    const char* GetFileName() const;
    bool IsRecording() const;
    bool IsPlaying() const;
    // True while Stop removes a hook: messages sent meanwhile are dispatched inside it.
    bool IsStopping() const { return stopping; }
    bool HasEvents() const;
    bool Save(const char* fileName);
    bool Load(const char* fileName);

    // Read access for the journal file code and tests.
    const JournalEvent* GetHead() const { return head; }
    uint32_t GetCount() const { return count; }
    const journal::WindowTable& GetWindows() const { return windows; }
    int32_t GetSpeed() const { return speed; }

  private:
    static intptr_t RecordHookProc(int code, uintptr_t wParam, intptr_t lParam);
    static intptr_t PlaybackHookProc(int code, uintptr_t wParam, intptr_t lParam);
    static void SwitchScreenSaver(bool start);
    bool AppendEvent(const platform::EventRecord& record, uint32_t window);
    uint32_t WindowOf(const platform::EventRecord& record);
    uint32_t NextDelay(platform::EventRecord* target);
    uint32_t LookAgain(platform::EventRecord* target);
    void Advance();
    void ReleaseEvents();
    static void FreeChunks(EventChunk* chunk);

    platform::InstanceHandle instance;
    platform::WindowHandle mainWindow;
    JournalEvent* tail;  // always the last event, so a save after any playback describes the list
    JournalEvent* head;
    JournalEvent* cursor;  // the event playback hands out next; rests where playback ended
    uint32_t count;
    EventChunk* chunks;  // the newest first; the events of the list live in these
    // The windows the events belong to, released with them.
    journal::WindowTable windows;
    SeenWindow pointerWindow;  // under the pointer at the last mouse event
    SeenWindow keyWindow;      // in the foreground at the last key
    platform::HookHandle recordHook;
    platform::HookHandle playbackHook;
    bool stopping;
    bool recordingActive;  // not paused by a system-modal dialog
    bool playbackActive;
    uint32_t previousTime;
    // Sixteenths of a millisecond that scaled delays left over so far: carried into the next
    // delay so that rounding never adds up over a playback.
    uint32_t delayRemainder;
    uint32_t timeLimit;
    int32_t speed;
    uint32_t repeatTimes;
    bool pauseIsLastGap;
    uint32_t repeatPause;
    uint32_t pass;                // of the playback under way, from 1
    bool passBegins;              // the cursor went back to the first event: its gap is the pause
    mutable char statusText[64];  // GetStatusText's, with the pass
    bool followWindows;
    uint32_t longestWaitMs;
    journal::WindowFollower follower;
    // The event at the cursor waits for its window; `waited` is how long so far.
    bool waiting;
    uint32_t waited;
    FileBuffer* file;
    const char* signature;
    JournalHeader* header;
};

// The one recorder of the process; the hook procedures reach it through this pointer.
extern JournalRecorder* journalRecorderInstance;
