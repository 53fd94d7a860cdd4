// An edit's layout written out: the journal as Save writes it, its windows each once by their
// names, each event's place, picture and motion as its input had them; and the companion track,
// piece by piece, in step with the events.
#include <cstring>

#include "cli/journal_edit.h"
#include "journal/window_table.h"
#include "sound/sound_file_format.h"

namespace qvjournal {

namespace {

// What a place and a move's motion take in a header.
const uint64_t kPlaceBytes = 24;
const uint64_t kMotionBytes = 16;

// The track's byte where `ms` falls, counted so that the product cannot overflow.
uint64_t TrackByte(uint64_t ms) {
    return ms / 1000 * sound::kBytesPerSecond + ms % 1000 * sound::kBytesPerSecond / 1000;
}

bool SameNames(const platform::WindowInfo& a, const platform::WindowInfo& b) {
    return strcmp(a.program, b.program) == 0 && strcmp(a.windowClass, b.windowClass) == 0 &&
           strcmp(a.title, b.title) == 0;
}

// Where the window of a part's event `i` stood, as its input tells.
void PlaceOf(const Part& p, size_t i, platform::WindowRect* rect, uint32_t* dpi) {
    uint32_t place = (*p.placeOf)[i];
    if (place) {
        *rect = p.image->places[place - 1].rect;
        *dpi = p.image->places[place - 1].dpi;
    } else {
        const platform::WindowInfo& entry = p.image->windows[(*p.windowOf)[i] - 1];
        *rect = entry.rect;
        *dpi = entry.dpi;
    }
}

// The result's window table: the windows its events belong to, those of equal names once,
// each where its first event found it, and for each part the result's number of each of its
// input's windows. False when they are too many.
bool CollectWindows(const Edit& edit, std::vector<platform::WindowInfo>* table,
                    std::vector<std::vector<uint32_t>>* numbers, std::string* why) {
    numbers->assign(edit.parts.size(), {});
    for (size_t k = 0; k < edit.parts.size(); k++) {
        const Part& p = edit.parts[k];
        if (p.windowOf->empty())
            continue;
        std::vector<uint32_t>& number = (*numbers)[k];
        number.assign(p.image->windows.size() + 1, 0);
        for (size_t i = p.begin; i < p.end; i++) {
            uint32_t window = (*p.windowOf)[i];
            if (!window || number[window])
                continue;
            platform::WindowInfo info = p.image->windows[window - 1];
            size_t at = 0;
            while (at < table->size() && !SameNames((*table)[at], info))
                at++;
            if (at == table->size()) {
                PlaceOf(p, i, &info.rect, &info.dpi);
                table->push_back(info);
            }
            number[window] = uint32_t(at + 1);
        }
        if (table->size() > journal::kMostWindows) {
            *why = "the result's events belong to more than " +
                   std::to_string(journal::kMostWindows) +
                   " windows, more than a journal names (--no-windows leaves them out)";
            return false;
        }
    }
    return true;
}

// The placement after the last one: where the last part's last repetition starts.
uint64_t LastStart(const Edit& edit) {
    const Part& last = edit.parts.back();
    return last.at + (last.times - 1) * last.period;
}

uint64_t LastTrackLength(const Part& last) {
    if (!last.track)
        return 0;
    uint64_t from = TrackByte(last.trackFrom);
    uint64_t until = last.trackUntil == kNoEnd ? last.track->size() : TrackByte(last.trackUntil);
    if (until > last.track->size())
        until = last.track->size();
    return until > from ? until - from : 0;
}

// Walks the result's events in order.
struct EventCursor {
    const Edit* edit;
    // For each part, the result's number of each of its input's windows (none when empty).
    std::vector<std::vector<uint32_t>> windows;
    size_t part = 0;
    uint64_t repetition = 0;
    size_t index = 0;
    uint32_t firstTime = 0;
    uint32_t time = 0;
    size_t picture = 0;  // the next of the part's pictures and motions that may come
    size_t motion = 0;
};

// What the header says of a result event.
struct Extras {
    uint32_t window;  // the result's number; 0 for none
    platform::WindowRect rect;
    uint32_t dpi;
    const PictureBytes* picture;
    const journal::EventMotion* motion;
};

// The next item of a list in event order that speaks of `event`, which comes after the one
// before: `at` moves on past those before it.
template <class Item>
const Item* Next(const std::vector<Item>& items, size_t* at, size_t event) {
    while (*at < items.size() && items[*at].event < event)
        ++*at;
    return *at < items.size() && items[*at].event == event ? &items[*at] : nullptr;
}

bool Advance(EventCursor& c, platform::EventRecord* record, Extras* extras) {
    while (c.part < c.edit->parts.size()) {
        const Part& p = c.edit->parts[c.part];
        if (c.repetition == p.times) {
            c.part++;
            c.repetition = 0;
            continue;
        }
        size_t i = p.begin + c.index;
        const std::vector<platform::EventRecord>& events = *p.events;
        if (c.index == 0) {
            c.time = c.firstTime + uint32_t(p.at + c.repetition * p.period);
            c.picture = c.motion = 0;
        } else {
            c.time += events[i].time - events[i - 1].time;
        }
        *record = events[i];
        record->time = c.time;
        const std::vector<uint32_t>& windows = c.windows[c.part];
        extras->window = windows.empty() ? 0 : windows[(*p.windowOf)[i]];
        if (extras->window)
            PlaceOf(p, i, &extras->rect, &extras->dpi);
        extras->picture = Next(*p.pictures, &c.picture, i);
        extras->motion = Next(*p.motions, &c.motion, i);
        if (++c.index == p.end - p.begin) {
            c.index = 0;
            c.repetition++;
        }
        return true;
    }
    return false;
}

bool NextEvent(void* context, platform::EventRecord* record, uint32_t* window) {
    Extras extras;
    bool more = Advance(*static_cast<EventCursor*>(context), record, &extras);
    *window = extras.window;
    return more;
}

// The result's places, pictures and motion, walking its events from `cursor` on: a place
// wherever an event's window stood elsewhere than at the event of that window before it (at
// first: than its entry says). False when they take more than a header may.
bool CollectSections(EventCursor cursor, uint64_t count, const Keep& keep, JournalImage* sections,
                     std::string* why) {
    std::vector<journal::WindowPlace> stood;
    for (const platform::WindowInfo& entry : sections->windows)
        stood.push_back({0, entry.rect, entry.dpi});
    uint64_t bytes =
        journal::WindowTableSize(sections->windows.data(), uint32_t(sections->windows.size()));
    platform::EventRecord record;
    Extras e;
    for (uint32_t k = 0; Advance(cursor, &record, &e); k++) {
        if (e.window) {
            journal::WindowPlace& before = stood[e.window - 1];
            if (memcmp(&before.rect, &e.rect, sizeof e.rect) != 0 || before.dpi != e.dpi) {
                before = {k, e.rect, e.dpi};
                sections->places.push_back(before);
                bytes += kPlaceBytes;
            }
        }
        if (keep.screens && e.picture) {
            sections->pictures.push_back({k, e.picture->bytes});
            bytes += 4 + e.picture->bytes.size();
        }
        // Counts without flags too: a replay by motion plays them, and Save keeps them.
        if (keep.motion && e.motion) {
            sections->motions.push_back({k, e.motion->dx, e.motion->dy, e.motion->flags});
            bytes += kMotionBytes;
        }
        // Stopped before it takes all memory: a header may not hold that much.
        if (bytes > journal::kLargestHeaderBytes) {
            *why = TooLarge(count, bytes, !sections->windows.empty());
            return false;
        }
    }
    return true;
}

// Walks the result's track: one piece for each placement of a part.
struct TrackCursor {
    const Edit* edit;
    size_t part = 0;
    uint64_t repetition = 0;
};

bool NextPieceOf(void* context, TrackPiece* piece) {
    TrackCursor& c = *static_cast<TrackCursor*>(context);
    const std::vector<Part>& parts = c.edit->parts;
    while (c.part < parts.size() && c.repetition == parts[c.part].times) {
        c.part++;
        c.repetition = 0;
    }
    if (c.part == parts.size())
        return false;
    const Part& p = parts[c.part];
    uint64_t start = p.at + c.repetition * p.period;
    c.repetition++;
    piece->source = p.track;
    piece->from = TrackByte(p.trackFrom);
    bool last = c.part + 1 == parts.size() && c.repetition == p.times;
    if (last) {
        piece->length = LastTrackLength(p);
    } else {
        uint64_t next =
            c.repetition < p.times ? p.at + c.repetition * p.period : parts[c.part + 1].at;
        // Cut at the next placement, or padded with silence up to it.
        piece->length = TrackByte(next) - TrackByte(start);
    }
    return true;
}

}  // namespace

uint64_t TrackLength(const Edit& edit) {
    bool sound = false;
    for (const Part& p : edit.parts)
        sound = sound || p.track;
    if (!sound || edit.parts.empty())
        return 0;
    return TrackByte(LastStart(edit)) + LastTrackLength(edit.parts.back());
}

bool WriteEditJournal(const std::string& path, const Edit& edit, const Keep& keep,
                      std::string* why) {
    const Part& first = edit.parts.front();
    const Part& last = edit.parts.back();
    uint32_t firstTime = (*first.events)[first.begin].time;
    uint32_t lastTime =
        firstTime + uint32_t(LastStart(edit) + Span(*last.events, last.begin, last.end));
    uint64_t count = EventCount(edit);
    EventCursor cursor;
    cursor.edit = &edit;
    cursor.firstTime = firstTime;
    JournalImage sections;
    cursor.windows.assign(edit.parts.size(), {});
    if (keep.windows && !CollectWindows(edit, &sections.windows, &cursor.windows, why))
        return false;
    // The records alone first: the walk over them would take as long as writing them.
    *why = TooLarge(count, 0, !sections.windows.empty());
    if (!why->empty())
        return false;
    bool more = !sections.windows.empty();
    for (const Part& p : edit.parts)
        more =
            more || (keep.screens && !p.pictures->empty()) || (keep.motion && !p.motions->empty());
    if (more && !CollectSections(cursor, count, keep, &sections, why))
        return false;
    return WriteCanonicalJournal(path, uint32_t(count), firstTime, lastTime, sections, NextEvent,
                                 &cursor, why);
}

bool WriteEditTrack(const std::string& journalPath, const Edit& edit, std::string* why) {
    TrackCursor cursor;
    cursor.edit = &edit;
    return WriteCompanion(journalPath, NextPieceOf, &cursor, why);
}

}  // namespace qvjournal
