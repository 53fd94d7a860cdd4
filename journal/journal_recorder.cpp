// The recorder's own state: made and let go of with the main window, the list of events carved
// out of blocks, Stop for both directions, Clear and the status. Its other parts live in files of
// their own: journal_recording.cpp (the record hook, the cuts of the program's hotkeys and menu,
// the time limit), journal_playback.cpp (the playback hook's timeline, passes and settings),
// journal_windows.cpp, journal_screens.cpp, journal_motion.cpp and journal_file.cpp.
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

void JournalRecorder::SwitchScreenSaver(bool start) {
    platform::SetSystemParameter(SPI_SETSCREENSAVERRUNNING, start ? 1 : 0);
    platform::SetSystemParameter(SPI_SETSCREENSAVEACTIVE, start ? 0 : 1);
}
