// The commands that show what a journal holds: `info` and `pictures`.
#include "cli/journal_info.h"

#include <cstdio>
#include <iterator>

#include "journal/hotkey_filter.h"

#include "cli/journal_commands.h"
#include "cli/journal_edit.h"
#include "cli/journal_io.h"
#include "cli/journal_text_names.h"
#include "journal/journal_codec.h"
#include "journal/picture_file.h"
#include "platform/file.h"
#include "sound/sound_file_format.h"

namespace qvjournal {

void PrintEvents(FILE* out, const std::vector<platform::EventRecord>& events) {
    uint64_t keys = 0, buttons = 0, moves = 0, wheel = 0;
    for (const platform::EventRecord& e : events) {
        uint32_t kind = e.message & 0xFFFF;
        if (kind == 0x100 || kind == 0x101 || kind == 0x104 || kind == 0x105)
            keys++;
        else if (kind == 0x200)
            moves++;
        else if (kind == 0x20A || kind == 0x20E)
            wheel++;
        else if (kind >= 0x201 && kind <= 0x20D)
            buttons++;
    }
    uint64_t other = events.size() - keys - buttons - moves - wheel;
    fprintf(out,
            "events:       %zu (keys %llu, buttons %llu, moves %llu, wheel %llu, other "
            "%llu)\n",
            events.size(), (unsigned long long)keys, (unsigned long long)buttons,
            (unsigned long long)moves, (unsigned long long)wheel, (unsigned long long)other);
    if (events.empty())
        return;
    uint64_t span = Span(events, 0, events.size());
    fprintf(out, "first time:   %u ms\nlast time:    %u ms\n", events.front().time,
            events.back().time);
    fprintf(out, "duration:     %llu ms (%s)\n", (unsigned long long)span, Seconds(span).c_str());
    uint64_t back = 0;
    for (size_t i = 1; i < events.size(); i++)
        back += journal::StepsBack(events[i - 1].time, events[i].time);
    if (back) {
        fprintf(out,
                "steps back:   %llu (an event stamped before the one ahead of it; played as no "
                "pause)\n",
                (unsigned long long)back);
    }
}

std::string Seconds(uint64_t ms) {
    char text[40];
    snprintf(text, sizeof text, "%llu.%03u s", (unsigned long long)(ms / 1000),
             unsigned(ms % 1000));
    return text;
}

void PrintSound(FILE* out, const std::string& path, uint64_t span) {
    Companion kind;
    std::vector<uint8_t> track;
    std::string why, name = CompanionName(path);
    if (!ReadCompanion(path, &kind, &track, &why)) {
        fprintf(out, "sound:        %s\n", why.c_str());
        return;
    }
    if (kind == Companion::kNone) {
        fprintf(out, "sound:        none (no %s beside it)\n", name.c_str());
    } else if (kind == Companion::kForeign) {
        fprintf(out, "sound:        none (%s is not a sound file of this program)\n", name.c_str());
    } else if (kind == Companion::kStale) {
        fprintf(out,
                "sound:        none (%s was written before the journal, by an earlier "
                "recording)\n",
                name.c_str());
    } else {
        uint64_t ms = track.size() * 1000 / sound::kBytesPerSecond;
        fprintf(out, "sound:        %s, %s of sound (%zu bytes)%s\n", name.c_str(),
                Seconds(ms).c_str(), track.size(),
                span && ms + 1000 < span ? ", shorter than the events" : "");
    }
}

// Presses of the program's hotkeys: a replay passes over them; trim removes those that started
// and stopped the recording.
void PrintHotkeys(FILE* out, const std::vector<platform::EventRecord>& events) {
    journal::HotkeyFilter filter(journal::kHotkeys, std::size(journal::kHotkeys));
    uint64_t presses = 0;
    const platform::HotkeyChord* first = nullptr;
    uint64_t at = 0;
    bool inPress = false;
    for (size_t i = 0; i < events.size(); i++) {
        bool taken = filter.Take(events[i]);
        if (taken && journal::IsKeyDown(events[i]) && !inPress) {
            if (!presses++) {
                first = filter.LastChord();
                at = Span(events, 0, i + 1);
            }
        }
        if (taken)
            inPress = journal::IsKeyDown(events[i]);
    }
    if (presses)
        fprintf(out,
                "hotkeys:      %llu press%s of the program's own (the first %s at %llu ms); a "
                "replay passes over them\n",
                (unsigned long long)presses, presses == 1 ? "" : "es", ChordName(*first).c_str(),
                (unsigned long long)at);
    CommandChords chords = FindCommandChords(events);
    if (chords.start || chords.stop)
        fprintf(out, "trim:         would remove%s%s%s%s%s\n",
                chords.start ? " the releases of " : "",
                chords.start ? ChordName(*chords.start).c_str() : "",
                chords.start ? " at the start" : "", chords.start && chords.stop ? " and" : "",
                chords.stop
                    ? std::string(" ").append(ChordName(*chords.stop)).append(" at the end").c_str()
                    : "");
}

void PrintWindows(FILE* out, const JournalImage& image) {
    if (image.windows.empty())
        return;
    std::vector<uint64_t> events(image.windows.size() + 1, 0), moves(image.windows.size() + 1, 0);
    for (uint32_t window : image.windowOf)
        events[window]++;
    for (const journal::WindowPlace& place : image.places)
        moves[image.windowOf[place.event]]++;
    fprintf(out, "windows:      %zu (events in none of them: %llu)\n", image.windows.size(),
            (unsigned long long)events[0]);
    for (size_t i = 0; i < image.windows.size(); i++) {
        const platform::WindowInfo& w = image.windows[i];
        uint64_t moved = moves[i + 1];
        fprintf(
            out, "  %zu: %s, class %s, \"%s\", %d,%d to %d,%d, %u dpi: %llu events%s\n", i + 1,
            w.program[0] ? w.program : "(program unknown)", w.windowClass, w.title, w.rect.left,
            w.rect.top, w.rect.right, w.rect.bottom, w.dpi, (unsigned long long)events[i + 1],
            moved ? (", moved " + std::to_string(moved) + (moved == 1 ? " time" : " times")).c_str()
                  : "");
    }
}

// What a replay does with the pictures and the motion; the sections a later version wrote.
void PrintSections(FILE* out, const JournalImage& image) {
    uint64_t presses = 0, moves = 0, plain = 0, played = 0;
    for (const platform::EventRecord& e : image.events) {
        presses += journal::IsButtonDown(e);
        moves += (e.message & 0xFFFF) == 0x200;
    }
    for (const PictureBytes& picture : image.pictures)
        plain += (picture.bytes[2] & 1) != 0;  // the flags of its head
    for (const journal::EventMotion& motion : image.motions)
        played += (motion.flags & journal::kMotionPlayed) != 0;
    if (!image.pictures.empty())
        fprintf(out, "pictures:     %zu of %llu presses (%llu too plain to check)\n",
                image.pictures.size(), (unsigned long long)presses, (unsigned long long)plain);
    if (!image.motions.empty())
        fprintf(out, "motion:       %zu of %llu moves (%llu played by motion)\n",
                image.motions.size(), (unsigned long long)moves, (unsigned long long)played);
    if (image.others.empty())
        return;
    std::string names;
    for (const journal::OtherSection& section : image.others)
        names += (names.empty() ? "" : ", ") + text::TagName(section.tag) + " (" +
                 std::to_string(section.bytes.size()) + " bytes)";
    fprintf(out, "later:        %s: sections of a later version, which edits leave out\n",
            names.c_str());
}

int Info(FILE* out, FILE* err, const std::string& path) {
    JournalImage image;
    journal::Refusal refusal;
    uint32_t size;
    std::string why;
    bool loads = ReadJournal(path, &image, &refusal, &size, &why);
    if (!loads && refusal == journal::Refusal::kNone)
        return Refuse(err, path + ": " + why);
    const JournalHeader& h = image.header;
    fprintf(out, "file:         %s, %u bytes\n", path.c_str(), size);
    fprintf(out, "loads:        %s\n",
            loads ? "yes" : ("no: " + DescribeRefusal(refusal, h, size)).c_str());
    if (refusal != journal::Refusal::kShort && refusal != journal::Refusal::kSignature) {
        fprintf(out, "header:       header size %u, record size %u, %u records\n", h.headerSize,
                h.recordSize, h.count);
        fprintf(out, "header times: first %u, last %u, duration %u\n", h.firstTime, h.lastTime,
                h.duration);
    }
    if (loads) {
        PrintEvents(out, image.events);
        PrintHotkeys(out, image.events);
        PrintWindows(out, image);
        PrintSections(out, image);
    }
    PrintSound(out, path, loads ? Span(image.events, 0, image.events.size()) : 0);
    if (!loads)
        return Refuse(err, path + " would not load: " + DescribeRefusal(refusal, h, size));
    return kDone;
}

namespace {

// "0012-left-down-at-1500ms": the event's number from 1, its button, its time from the first.
std::string PictureName(size_t index, const platform::EventRecord& e, uint64_t at) {
    uint32_t kind = e.message & 0xFFFF;
    std::string button = kind == 0x20B ? std::string("x").append(std::to_string(e.message >> 16))
                                       : text::kButtons[(kind - 0x201) / 3];
    char number[24];
    snprintf(number, sizeof number, "%04zu", index + 1);
    return std::string(number) + "-" + button + "-down-at-" + std::to_string(at) + "ms";
}

}  // namespace

int Pictures(FILE* out, FILE* err, const std::string& path, const std::string& folder) {
    JournalImage image;
    journal::Refusal refusal;
    uint32_t size;
    std::string why;
    if (!ReadJournal(path, &image, &refusal, &size, &why))
        return Refuse(err, path + ": " + why);
    if (image.pictures.empty())
        return Refuse(err, path +
                               " holds no pictures of the screen (recorded without them, or "
                               "they were left out with --no-screens)");
    if (platform::FileLookUp(folder.c_str()) != platform::kPathFolder)
        return Refuse(err, folder + ": no such folder (make it first)");
    std::string into = folder;
    if (into.back() != '/' && into.back() != '\\')
        into += '/';
    std::vector<uint8_t> bmp(journal::kPictureBmpSize);
    journal::ScreenPicture picture;
    uint64_t at = 0, plain = 0;
    size_t written = 0, next = 0;
    for (size_t i = 0; i < image.events.size() && next < image.pictures.size(); i++) {
        at += i ? uint32_t(image.events[i].time - image.events[i - 1].time) : 0;
        if (image.pictures[next].event != i)
            continue;
        const std::vector<uint8_t>& bytes = image.pictures[next++].bytes;
        journal::DecodePicture(bytes.data(), uint32_t(bytes.size()), &picture);
        journal::WritePictureBmp(picture, bmp.data());
        std::string name =
            into + PictureName(i, image.events[i], at) + (picture.plain ? "-plain" : "") + ".bmp";
        if (!WriteFileBytes(name, bmp.data(), bmp.size(), &why))
            return Refuse(err, name + ": " + why + " (" + std::to_string(written) +
                                   " pictures written before it)");
        written++;
        plain += picture.plain;
    }
    fprintf(out, "wrote %zu picture%s into %s", written, written == 1 ? "" : "s", folder.c_str());
    if (plain)
        fprintf(out, " (%llu too plain to check: those presses wait for nothing)",
                (unsigned long long)plain);
    fputc('\n', out);
    return kDone;
}

}  // namespace qvjournal
