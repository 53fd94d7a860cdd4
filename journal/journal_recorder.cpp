#include "journal/journal_recorder.h"

#include <cstdio>
#include <new>

#include "journal/hotkey_filter.h"
#include "journal/journal_codec.h"
#include "platform/window.h"
#include "storage/file_buffer.h"

JournalRecorder* journalRecorderInstance = nullptr;

namespace {

const char kDefaultSignature[] = "Vindaque v1.0";
const char kStatusRecording[] = "Now is [Recording].";
const char kStatusHaveRecord[] = "Now is [Stoped][Have Record].";
const char kStatusNoRecord[] = "Now is [Stoped][No Record].";

// The largest delay a hook procedure can hand back: its result is a signed long on 32-bit
// Windows.
const uint64_t kMaxDelay = 0x7FFFFFFF;
// Lower Speed stops doubling here, so the factor never wraps round to a faster one.
const int32_t kMaxSpeed = 0x40000000;

// Blocks grow with the list from the first size to the largest, so a short recording wastes
// little and a long one allocates rarely; the largest stays small enough to come from the heap
// rather than from a mapping of its own.
const uint32_t kFirstChunkEvents = 64;
const uint32_t kLargestChunkEvents = 2048;

}  // namespace

struct EventChunk {
    EventChunk* previous;
    uint32_t used;
    uint32_t capacity;
    // The events follow the header in the same allocation.
    void* Slot(uint32_t index) {
        return reinterpret_cast<char*>(this + 1) + index * sizeof(JournalEvent);
    }
};

JournalRecorder::JournalRecorder(platform::InstanceHandle module, platform::WindowHandle window,
                                 int32_t minutes, const char* name)
    : instance(module),
      mainWindow(window),
      tail(nullptr),
      head(nullptr),
      cursor(nullptr),
      count(0),
      chunks(nullptr),
      windows{nullptr, 0, 0},
      notes{nullptr, 0, 0},
      pictures{nullptr, 0, 0},
      pointerWindow(),
      keyWindow(),
      recordHook(nullptr),
      playbackHook(nullptr),
      stopping(false),
      recordingActive(false),
      playbackActive(false),
      previousTime(0),
      replayHotkeys(nullptr, 0),
      menuMarked(false),
      menuMark(nullptr),
      menuChord(nullptr),
      delayRemainder(0),
      recordStart(0),
      recordEnd(0),
      endKnown(false),
      timeLimit(static_cast<uint32_t>(minutes) * 60000u),
      speed(16),
      repeatTimes(1),
      pauseIsLastGap(true),
      repeatPause(0),
      pass(0),
      firstPlayable(nullptr),
      passBegins(false),
      passPause(0),
      heldKeys(),
      releasing(false),
      statusText(),
      followWindows(true),
      longestWaitMs(journal::kDefaultLongestWaitMs),
      waitForScreen(true),
      goOnWhenReady(false),
      mouseMode(MouseMode::Recording),
      playMouse(MouseMode::Recording),
      inMotion(false),
      motionPending(),
      lookBack(),
      follower(),
      dueNow(false),
      waited(0),
      checkScreen(false),
      earlyLeft(0),
      playScreens(false),
      playGoOn(false),
      screenGivenUp(),
      playWaitMs(0),
      file(new FileBuffer()),
      signature(name && name[0] ? name : kDefaultSignature),
      header(new JournalHeader()) {
    journalRecorderInstance = this;
    platform::StartTimer(mainWindow, TIMER_TIMELIMIT, 1000);
}

JournalRecorder::~JournalRecorder() {
    Stop();
    ReleaseEvents();
    platform::StopTimer(mainWindow, TIMER_TIMELIMIT);
}

bool JournalRecorder::IsRecording() const {
    return recordHook != nullptr;
}
bool JournalRecorder::IsPlaying() const {
    return playbackHook != nullptr;
}
bool JournalRecorder::HasEvents() const {
    return head != nullptr;
}

bool JournalRecorder::StartRecording(Commander by) {
    if (IsRecording() || IsPlaying())
        return false;
    // Also forgets the windows of a loaded file without events.
    ReleaseEvents();
    platform::HookHandle hook = platform::InstallRecordHook(instance, RecordHookProc);
    if (!hook)
        return false;
    recordHook = hook;
    recordStart = platform::InputClock();
    endKnown = false;
    dropKeys.reset();
    menuMarked = false;
    if (by.chord) {
        // Only the keys still held now: one let go of before the hook went in is pressed next
        // by the user, for the recording.
        dropKeys[by.chord->key] = platform::KeyIsDown(by.chord->key);
        for (uint32_t key = 0x10; key <= 0x12; key++)
            dropKeys[key] = journal::InChord(*by.chord, key) && platform::KeyIsDown(key);
    }
    recordingActive = true;
    SwitchScreenSaver(true);
    platform::SendToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_RECORDING, 0);
    return true;
}

bool JournalRecorder::StartPlayback() {
    if (IsRecording() || IsPlaying() || !HasEvents())
        return false;
    replayHotkeys.Reset();
    JournalEvent* first = Playable(head);
    if (!first)
        return false;
    platform::HookHandle hook = platform::InstallPlaybackHook(instance, PlaybackHookProc);
    if (!hook)
        return false;
    playbackHook = hook;
    // The first delay spans the hotkey presses passed over, as every later one does.
    cursor = firstPlayable = first;
    playbackActive = true;
    previousTime = head->record.time;
    delayRemainder = 0;
    dueNow = false;
    releasing = false;
    heldKeys.Reset();
    pass = 1;
    passBegins = false;
    passPause = GetRepeatPause();  // found here: the playback procedure walks no list
    follower.Finish();
    if (followWindows)
        follower.Start(windows, notes);
    playWaitMs = longestWaitMs;
    // Without memory for what it notes of the windows, a playback waits for no screen.
    screenGivenUp.reset(new (std::nothrow) bool[windows.count + 1]());
    playScreens = waitForScreen && screenGivenUp;
    playGoOn = goOnWhenReady;
    playMouse = mouseMode;
    inMotion = playMouse == MouseMode::Motion;
    motionPending = {};
    SwitchScreenSaver(true);
    platform::SendToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_PLAYING, 0);
    return true;
}

bool JournalRecorder::Stop(Commander by) {
    // The receiver of the notification may destroy this recorder: copy what is needed after
    // it and touch no field once it was sent.
    platform::WindowHandle window = mainWindow;
    uintptr_t stopped;
    if (stopping)
        return false;  // asked again from inside the removal below: the first Stop finishes
    if (IsRecording())
        stopped = STOPPED_RECORDING;
    else if (IsPlaying())
        stopped = STOPPED_PLAYBACK;
    else
        return false;
    // The removal may dispatch messages sent to the thread meanwhile; a shutdown among them
    // waits for this Stop (IsStopping) rather than destroying the recorder under it.
    stopping = true;
    platform::HookHandle& hook = stopped == STOPPED_RECORDING ? recordHook : playbackHook;
    platform::RemoveHook(hook);
    hook = nullptr;
    stopping = false;
    if (stopped == STOPPED_RECORDING) {
        // Where the user stopped, or the limit did.
        uint32_t elapsed = journal::PlayedGap(recordStart, platform::InputClock());
        recordEnd = recordStart + (elapsed < timeLimit ? elapsed : timeLimit);
        endKnown = true;
        // Cut before the notification, which may save the list.
        // (A hotkey that stopped it is cut already, as every hotkey taken while recording.)
        if (by.menu && menuMarked)
            CutMenuChoice();
        menuMarked = false;
    }
    platform::SendToWindow(window, WM_JOURNALSTATE, JOURNAL_STOPPED,
                           static_cast<intptr_t>(stopped));
    SwitchScreenSaver(false);
    return true;
}

void JournalRecorder::SetHotkeys(const platform::HotkeyChord* chords, size_t chordCount) {
    replayHotkeys = journal::HotkeyFilter(chords, chordCount);
}

void JournalRecorder::MenuOpened(const platform::HotkeyChord* chord) {
    if (!IsRecording())
        return;
    menuMarked = true;
    menuMark = tail;
    menuChord = chord;
}

bool JournalRecorder::Keeps(const platform::EventRecord& record) {
    bool down = journal::IsKeyDown(record);
    if (!down && !journal::IsKeyUp(record))
        return true;
    uint32_t key = journal::KeyOf(record);
    if (!dropKeys[key])
        return true;
    // Held since a hotkey the program took: its repeats and its release.
    if (!down)
        dropKeys.reset(key);
    return false;
}

void JournalRecorder::HotkeyTaken(const platform::HotkeyChord& chord) {
    if (!IsRecording())
        return;
    // Its key's press may come after the hotkey's message: then it goes as it arrives.
    dropKeys |= CutChord(chord);
    dropKeys.set(chord.key);
}

template <class Pick>
void JournalRecorder::Unlink(JournalEvent* from, Pick drop) {
    JournalEvent** link = from ? &from->next : &head;
    JournalEvent* last = from;
    while (JournalEvent* event = *link) {
        if (drop(*event)) {
            *link = event->next;
            count--;
        } else {
            last = event;
            link = &event->next;
        }
    }
    tail = last;
    cursor = nullptr;
}

// The hotkey's keys went down and were not let go of: those presses, with their repeats, go
// wherever they fall among the user's last keys (a letter may be let go of after the chord
// began), but for a modifier that went down before the user's last key press, which it shaped
// (Shift still held from a capital). The user's own uses of the same keys, released, and the
// mouse stay. Returns the keys cut.
std::bitset<256> JournalRecorder::CutChord(const platform::HotkeyChord& chord) {
    const JournalEvent* lastUp[256] = {};
    const JournalEvent* lastOwn = nullptr;  // the last press of a key outside the chord
    for (const JournalEvent* event = head; event; event = event->next) {
        uint32_t key = journal::KeyOf(event->record);
        if (journal::IsKeyUp(event->record))
            lastUp[key] = event;
        else if (journal::IsKeyDown(event->record) && !journal::InChord(chord, key))
            lastOwn = event;
    }
    std::bitset<256> released;  // passed the key's last release
    for (uint32_t key = 0; key < 256; key++)
        released[key] = !lastUp[key];
    bool pastOwn = !lastOwn;
    std::bitset<256> cut;
    Unlink(nullptr, [&](const JournalEvent& event) {
        uint32_t key = journal::KeyOf(event.record);
        if (&event == lastUp[key])
            released.set(key);
        if (&event == lastOwn)
            pastOwn = true;
        bool drop = pastOwn && journal::IsKeyDown(event.record) && released[key] &&
                    journal::InChord(chord, key);
        if (drop)
            cut.set(key);
        return drop;
    });
    return cut;
}

// Everything done in the menu goes, and so does what opened it: its hotkey, or the click on the
// icon (the last button pressed and released before it opened).
void JournalRecorder::CutMenuChoice() {
    Unlink(menuMark, [](const JournalEvent&) { return true; });
    if (menuChord) {
        CutChord(*menuChord);
        return;
    }
    JournalEvent* beforeDown = nullptr;
    const JournalEvent* down = nullptr;
    for (JournalEvent *event = head, *previous = nullptr; event;
         previous = event, event = event->next) {
        if (journal::IsButtonDown(event->record)) {
            beforeDown = previous;
            down = event;
        }
    }
    if (!down)
        return;
    bool released = false;
    Unlink(beforeDown, [&](const JournalEvent& event) {
        if (&event == down)
            return true;
        if (released || !journal::IsButtonUp(event.record))
            return false;
        return released = true;
    });
}

void JournalRecorder::PausePlayback(bool paused) {
    if (IsPlaying())
        platform::PausePlayback(playbackHook, paused);
}

void JournalRecorder::SetSpeed(SpeedKind kind) {
    if (kind == SpeedKind::Faster) {
        speed /= 2;
    } else if (kind == SpeedKind::Slower) {
        if (speed <= kMaxSpeed / 2)
            speed *= 2;
    } else if (kind == SpeedKind::Normal) {
        speed = 16;
    }
}

void JournalRecorder::SetWindowFollowing(bool on, uint32_t longestWait) {
    followWindows = on;
    longestWaitMs = longestWait;
}

void JournalRecorder::SetScreenWaiting(bool wait, bool goOnWhenReady_) {
    waitForScreen = wait;
    goOnWhenReady = goOnWhenReady_;
}

void JournalRecorder::SetRepeat(uint32_t times, bool lastGap, uint32_t pauseMs) {
    repeatTimes = times;
    pauseIsLastGap = lastGap;
    repeatPause = pauseMs;
    passPause = GetRepeatPause();
}

uint32_t JournalRecorder::GetRepeatPause() const {
    if (!pauseIsLastGap)
        return repeatPause;
    // From the last event to the moment the user stopped, where the recording knows it: the
    // pause the user left at its end.
    if (endKnown && tail)
        return journal::PlayedGap(tail->record.time, recordEnd);
    // Else the gap before the last event: where the recording ended, as it would go on.
    const JournalEvent* before = head;
    while (before && before->next && before->next != tail)
        before = before->next;
    return before && before != tail ? journal::PlayedGap(before->record.time, tail->record.time)
                                    : 0;
}

void JournalRecorder::CheckTimeLimit() {
    // Measured from the start, by the clock: an idle user never stretches the events' span.
    if (!IsRecording() || journal::PlayedGap(recordStart, platform::InputClock()) <= timeLimit)
        return;
    // The tick comes up to a second late: what came after the limit is not kept.
    Unlink(nullptr, [&](const JournalEvent& event) {
        return journal::PlayedGap(recordStart, event.record.time) > timeLimit;
    });
    Stop();
}

bool JournalRecorder::Clear() {
    if (IsRecording() || IsPlaying() || !HasEvents())
        return false;
    ReleaseEvents();
    return true;
}

void JournalRecorder::FreeChunks(EventChunk* chunk) {
    while (chunk) {
        EventChunk* previous = chunk->previous;
        ::operator delete(chunk);
        chunk = previous;
    }
}

void JournalRecorder::ReleaseEvents() {
    FreeChunks(chunks);
    chunks = nullptr;
    follower.Finish();  // it reads the table
    journal::ReleaseWindows(&windows);
    journal::ReleaseNotes(&notes);
    journal::ReleasePictures(&pictures);
    endKnown = false;
    pointerWindow = keyWindow = SeenWindow();
    head = nullptr;
    tail = nullptr;
    cursor = nullptr;
    count = 0;
}

const char* JournalRecorder::GetStatusText() const {
    if (IsRecording())
        return kStatusRecording;
    if (!HasEvents())
        return kStatusNoRecord;
    if (!IsPlaying() || repeatTimes == 1)
        return kStatusHaveRecord;
    // A repeated playback tells its pass, and how many there are unless it plays until stopped.
    if (repeatTimes)
        snprintf(statusText, sizeof statusText, "%s %u/%u", kStatusHaveRecord, pass, repeatTimes);
    else
        snprintf(statusText, sizeof statusText, "%s %u", kStatusHaveRecord, pass);
    return statusText;
}

const char* JournalRecorder::GetFileName() const {
    return file->GetFileName();
}

bool JournalRecorder::AppendEvent(const platform::EventRecord& record, uint32_t note) {
    // Out of memory drops this one event; the hook goes on.
    if (!chunks || chunks->used == chunks->capacity) {
        uint32_t capacity = count < kFirstChunkEvents     ? kFirstChunkEvents
                            : count < kLargestChunkEvents ? count
                                                          : kLargestChunkEvents;
        void* memory =
            ::operator new(sizeof(EventChunk) + capacity * sizeof(JournalEvent), std::nothrow);
        if (!memory)
            return false;
        chunks = new (memory) EventChunk{chunks, 0, capacity};
    }
    JournalEvent* event = new (chunks->Slot(chunks->used++)) JournalEvent;
    event->record = record;
    event->note = note;
    event->next = nullptr;
    if (tail)
        tail->next = event;
    else
        head = event;
    tail = event;
    count++;
    return true;
}

uint32_t JournalRecorder::NextDelay(platform::EventRecord* target) {
    if (dueNow)
        return AtItsMoment(target);
    // What the pass before left held goes up first, at once; the pause comes after.
    if (passBegins && heldKeys.NextRelease(target)) {
        releasing = true;
        return 0;
    }
    uint32_t previous = previousTime;
    previousTime = cursor->record.time;
    uint32_t gap = passBegins ? passPause : journal::PlayedGap(previous, previousTime);
    passBegins = false;
    // Scaled in 64 bits so that neither a long gap nor a slow speed wraps into a short delay.
    // Delays are whole milliseconds; the fraction a faster speed leaves (half of every odd gap
    // at speed 8) goes into the next delay instead of being lost, so the playback keeps to the
    // scaled timeline however many events it has.
    uint64_t scaled =
        static_cast<uint64_t>(gap) * static_cast<uint64_t>(static_cast<uint32_t>(speed)) +
        delayRemainder;
    uint64_t delay = scaled >> 4;
    delayRemainder = static_cast<uint32_t>(scaled & 15);
    if (delay >= kMaxDelay) {
        delayRemainder = 0;
        delay = kMaxDelay;
    }
    if (ByMotion(*cursor, target))
        return static_cast<uint32_t>(delay);
    checkScreen = ChecksScreen(*cursor);
    if (!checkScreen && !follower.Follows(cursor->record, cursor->note)) {
        follower.Place(cursor->record, cursor->note, target);
        AsTheDeviceSent(target);
        return static_cast<uint32_t>(delay);
    }
    // Placed at its own moment, once the events before it were played: a window that the replay
    // itself moved (maximised by a double click on its title) is then where it went, and a
    // button that lights up under the pointer looks as it did. Until then the input layer waits,
    // asking no further; a pause that may end as soon as the screen is ready is waited in slices.
    dueNow = true;
    waited = 0;
    earlyLeft = checkScreen && playGoOn ? static_cast<uint32_t>(delay) : 0;
    uint32_t wait = static_cast<uint32_t>(delay);
    if (earlyLeft) {
        wait = earlyLeft < journal::kScreenLookMs ? earlyLeft : journal::kScreenLookMs;
        earlyLeft -= wait;
    }
    *target = platform::EventRecord{platform::kWaitEvent, 0, 0, cursor->record.time, 0};
    return wait;
}

JournalEvent* JournalRecorder::Playable(JournalEvent* event) {
    while (event && replayHotkeys.Take(event->record))
        event = event->next;
    return event;
}

// Asked at the moment of the event at the cursor, and again while it waits for its window or
// for the screen: hands it out placed once both are there, or as recorded (at its window's point)
// once the longest wait has passed. The wait is real time, at any speed, and the rest of the
// timeline comes after it.
uint32_t JournalRecorder::AtItsMoment(platform::EventRecord* target) {
    if (earlyLeft) {
        // Within a pause that ends as soon as the screen is ready.
        bool ready = follower.Place(cursor->record, cursor->note, target) &&
                     LookAtScreen(*target, nullptr, nullptr) != journal::PictureCheck::kMissing;
        if (!ready) {
            uint32_t slice =
                earlyLeft < journal::kScreenLookMs ? earlyLeft : journal::kScreenLookMs;
            earlyLeft -= slice;
            *target = platform::EventRecord{platform::kWaitEvent, 0, 0, cursor->record.time, 0};
            return slice;
        }
        earlyLeft = 0;
    }
    bool windowThere = follower.Place(cursor->record, cursor->note, target);
    bool screenThere = !windowThere || !checkScreen || PressWhereTheScreenShows(target);
    if (!(windowThere && screenThere) && waited < playWaitMs) {
        if (!waited)
            platform::PostToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_WAITING, 1);
        uint32_t look = windowThere ? journal::kScreenLookMs : journal::kLookAgainMs;
        waited += look;
        *target = platform::EventRecord{platform::kWaitEvent, 0, 0, cursor->record.time, 0};
        return look;
    }
    if (!windowThere)
        follower.GiveUp(cursor->note);
    else if (!screenThere)
        ScreenNeverCame(*cursor);
    AsTheDeviceSent(target);
    // The sound track waited with the input, and goes on with it.
    if (waited)
        platform::PostToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_WAITING, 0);
    dueNow = false;
    return 0;
}

void JournalRecorder::Advance() {
    if (releasing) {
        releasing = false;  // a key the pass before left held, let go of
        return;
    }
    follower.Passed(cursor->record);
    heldKeys.Take(cursor->record);
    // Posted: the sound track starts its pass from the message loop, not from inside the
    // system's input processing.
    if (cursor == firstPlayable && pass > 1)
        platform::PostToWindow(mainWindow, WM_JOURNALSTATE, JOURNAL_PASS,
                               static_cast<intptr_t>(pass));
    // The events passed over are not played: the next delay spans their time.
    if (JournalEvent* next = Playable(cursor->next)) {
        cursor = next;
        return;
    }
    bool again = repeatTimes == 0 || pass < repeatTimes;
    if (again) {
        // Each pass begins afresh: no key it did not press, no window given up, as the first.
        replayHotkeys.Reset();
        follower.NewPass();
        firstPlayable = Playable(head);
    }
    if (again && firstPlayable) {
        cursor = firstPlayable;
        pass++;
        passBegins = true;
    } else {
        Stop();
    }
}

void JournalRecorder::SwitchScreenSaver(bool start) {
    platform::SetSystemParameter(SPI_SETSCREENSAVERRUNNING, start ? 1 : 0);
    platform::SetSystemParameter(SPI_SETSCREENSAVEACTIVE, start ? 0 : 1);
}

intptr_t JournalRecorder::RecordHookProc(int code, uintptr_t wParam, intptr_t lParam) {
    JournalRecorder* self = journalRecorderInstance;
    if (code < 0)
        return platform::CallNextHook(self->recordHook, code, wParam, lParam);
    switch (code) {
        case HC_ACTION:
            if (self->recordingActive) {
                const platform::EventRecord& record =
                    *reinterpret_cast<const platform::EventRecord*>(lParam);
                if (self->Keeps(record) &&
                    self->AppendEvent(record, self->WithPicture(record, self->NoteOf(record))))
                    self->MotionFollows(record);
            }
            break;
        case platform::kMotionCode:
            if (self->recordingActive)
                self->TakeMotion(*reinterpret_cast<const platform::MotionRecord*>(lParam));
            break;
        case HC_SYSMODALON:
            self->recordingActive = false;
            break;
        case HC_SYSMODALOFF:
            self->recordingActive = true;
            break;
        default:
            break;
    }
    return 0;
}

intptr_t JournalRecorder::PlaybackHookProc(int code, uintptr_t wParam, intptr_t lParam) {
    JournalRecorder* self = journalRecorderInstance;
    if (code < 0)
        return platform::CallNextHook(self->playbackHook, code, wParam, lParam);
    switch (code) {
        case HC_GETNEXT:
            if (self->playbackActive) {
                return static_cast<intptr_t>(
                    self->NextDelay(reinterpret_cast<platform::EventRecord*>(lParam)));
            }
            break;
        case HC_SKIP:
            // The last event's skip stops the playback; the recorder may be gone afterwards.
            // A wait is not an event.
            if (self->playbackActive && !self->dueNow)
                self->Advance();
            break;
        case HC_SYSMODALON:
            self->playbackActive = false;
            break;
        case HC_SYSMODALOFF:
            self->playbackActive = true;
            break;
        default:
            break;
    }
    return 0;
}
