// The journal tool's edits: each lays out its result as parts, runs of an input's events placed
// on the result's timeline, so that the journal and its companion track are written from the
// same layout and stay in step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/journal_io.h"
#include "platform/window.h"

namespace qvjournal {

// One journal read for an edit, with its companion track (empty when it has none).
struct Input {
    std::string path;
    JournalImage image;
    Companion companion = Companion::kNone;
    std::vector<uint8_t> track;
};

// events[begin, end) placed `times` times, `period` ms apart, the first at `at` ms after the
// result's first event. Its sound is the track from `trackFrom` ms on (where events[begin] was
// recorded); the last part's sound ends at `trackUntil` ms of the track, or where the track
// does; any other part's ends where the next one starts.
struct Part {
    const std::vector<platform::EventRecord>* events;
    size_t begin;
    size_t end;
    uint64_t at;
    uint64_t times;
    uint64_t period;
    const std::vector<uint8_t>* track;
    uint64_t trackFrom;
    uint64_t trackUntil;
    // The input's window table and the window of each of `events` (none when empty).
    const std::vector<platform::WindowInfo>* windows = nullptr;
    const std::vector<uint32_t>* windowOf = nullptr;
};

struct Edit {
    Edit() = default;
    Edit(const Edit&) = delete;  // parts may point into `made`
    Edit& operator=(const Edit&) = delete;

    std::vector<Part> parts;
    std::vector<platform::EventRecord> made;  // events an edit computed anew; parts point here
    std::vector<uint32_t> madeWindows;        // their windows, when the input has a table
    bool keepsTimeline = true;                // false: the inputs' tracks no longer fit
};

// Milliseconds from events[begin] to events[end - 1], and the gap before events[end - 1].
uint64_t Span(const std::vector<platform::EventRecord>& events, size_t begin, size_t end);
uint32_t LastGap(const std::vector<platform::EventRecord>& events, size_t begin, size_t end);

// Each edit fills `edit` or says why it cannot. `gap` is null for the default: the last gap of
// the part before each join.
bool Cut(const Input& input, uint64_t from, uint64_t to, bool until, Edit* edit, std::string* why);
bool Repeat(const Input& input, uint64_t times, const uint32_t* gap, Edit* edit, std::string* why);
bool Cat(const std::vector<Input>& inputs, const uint32_t* gap, Edit* edit, std::string* why);
bool Speed(const Input& input, double factor, uint64_t from, uint64_t to, Edit* edit,
           std::string* why);
bool DropMoves(const Input& input, Edit* edit, std::string* why);
bool SimplifyMoves(const Input& input, uint64_t closerThan, Edit* edit, std::string* why);

// The program's hotkeys at a journal's ends: the releases of one that started the recording
// (anywhere, as releases of keys never pressed in it) and the presses of one that stopped it
// (its keys going down after the last other key event). Null chords where there is none.
struct CommandChords {
    const platform::HotkeyChord* start = nullptr;
    std::vector<size_t> startEvents;
    const platform::HotkeyChord* stop = nullptr;
    std::vector<size_t> stopEvents;
};
CommandChords FindCommandChords(const std::vector<platform::EventRecord>& events);
std::string ChordName(const platform::HotkeyChord& chord);
// The input without the events of `chords`.
bool Trim(const Input& input, const CommandChords& chords, Edit* edit, std::string* why);

// The result's figures, for the messages and the size checks.
uint64_t EventCount(const Edit& edit);
// Bytes of the result's track: 0 when no part has sound.
uint64_t TrackLength(const Edit& edit);

// The result names the windows its events belong to, each once, unless `windows` is false.
bool WriteEditJournal(const std::string& path, const Edit& edit, bool windows, std::string* why);
bool WriteEditTrack(const std::string& journalPath, const Edit& edit, std::string* why);

}  // namespace qvjournal
