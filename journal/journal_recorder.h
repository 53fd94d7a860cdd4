// The journal recorder: captures keyboard and mouse input as a list of events through the
// record hook, replays it through the playback hook at an adjustable speed, ends a recording
// past its time limit and tells the main window about every start and stop.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "journal/event_notes.h"
#include "journal/hotkey_filter.h"
#include "journal/screen_picture.h"
#include "journal/window_follow.h"
#include "journal/window_table.h"
#include "platform/input.h"
#include "platform/program_ids.h"
#include "platform/types.h"
#include "storage/file_buffer.h"

struct JournalHeader;

// What the recorder tells the main window with WM_JOURNALSTATE: wParam one of the JOURNAL_*
// codes, lParam for JOURNAL_STOPPED tells what stopped.
#define JOURNAL_RECORDING 1
#define JOURNAL_PLAYING 2
#define JOURNAL_STOPPED 4
#define JOURNAL_STATUS 8
// Posted, not sent, when a repeated playback begins another pass: lParam the pass, from 2.
#define JOURNAL_PASS 16
// Posted when a playback begins to wait for a window at the moment of its event (lParam 1), and
// when the wait ends (0).
#define JOURNAL_WAITING 32
#define STOPPED_RECORDING 1
#define STOPPED_PLAYBACK 2

// What SetSpeed does: halve every delay, double it, or go back to the recorded pace. The values
// are those the speed commands pass.
enum class SpeedKind : int32_t {
    Faster = 0,
    Slower = 1,
    Normal = 16,
};

struct JournalEvent {
    platform::EventRecord record;
    uint32_t
        note;  // the number of its note (its window, where it stood) in the recorder's; 0: none
    JournalEvent* next;
};

// The window an event was last found in, kept while the same window stays where it was, so
// that the costly description is taken once.
struct SeenWindow {
    platform::WindowHandle handle;
    platform::WindowRect rect;
    uint32_t note;  // in the recorder's notes
};

// What commanded a start or a stop. A recording keeps only what the user did in between: the
// releases of the hotkey that started it, and the hotkey or the menu choice that stopped it, are
// left out. Neither (the program itself, the time limit, another program): nothing is left out.
struct Commander {
    const platform::HotkeyChord* chord = nullptr;
    bool menu = false;  // chosen in the menu, opened as MenuOpened told
};

// How a replay plays the mouse: as the recording noted each stretch (by motion where a program
// looked around with it, by place elsewhere), or all of it by place, or all by motion.
enum class MouseMode : uint32_t {
    Recording = 0,
    Place = 1,
    Motion = 2,
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
    bool StartRecording(Commander by = {});
    // Started by a hotkey, the first event waits until the user has let go of its keys, which
    // would otherwise join it.
    bool StartPlayback();
    bool Stop(Commander by = {});
    // The program's hotkeys (the table stays the caller's): a replay presses none of them, nor
    // lets go of one; the time it would have taken is waited all the same.
    void SetHotkeys(const platform::HotkeyChord* chords, size_t count);
    // The program took a hotkey: a recording leaves out its keys, wherever they fall.
    void HotkeyTaken(const platform::HotkeyChord& chord);
    // The menu opens, by `chord` or, when null, by a click on the icon: a recording stopped from
    // it leaves out that and what the user did in the menu.
    void MenuOpened(const platform::HotkeyChord* chord);
    // Holds a running playback where it is (`paused`), or goes on from there; see
    // platform::PausePlayback.
    void PausePlayback(bool paused);
    void SetSpeed(SpeedKind kind);
    // Whether a replay finds the recorded windows again (on by default), and how long it waits
    // for one that is not there; a playback under way goes on as it began.
    void SetWindowFollowing(bool on, uint32_t longestWaitMs);
    // Whether a press waits until the screen shows what it showed when it was recorded (on by
    // default), and whether a pause before a press ends as soon as it does (off); a playback under
    // way goes on as it began.
    void SetScreenWaiting(bool wait, bool goOnWhenReady);
    bool WaitsForScreen() const { return waitForScreen; }
    bool GoesOnWhenReady() const { return goOnWhenReady; }
    void SetMouseMode(MouseMode mode) {
        mouseMode = mode <= MouseMode::Motion ? mode : MouseMode::Recording;
    }
    MouseMode GetMouseMode() const { return mouseMode; }
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
    // Why the last Save or Load failed.
    const FileFailure& GetFailure() const { return failure; }

    // Read access for the journal file code and tests.
    const JournalEvent* GetHead() const { return head; }
    uint32_t GetCount() const { return count; }
    const journal::WindowTable& GetWindows() const { return windows; }
    const journal::EventNotes& GetNotes() const { return notes; }
    const journal::PictureStore& GetPictures() const { return pictures; }
    int32_t GetSpeed() const { return speed; }

  private:
    static intptr_t RecordHookProc(int code, uintptr_t wParam, intptr_t lParam);
    static intptr_t PlaybackHookProc(int code, uintptr_t wParam, intptr_t lParam);
    static void SwitchScreenSaver(bool start);
    bool AppendEvent(const platform::EventRecord& record, uint32_t note);
    uint32_t NoteOf(const platform::EventRecord& record);
    // `note` with the picture of the screen around a press beside it, as a note of its own.
    uint32_t WithPicture(const platform::EventRecord& press, uint32_t note);
    uint32_t NextDelay(platform::EventRecord* target);
    uint32_t AtItsMoment(platform::EventRecord* target);
    // A press that waits for the screen: it has a picture that tells something, and the screen
    // came for its window so far.
    bool ChecksScreen(const JournalEvent& event) const;
    // Tests the screen around `placed`, the press at the cursor as it goes now; kMoved writes
    // where it shows the picture (when asked).
    journal::PictureCheck LookAtScreen(const platform::EventRecord& placed, int32_t* x, int32_t* y);
    // Moves `placed` to where the screen shows its picture; false when it shows it nowhere.
    bool PressWhereTheScreenShows(platform::EventRecord* placed);
    void ScreenNeverCame(const JournalEvent& event);
    // A motion's counts, beside the move before it (or the next move, when a button came between).
    void TakeMotion(const platform::MotionRecord& motion);
    void MotionFollows(const platform::EventRecord& record);
    // Writes the move at the cursor as relative motion when it is played so; true then.
    bool ByMotion(const JournalEvent& event, platform::EventRecord* target);
    // Marks a key handed out within a stretch played by motion to go by its scan code.
    void AsTheDeviceSent(platform::EventRecord* target) const;
    void Advance();
    // Moves from `event` to the first event that is not a hotkey press; null when none is.
    JournalEvent* Playable(JournalEvent* event);
    // False for the repeats and releases of the keys of a hotkey the program took.
    bool Keeps(const platform::EventRecord& record);
    // Unlinks the events after `from` (all when null) that `drop` picks.
    template <class Pick>
    void Unlink(JournalEvent* from, Pick drop);
    std::bitset<256> CutChord(const platform::HotkeyChord& chord);
    void CutMenuChoice();
    void ReleaseEvents();
    static void FreeChunks(EventChunk* chunk);

    platform::InstanceHandle instance;
    platform::WindowHandle mainWindow;
    JournalEvent* tail;  // always the last event, so a save after any playback describes the list
    JournalEvent* head;
    JournalEvent* cursor;  // the event playback hands out next; rests where playback ended
    uint32_t count;
    EventChunk* chunks;  // the newest first; the events of the list live in these
    // The windows the events belong to and where each stood, released with them.
    journal::WindowTable windows;
    journal::EventNotes notes;
    journal::PictureStore pictures;
    SeenWindow pointerWindow;  // under the pointer at the last mouse event
    SeenWindow keyWindow;      // in the foreground at the last key
    platform::HookHandle recordHook;
    platform::HookHandle playbackHook;
    bool stopping;
    bool recordingActive;  // not paused by a system-modal dialog
    bool playbackActive;
    uint32_t previousTime;
    journal::HotkeyFilter replayHotkeys;
    // The keys of the hotkeys the program took (the one that started the recording among them)
    // while they are not let go of: their repeats and releases are left out.
    std::bitset<256> dropKeys;
    // Where the list ended when the menu opened during the recording, and what opened it.
    bool menuMarked;
    JournalEvent* menuMark;
    const platform::HotkeyChord* menuChord;
    // Sixteenths of a millisecond that scaled delays left over so far: carried into the next
    // delay so that rounding never adds up over a playback.
    uint32_t delayRemainder;
    // When the recording began and ended, by the input clock; a loaded file does not know.
    uint32_t recordStart;
    uint32_t recordEnd;
    bool endKnown;
    uint32_t timeLimit;
    int32_t speed;
    uint32_t repeatTimes;
    bool pauseIsLastGap;
    uint32_t repeatPause;
    uint32_t pass;                // of the playback under way, from 1
    JournalEvent* firstPlayable;  // of this pass: its skip tells the main window of the pass
    bool passBegins;              // the cursor went back to the first event: its gap is the pause
    uint32_t passPause;           // GetRepeatPause() of the playback under way
    journal::HeldKeys heldKeys;   // by the pass under way
    bool releasing;               // the event handed out lets go of a key the last pass held
    mutable char statusText[64];  // GetStatusText's, with the pass
    bool followWindows;
    uint32_t longestWaitMs;
    bool waitForScreen;
    bool goOnWhenReady;
    MouseMode mouseMode;
    MouseMode playMouse;  // of the playback under way
    bool inMotion;        // its last move went as motion: keys go by scan code
    // Counts of a motion that came with no move to go beside (a button's) and the points that
    // tell a program putting the cursor back after every motion.
    platform::MotionRecord motionPending;
    struct LookBack {
        int32_t x, y;    // where the cursor was before the last motion, as its move tells
        uint32_t times;  // motions in a row that started there
    } lookBack;
    journal::WindowFollower follower;
    // The event at the cursor is due: it is placed when asked for next, or waits for its window
    // or the screen, `waited` so far.
    bool dueNow;
    uint32_t waited;
    bool checkScreen;    // it is a press that waits for the screen
    uint32_t earlyLeft;  // of the pause before it that may end once the screen is ready
    // How the playback under way waits for the screen, and which of its windows (by entry; 0:
    // presses in no window) the screen never came for.
    bool playScreens;
    bool playGoOn;
    std::unique_ptr<bool[]> screenGivenUp;
    uint32_t playWaitMs;  // the longest wait of the playback under way
    std::unique_ptr<FileBuffer> file;
    FileFailure failure;
    const char* signature;
    std::unique_ptr<JournalHeader> header;
};

// The one recorder of the process; the hook procedures reach it through this pointer.
extern JournalRecorder* journalRecorderInstance;
