#include "cli/journal_text.h"

#include <algorithm>

#include "cli/journal_text_names.h"

namespace qvjournal {

using namespace text;

namespace {

std::string Point(const platform::EventRecord& e) {
    return std::to_string(int32_t(e.paramL)) + "," + std::to_string(int32_t(e.paramH));
}

std::string HighField(const char* name, uint32_t value) {
    return value ? std::string(" ") + name + "=" + Hex(value, 4) : std::string();
}

std::string EventText(const platform::EventRecord& e) {
    uint32_t kind = e.message & 0xFFFF, high = e.message >> 16;
    switch (kind) {
        case 0x100:
        case 0x101:
        case 0x104:
        case 0x105: {
            std::string text = kind >= 0x104 ? "syskey " : "key ";
            text += (kind & 1) ? "up " : "down ";
            text += KeyNameOf(uint8_t(e.paramL)) + " scan=" + Hex((e.paramL >> 8) & 0xFF, 2);
            if (e.paramH & kExtendedKey)
                text += " ext";
            if ((e.paramH & 0x7FFF) != 1)
                text += " repeat=" + std::to_string(e.paramH & 0x7FFF);
            return text + HighField("l-hi", e.paramL >> 16) + HighField("h-hi", e.paramH >> 16) +
                   HighField("msg-hi", high);
        }
        case kMouseMove:
            return "move " + Point(e) + HighField("msg-hi", high);
        case kWheel:
        case kHorizontalWheel:
            return std::string(kind == kWheel ? "wheel " : "hwheel ") +
                   std::to_string(int16_t(high)) + " " + Point(e);
        default:
            break;
    }
    if (kind >= 0x201 && kind <= 0x209) {
        return std::string(kButtons[(kind - 0x201) / 3]) + " " + kActions[(kind - 0x201) % 3] +
               " " + Point(e) + HighField("msg-hi", high);
    }
    if (kind >= kXButtonDown && kind <= kXButtonDown + 2)
        return std::string("x").append(std::to_string(high)) + " " + kActions[kind - kXButtonDown] +
               " " + Point(e);
    return "other " + Hex(e.message, 8) + " " + Hex(e.paramL, 8) + " " + Hex(e.paramH, 8);
}

// A window's name in double quotes; quotes, backslashes and control bytes are escaped, other
// bytes kept as they are (the system's code page).
std::string Quoted(const char* name) {
    std::string text = "\"";
    for (const char* c = name; *c; c++) {
        uint8_t byte = uint8_t(*c);
        if (byte == '"' || byte == '\\')
            text += std::string("\\") + *c;
        else if (byte < 0x20 || byte == 0x7F)
            text += "\\x" + HexBytes(&byte, 1);
        else
            text += *c;
    }
    return text + "\"";
}

std::string Rect(const platform::WindowRect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

std::string WindowLine(size_t number, const platform::WindowInfo& w) {
    return "win " + std::to_string(number) + " program=" + Quoted(w.program) +
           " class=" + Quoted(w.windowClass) + " title=" + Quoted(w.title) +
           " rect=" + Rect(w.rect) + " dpi=" + std::to_string(w.dpi);
}

std::string SectionLine(const journal::OtherSection& section) {
    std::string line = std::string("section ").append(TagName(section.tag));
    if (!section.bytes.empty())
        line.append(" ").append(HexBytes(section.bytes.data(), section.bytes.size()));
    return line;
}

std::string MotionFields(const journal::EventMotion& m) {
    std::string text = " rel=" + std::to_string(m.dx) + "," + std::to_string(m.dy);
    for (size_t i = 0; i < kMotionWordCount; i++)
        if (m.flags & kMotionWords[i].flag)
            text += std::string(" ") + kMotionWords[i].word;
    return text;
}

}  // namespace

std::string DumpJournalText(const JournalImage& image, const std::string& name,
                            const char* lineEnd) {
    const JournalHeader& header = image.header;
    const std::vector<platform::EventRecord>& events = image.events;
    uint64_t span = 0;
    for (size_t i = 1; i < events.size(); i++)
        span += uint32_t(events[i].time - events[i - 1].time);
    std::string text;
    auto put = [&](const std::string& line) { text += line + lineEnd; };
    put("# " + name + ": " + std::to_string(events.size()) + " events over " +
        std::to_string(span) + " ms, as text for qvjournal build.");
    put("# One event a line: +GAP (ms since the event before), then what happened:");
    put("#   key|syskey down|up KEY scan=S [ext] [repeat=N]     (syskey: with Alt held)");
    put("#   move X,Y   left|right|middle|x1|x2 down|up|double X,Y   wheel|hwheel TURN X,Y");
    put("# 'start' is the first event's time, 'window' the window of the events after it;");
    put("# 'win' lines are the windows the events belong to, in=N an event's window, at= and");
    put("# dpi= where it stood; 'picture' lines the screen around a press (picture=N); rel= a");
    put("# move's motion; lines from # on are comments.");

    // Sections set the header's size themselves.
    if (header.headerSize != journal::kHeaderSize && !HasSections(image))
        put("header-size " + std::to_string(header.headerSize));
    const uint8_t* extra = image.headerBytes.data();
    for (size_t at = 0, n = Significant(extra, image.headerBytes.size()); at < n;
         at += kBytesPerLine)
        put("header-bytes " + HexBytes(extra + at, std::min(kBytesPerLine, n - at)));
    if (header.recordSize != RecordBase(image))
        put("record-size " + std::to_string(header.recordSize));
    if (image.sectioned && image.places.empty() && image.pictures.empty() &&
        image.motions.empty() && image.others.empty())
        put("sectioned");
    for (size_t i = 0; i < image.windows.size(); i++)
        put(WindowLine(i + 1, image.windows[i]));
    for (const journal::OtherSection& section : image.others)
        put(SectionLine(section));
    uint32_t first = events.empty() ? 0 : events.front().time;
    uint32_t last = events.empty() ? 0 : events.back().time;
    if (header.firstTime != first)
        put("first-time " + std::to_string(header.firstTime));
    if (header.lastTime != last)
        put("last-time " + std::to_string(header.lastTime));
    if (!events.empty())
        put("start " + std::to_string(first));

    size_t extraPerRecord = header.recordSize - RecordBase(image);
    uint32_t window = 0;
    uint64_t offset = 0, second = 0;
    size_t place = 0, picture = 0, motion = 0;
    for (size_t i = 0; i < events.size(); i++) {
        const platform::EventRecord& e = events[i];
        uint32_t gap = i ? e.time - events[i - 1].time : 0;
        offset += gap;
        // A mark at each new second tells where `cut` would cut.
        if (offset / 1000 > second) {
            second = offset / 1000;
            put("# " + std::to_string(offset) + " ms");
        }
        if (e.hwnd != window) {
            window = e.hwnd;
            put(window ? "window " + Hex(window, 1) : std::string("window 0"));
        }
        std::string line = std::string("+").append(std::to_string(gap));
        line.resize(std::max<size_t>(line.size() + 1, 8), ' ');
        line += EventText(e);
        if (motion < image.motions.size() && image.motions[motion].event == i)
            line += MotionFields(image.motions[motion++]);
        if (picture < image.pictures.size() && image.pictures[picture].event == i) {
            const std::vector<uint8_t>& bytes = image.pictures[picture++].bytes;
            put("picture " + std::to_string(picture) + " " + HexBytes(bytes.data(), bytes.size()));
            line += " picture=" + std::to_string(picture);
        }
        if (!image.windowOf.empty() && image.windowOf[i])
            line += " in=" + std::to_string(image.windowOf[i]);
        if (place < image.places.size() && image.places[place].event == i) {
            const journal::WindowPlace& p = image.places[place++];
            line += " at=" + Rect(p.rect) + " dpi=" + std::to_string(p.dpi);
        }
        const uint8_t* pad = image.padding.data() + i * extraPerRecord;
        size_t padded = extraPerRecord ? Significant(pad, extraPerRecord) : 0;
        if (padded)
            line += " pad=" + HexBytes(pad, padded);
        put(line);
    }
    return text;
}

}  // namespace qvjournal
