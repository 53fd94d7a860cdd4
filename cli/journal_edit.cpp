// The journal tool's edits laid out as parts: cut, repeat, cat, speed, the moves dropped or
// merged, and the trim of the program's hotkeys at a journal's ends, which it finds here too.
// Writing a layout out: journal_edit_write.cpp.
#include "cli/journal_edit.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "journal/hotkey_filter.h"

namespace qvjournal {

namespace {

const uint32_t kMouseMove = 0x200;
// What a journal file can hold: 40 bytes of header and 20 for each event, within 2 GiB.
const uint64_t kMostEvents = (journal::kLargestFile - journal::kHeaderSize) / journal::kRecordSize;

bool IsMove(const platform::EventRecord& e) {
    return (e.message & 0xFFFF) == kMouseMove;
}

int32_t Clamped(int64_t value) {
    return int32_t(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, value)));
}

std::string Ms(uint64_t ms) {
    return std::to_string(ms) + " ms";
}

// Offsets of every event from the first, in ms.
std::vector<uint64_t> Offsets(const std::vector<platform::EventRecord>& events) {
    std::vector<uint64_t> offsets(events.size(), 0);
    for (size_t i = 1; i < events.size(); i++)
        offsets[i] = offsets[i - 1] + uint32_t(events[i].time - events[i - 1].time);
    return offsets;
}

const std::vector<uint8_t>* TrackOf(const Input& input) {
    return input.companion == Companion::kTrack ? &input.track : nullptr;
}

Part Whole(const Input& input) {
    const std::vector<platform::EventRecord>& events = input.image.events;
    return Part{&events,
                0,
                events.size(),
                0,
                1,
                0,
                TrackOf(input),
                0,
                kNoEnd,
                &input.image,
                &input.image.windowOf,
                &input.placeOf,
                &input.image.pictures,
                &input.image.motions};
}

// The item of a list in event order that speaks of `event`; null when none does.
template <class Item>
const Item* Find(const std::vector<Item>& items, size_t event) {
    auto at = std::lower_bound(items.begin(), items.end(), event,
                               [](const Item& item, size_t e) { return item.event < e; });
    return at != items.end() && at->event == event ? &*at : nullptr;
}

bool NotEmpty(const Input& input, std::string* why) {
    if (!input.image.events.empty())
        return true;
    *why = input.path + " holds no events";
    return false;
}

// An edit that computed its events anew: one part over them; `from` is where the first of them
// lies on the input's timeline. Where they are the input's one for one, `sameIndexes`, what the
// header says of them is the input's; else the edit's own.
void MadeEdit(const Input& input, uint64_t from, bool keepsTimeline, bool sameIndexes, Edit* edit) {
    edit->keepsTimeline = keepsTimeline;
    Part part = Whole(input);
    part.events = &edit->made;
    part.end = edit->made.size();
    part.track = keepsTimeline ? TrackOf(input) : nullptr;
    part.trackFrom = from;
    if (!sameIndexes) {
        part.windowOf = &edit->madeWindows;
        part.placeOf = &edit->madePlaces;
        part.pictures = &edit->madePictures;
        part.motions = &edit->madeMotions;
    }
    edit->parts = {part};
}

// Keeps the input's event `i`, with what the header says of it, among the events of an edit.
void Take(const Input& input, size_t i, Edit* edit) {
    uint32_t at = uint32_t(edit->made.size());
    edit->made.push_back(input.image.events[i]);
    if (!input.image.windowOf.empty()) {
        edit->madeWindows.push_back(input.image.windowOf[i]);
        edit->madePlaces.push_back(input.placeOf[i]);
    }
    if (const PictureBytes* picture = Find(input.image.pictures, i))
        edit->madePictures.push_back({at, picture->bytes});
    if (const journal::EventMotion* motion = Find(input.image.motions, i))
        edit->madeMotions.push_back({at, motion->dx, motion->dy, motion->flags});
}

}  // namespace

uint64_t Span(const std::vector<platform::EventRecord>& events, size_t begin, size_t end) {
    uint64_t span = 0;
    for (size_t i = begin + 1; i < end; i++)
        span += uint32_t(events[i].time - events[i - 1].time);
    return span;
}

uint32_t LastGap(const std::vector<platform::EventRecord>& events, size_t begin, size_t end) {
    return end - begin >= 2 ? events[end - 1].time - events[end - 2].time : 0;
}

bool Cut(const Input& input, uint64_t from, uint64_t to, bool until, Edit* edit, std::string* why) {
    if (!NotEmpty(input, why))
        return false;
    const std::vector<platform::EventRecord>& events = input.image.events;
    std::vector<uint64_t> offsets = Offsets(events);
    size_t begin = 0;
    while (begin < events.size() && offsets[begin] < from)
        begin++;
    size_t end = begin;
    while (end < events.size() && offsets[end] <= to)
        end++;
    if (begin == end) {
        *why = "no event of " + input.path + " lies between " + Ms(from) + " and " +
               (until ? Ms(to) : std::string("its end")) + " (its events span " +
               Ms(offsets.back()) + ")";
        return false;
    }
    Part part = Whole(input);
    part.begin = begin;
    part.end = end;
    part.trackFrom = offsets[begin];
    part.trackUntil = until ? to : kNoEnd;
    edit->parts = {part};
    return true;
}

bool Repeat(const Input& input, uint64_t times, const uint32_t* gap, Edit* edit, std::string* why) {
    if (!NotEmpty(input, why))
        return false;
    const std::vector<platform::EventRecord>& events = input.image.events;
    if (times > kMostEvents / events.size()) {
        *why = std::to_string(times) + " times " + std::to_string(events.size()) +
               " events is more than a journal file holds (" + std::to_string(kMostEvents) +
               " events)";
        return false;
    }
    Part part = Whole(input);
    part.times = times;
    part.period = Span(events, 0, events.size()) + (gap ? *gap : LastGap(events, 0, events.size()));
    edit->parts = {part};
    return true;
}

bool Cat(const std::vector<Input>& inputs, const uint32_t* gap, Edit* edit, std::string* why) {
    edit->parts.clear();
    uint64_t at = 0, count = 0;
    for (const Input& input : inputs) {
        const std::vector<platform::EventRecord>& events = input.image.events;
        if (events.empty())
            continue;  // adds nothing, not even a gap
        Part part = Whole(input);
        if (!edit->parts.empty()) {
            const Part& before = edit->parts.back();
            at += Span(*before.events, before.begin, before.end) +
                  (gap ? *gap : LastGap(*before.events, before.begin, before.end));
        }
        part.at = at;
        edit->parts.push_back(part);
        count += events.size();
    }
    if (edit->parts.empty()) {
        *why = "none of the journals holds an event";
        return false;
    }
    if (count > kMostEvents) {
        *why = "together they hold " + std::to_string(count) +
               " events, more than a journal file holds (" + std::to_string(kMostEvents) + ")";
        return false;
    }
    return true;
}

bool Speed(const Input& input, double factor, uint64_t from, uint64_t to, Edit* edit,
           std::string* why) {
    if (!NotEmpty(input, why))
        return false;
    const std::vector<platform::EventRecord>& events = input.image.events;
    std::vector<uint64_t> offsets = Offsets(events);
    edit->made = events;
    // The result's offsets are rounded from the exact scaled ones, so rounding never adds up.
    long double exact = 0;
    uint64_t previous = 0;
    for (size_t i = 1; i < events.size(); i++) {
        long double gap = uint32_t(events[i].time - events[i - 1].time);
        bool scaled = offsets[i - 1] >= from && offsets[i] <= to;
        exact += scaled ? gap / factor : gap;
        long double rounded = std::floor(exact + 0.5L);
        if (rounded - previous > 0xFFFFFFFFu) {
            char shown[32];
            snprintf(shown, sizeof shown, "%g", double(factor));
            *why = std::string("at speed ") + shown + " the gap before event " +
                   std::to_string(i + 1) + " would be longer than 49 days";
            return false;
        }
        uint64_t offset = uint64_t(rounded);
        edit->made[i].time = edit->made[i - 1].time + uint32_t(offset - previous);
        previous = offset;
    }
    MadeEdit(input, 0, false, true, edit);
    return true;
}

namespace {

// The input without the events `dropped` picks, on the first kept event's timeline; refused when
// nothing is left.
template <class Dropped>
bool KeepAllBut(const Input& input, Dropped dropped, const char* what, Edit* edit,
                std::string* why) {
    std::vector<uint64_t> offsets = Offsets(input.image.events);
    edit->made.clear();
    uint64_t from = 0;
    for (size_t i = 0; i < input.image.events.size(); i++) {
        if (dropped(i))
            continue;
        if (edit->made.empty())
            from = offsets[i];
        Take(input, i, edit);
    }
    if (edit->made.empty()) {
        *why = input.path + " holds nothing but " + what;
        return false;
    }
    MadeEdit(input, from, true, false, edit);
    return true;
}

}  // namespace

bool DropMoves(const Input& input, Edit* edit, std::string* why) {
    if (!NotEmpty(input, why))
        return false;
    const std::vector<platform::EventRecord>& events = input.image.events;
    return KeepAllBut(
        input, [&](size_t i) { return IsMove(events[i]); }, "mouse moves", edit, why);
}

bool SimplifyMoves(const Input& input, uint64_t closerThan, Edit* edit, std::string* why) {
    if (!NotEmpty(input, why))
        return false;
    const std::vector<platform::EventRecord>& events = input.image.events;
    std::vector<uint64_t> offsets = Offsets(events);
    edit->made.clear();
    uint64_t from = 0;
    // The motion of the moves merged since the last kept one: the kept move plays it all.
    int64_t dx = 0, dy = 0;
    uint32_t flags = 0;
    bool merging = false;
    for (size_t i = 0; i < events.size(); i++) {
        // A move followed closely by another is merged into the later one.
        bool merged = i + 1 < events.size() && IsMove(events[i]) && IsMove(events[i + 1]) &&
                      uint32_t(events[i + 1].time - events[i].time) < closerThan;
        const journal::EventMotion* motion = Find(input.image.motions, i);
        if (merged) {
            if (motion) {
                dx += motion->dx;
                dy += motion->dy;
                flags = motion->flags | (flags & journal::kMotionPlayed);
                merging = true;
            }
            continue;
        }
        if (edit->made.empty())
            from = offsets[i];
        Take(input, i, edit);
        if (!merging)
            continue;
        if (!motion)
            edit->madeMotions.push_back({uint32_t(edit->made.size() - 1), 0, 0, flags});
        journal::EventMotion& kept = edit->madeMotions.back();
        kept.dx = Clamped(kept.dx + dx);
        kept.dy = Clamped(kept.dy + dy);
        kept.flags |= flags & journal::kMotionPlayed;
        dx = dy = 0;
        flags = 0;
        merging = false;
    }
    MadeEdit(input, from, true, false, edit);
    return true;
}

namespace {

const uint32_t kModifiers[][2] = {{MOD_CONTROL, 0x11}, {MOD_ALT, 0x12}, {MOD_SHIFT, 0x10}};

// The indexes of `found` (one per key, 0 for none) for the chord's keys; empty when one is
// missing.
std::vector<size_t> ChordEvents(const platform::HotkeyChord& chord,
                                const std::vector<size_t>& found) {
    std::vector<size_t> at;
    for (const auto& m : kModifiers)
        if (chord.modifiers & m[0])
            at.push_back(found[m[1]]);
    at.push_back(found[chord.key]);
    for (size_t i : at)
        if (!i)
            return {};
    return at;
}

}  // namespace

std::string ChordName(const platform::HotkeyChord& chord) {
    std::string name;
    for (const char* m : {"Ctrl+", "Alt+", "Shift+"})
        if (chord.modifiers & (m[0] == 'C' ? MOD_CONTROL : m[0] == 'A' ? MOD_ALT : MOD_SHIFT))
            name += m;
    return name +
           (chord.key == VK_DELETE ? std::string("Delete") : std::string(1, char(chord.key)));
}

CommandChords FindCommandChords(const std::vector<platform::EventRecord>& events) {
    CommandChords found;
    // The first release of each key that was never pressed before it (index + 1).
    std::vector<size_t> releases(256, 0);
    std::vector<bool> down(256, false);
    for (size_t i = 0; i < events.size(); i++) {
        bool press = journal::IsKeyDown(events[i]);
        if (!press && !journal::IsKeyUp(events[i]))
            continue;
        uint32_t key = journal::KeyOf(events[i]);
        if (!press && !down[key] && !releases[key])
            releases[key] = i + 1;
        down[key] = press;
    }
    for (const platform::HotkeyChord& chord : journal::kHotkeys) {
        std::vector<size_t> at = ChordEvents(chord, releases);
        if (found.start || at.empty())
            continue;
        found.start = &chord;
        for (size_t i : at)
            found.startEvents.push_back(i - 1);
    }
    // The chord's keys pressed and not let go of by the end: the chord that stopped the
    // recording, with its keys' repeats, wherever they fall among the last keys (a letter may be
    // let go of after the chord began), but for a modifier that went down before the user's last
    // key press, which it shaped (Shift still held from a capital): that one is the user's.
    std::vector<size_t> lastUp(256, 0);  // index + 1
    for (size_t i = 0; i < events.size(); i++)
        if (journal::IsKeyUp(events[i]))
            lastUp[journal::KeyOf(events[i])] = i + 1;
    for (const platform::HotkeyChord& chord : journal::kHotkeys) {
        size_t lastOwn = 0;  // index + 1 of the last press of a key outside the chord
        for (size_t i = 0; i < events.size(); i++)
            if (journal::IsKeyDown(events[i]) &&
                !journal::InChord(chord, journal::KeyOf(events[i])))
                lastOwn = i + 1;
        std::vector<size_t> presses(256, 0), at;
        for (size_t i = 0; i < events.size(); i++) {
            uint32_t key = journal::KeyOf(events[i]);
            if (!journal::IsKeyDown(events[i]) || i < lastUp[key] || !journal::InChord(chord, key))
                continue;
            presses[key] = i + 1;
            if (i >= lastOwn)
                at.push_back(i);
        }
        if (found.stop || ChordEvents(chord, presses).empty())
            continue;
        found.stop = &chord;
        found.stopEvents = at;
    }
    return found;
}

bool Trim(const Input& input, const CommandChords& chords, Edit* edit, std::string* why) {
    const std::vector<platform::EventRecord>& events = input.image.events;
    if (!chords.start && !chords.stop) {
        *why = input.path +
               " neither begins with the releases of one of the program's hotkeys nor ends with "
               "one: nothing to trim";
        return false;
    }
    std::vector<bool> drop(events.size(), false);
    for (size_t i : chords.startEvents)
        drop[i] = true;
    for (size_t i : chords.stopEvents)
        drop[i] = true;
    return KeepAllBut(
        input, [&](size_t i) { return drop[i]; }, "the program's hotkeys", edit, why);
}

uint64_t EventCount(const Edit& edit) {
    uint64_t count = 0;
    for (const Part& p : edit.parts)
        count += (p.end - p.begin) * p.times;
    return count;
}

void FindPlaces(Input* input) {
    const JournalImage& image = input->image;
    input->placeOf.assign(image.windowOf.size(), 0);
    std::vector<uint32_t> latest(image.windows.size() + 1, 0);
    size_t place = 0;
    for (size_t i = 0; i < image.windowOf.size(); i++) {
        uint32_t window = image.windowOf[i];
        if (place < image.places.size() && image.places[place].event == i)
            latest[window] = uint32_t(++place);
        input->placeOf[i] = window ? latest[window] : 0;
    }
}

}  // namespace qvjournal
