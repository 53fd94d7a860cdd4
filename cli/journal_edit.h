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
    // Where each event's window stood: 0 at its entry in the table, n at image.places[n - 1]
    // (none without windows). FindPlaces fills it in.
    std::vector<uint32_t> placeOf;
};

void FindPlaces(Input* input);

// events[begin, end) placed `times` times, `period` ms apart, the first at `at` ms after the
// result's first event. Its sound is the track from `trackFrom` ms on (where events[begin] was
// recorded); the last part's sound ends at `trackUntil` ms of the track, or where the track
// does (kNoEnd); any other part's ends where the next one starts.
inline constexpr uint64_t kNoEnd = ~uint64_t(0);
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
    // What the header says of `events`, by their index: each one's window and where it stood
    // (none when empty; as Input::placeOf, in the table and places of `image`), the pictures of
    // presses and the motion of moves.
    const JournalImage* image = nullptr;
    const std::vector<uint32_t>* windowOf = nullptr;
    const std::vector<uint32_t>* placeOf = nullptr;
    const std::vector<PictureBytes>* pictures = nullptr;
    const std::vector<journal::EventMotion>* motions = nullptr;
};

struct Edit {
    Edit() = default;
    Edit(const Edit&) = delete;  // parts may point into `made`
    Edit& operator=(const Edit&) = delete;

    std::vector<Part> parts;
    std::vector<platform::EventRecord> made;  // events an edit computed anew; parts point here
    // What the header says of them, as Part has it.
    std::vector<uint32_t> madeWindows;
    std::vector<uint32_t> madePlaces;
    std::vector<PictureBytes> madePictures;
    std::vector<journal::EventMotion> madeMotions;
    bool keepsTimeline = true;  // false: the inputs' tracks no longer fit
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

// What a result keeps of its events besides the records: their windows and where those stood,
// the pictures of presses, the motion of moves.
struct Keep {
    bool windows = true;
    bool screens = true;
    bool motion = true;
};

// The result as Save writes it: the windows its events belong to, each once by its names, and
// each event's place, picture and motion as its input had them.
bool WriteEditJournal(const std::string& path, const Edit& edit, const Keep& keep,
                      std::string* why);
bool WriteEditTrack(const std::string& journalPath, const Edit& edit, std::string* why);

}  // namespace qvjournal
