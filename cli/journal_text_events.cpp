// The event lines of a journal's text: what happened, its gap since the event before, and the
// fields that give a record's other bytes and what the header's sections say of the event.
#include <cstdint>
#include <cstring>

#include "cli/journal_text_names.h"
#include "cli/journal_text_parser.h"

namespace qvjournal {
namespace text {

bool Parser::Point(const std::vector<std::string>& tokens, size_t at, platform::EventRecord* e) {
    const std::string token = at < tokens.size() ? tokens[at] : "";
    size_t comma = token.find(',');
    int64_t x, y;
    if (comma == std::string::npos ||
        !ParseSigned(token.substr(0, comma), INT32_MIN, INT32_MAX, &x) ||
        !ParseSigned(token.substr(comma + 1), INT32_MIN, INT32_MAX, &y))
        return Fail("the screen position as X,Y", token);
    e->paramL = uint32_t(int32_t(x));
    e->paramH = uint32_t(int32_t(y));
    return true;
}

int Parser::Choice(const std::string& word, const char* const* choices, int count) {
    for (int i = 0; i < count; i++)
        if (word == choices[i])
            return i;
    return -1;
}

bool Parser::Event(const std::vector<std::string>& tokens) {
    uint64_t gap;
    if (!ParseUnsigned(tokens[0].substr(1), 0xFFFFFFFFu, &gap))
        return Fail("the gap since the event before in ms, such as +35", tokens[0]);
    platform::EventRecord e = {0, 0, 0, uint32_t(time + gap), window};
    std::string kind = tokens.size() > 1 ? tokens[1] : "";
    size_t fields = 0;
    // Fields each kind accepts after its fixed words.
    const char* allowed = "";
    uint32_t high = 0;
    if (kind == "key" || kind == "syskey") {
        static const char* const kUpDown[] = {"down", "up"};
        int action = Choice(tokens.size() > 2 ? tokens[2] : "", kUpDown, 2);
        if (action < 0)
            return Fail("down or up", tokens.size() > 2 ? tokens[2] : "");
        e.message = (kind == "key" ? 0x100 : 0x104) + uint32_t(action);
        if (!Key(tokens.size() > 3 ? tokens[3] : "", &e))
            return false;
        fields = 4;
        allowed = "scan ext repeat l-hi h-hi msg-hi";
    } else if (kind == "move") {
        e.message = kMouseMove;
        if (!Point(tokens, 2, &e))
            return false;
        fields = 3;
        allowed = "msg-hi rel hidden confined played";
    } else if (kind == "wheel" || kind == "hwheel") {
        int64_t delta;
        if (tokens.size() < 3 || !ParseSigned(tokens[2], INT16_MIN, INT16_MAX, &delta))
            return Fail("the wheel's turn, such as 120 or -120",
                        tokens.size() > 2 ? tokens[2] : "");
        high = uint16_t(int16_t(delta));
        e.message = kind == "wheel" ? kWheel : kHorizontalWheel;
        if (!Point(tokens, 3, &e))
            return false;
        fields = 4;
    } else if (kind == "other") {
        uint64_t raw[3];
        for (int i = 0; i < 3; i++)
            if (tokens.size() < size_t(3 + i) ||
                !ParseUnsigned(tokens[size_t(2 + i)], 0xFFFFFFFFu, &raw[i]))
                return Fail("the record's message, paramL and paramH, such as 0x0300 0 0",
                            tokens.size() > size_t(2 + i) ? tokens[size_t(2 + i)] : "");
        e.message = uint32_t(raw[0]);
        e.paramL = uint32_t(raw[1]);
        e.paramH = uint32_t(raw[2]);
        fields = 5;
    } else {
        int button = Choice(kind, kButtons, 3);
        uint64_t number = 0;
        bool xButton = kind.size() > 1 && kind[0] == 'x' &&
                       ParseUnsigned(kind.substr(1), 0xFFFF, &number) && kind[1] != '+';
        if (button < 0 && !xButton)
            return Fail("key, syskey, move, left, right, middle, x1, x2, wheel, hwheel or other",
                        kind);
        int action = Choice(tokens.size() > 2 ? tokens[2] : "", kActions, 3);
        if (action < 0)
            return Fail("down, up or double", tokens.size() > 2 ? tokens[2] : "");
        if (xButton) {
            e.message = kXButtonDown + uint32_t(action);
            high = uint32_t(number);
            allowed = action == 0 ? "picture" : "";
        } else {
            e.message = 0x201 + uint32_t(button) * 3 + uint32_t(action);
            allowed = action == 0 ? "msg-hi picture" : "msg-hi";
        }
        if (!Point(tokens, 3, &e))
            return false;
        fields = 4;
    }
    if (image->events.empty() && !Layout())
        return false;
    std::vector<uint8_t> pad;
    uint32_t in = 0;
    Extras extras;
    if (!Fields(tokens, fields, allowed, &e, &high, &pad, &in, &extras) || !TakeExtras(extras, in))
        return false;
    e.message |= high << 16;
    time = e.time;
    image->events.push_back(e);
    if (!image->windows.empty())
        image->windowOf.push_back(in);
    pad.resize(recordSize - RecordBase(*image), 0);
    image->padding.insert(image->padding.end(), pad.begin(), pad.end());
    return true;
}

bool Parser::TakeExtras(const Extras& x, uint32_t in) {
    uint32_t index = uint32_t(image->events.size());
    if ((x.placed || x.dpiGiven) && !in)
        return Say("at= and dpi= tell where the event's window stood: they need in=N");
    if (x.dpiGiven && !x.placed)
        return Say("dpi= goes with at=");
    if (x.flagged && !x.moved)
        return Say("hidden, confined and played go with rel=");
    if (x.placed) {
        // Without dpi=, the window's dpi stays what it was.
        dpiOf.resize(image->windows.size() + 1, ~0u);
        uint32_t& dpi = dpiOf[in];
        if (dpi == ~0u)
            dpi = image->windows[in - 1].dpi;
        if (x.dpiGiven)
            dpi = x.dpi;
        image->places.push_back({index, x.rect, dpi});
    }
    if (x.picture)
        image->pictures.push_back({index, pictures[x.picture - 1]});
    if (x.moved)
        image->motions.push_back({index, x.dx, x.dy, x.flags});
    return true;
}

bool Parser::Key(const std::string& name, platform::EventRecord* e) {
    uint64_t vk = 0;
    uint8_t scan = 0;
    bool known = false;
    if (name.size() == 1) {
        char c = name[0] >= 'a' && name[0] <= 'z' ? char(name[0] - 'a' + 'A') : name[0];
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) {
            vk = uint8_t(c);
            scan = RowScan(c);
            known = true;
        }
    }
    for (size_t k = 0; k < kKeyCount; k++) {
        const KeyName& key = kKeys[k];
        if (!known && SameLetters(name, key.name)) {
            vk = key.vk;
            scan = key.scan;
            known = true;
        }
    }
    if (!known && !(name.size() > 2 && name[0] == '0' && ParseUnsigned(name, 0xFF, &vk)))
        return Fail("a key such as A, Enter or Shift, or its virtual key such as 0x41", name);
    e->paramL = uint32_t(vk) | uint32_t(scan) << 8;
    e->paramH = 1;
    return true;
}

bool Parser::Fields(const std::vector<std::string>& tokens, size_t first,
                    const std::string& allowed, platform::EventRecord* e, uint32_t* high,
                    std::vector<uint8_t>* pad, uint32_t* in, Extras* extras) {
    static const char* const kWords[] = {"ext", "hidden", "confined", "played"};
    std::vector<std::string> seen;
    for (size_t i = first; i < tokens.size(); i++) {
        const std::string& token = tokens[i];
        size_t equals = token.find('=');
        std::string name = token.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : token.substr(equals + 1);
        bool known = name == "pad" || name == "in" || name == "at" || name == "dpi" ||
                     (" " + allowed + " ").find(" " + name + " ") != std::string::npos;
        bool word = Choice(name, kWords, 4) >= 0;
        if (!known || word != (equals == std::string::npos))
            return Fail(
                allowed[0] ? "one of the fields " + allowed + ", in=N, at=L,T,R,B, dpi=D or pad=HEX"
                           : std::string("nothing but in=N, at=L,T,R,B, dpi=D or "
                                         "pad=HEX"),
                token);
        for (const std::string& before : seen)
            if (before == name)
                return Say("the field '" + name + "' is given twice");
        seen.push_back(name);
        uint64_t number = 0;
        if (name == "ext") {
            e->paramH |= kExtendedKey;
            continue;
        }
        if (word) {
            extras->flagged = true;
            for (size_t k = 0; k < kMotionWordCount; k++)
                if (name == kMotionWords[k].word)
                    extras->flags |= kMotionWords[k].flag;
            continue;
        }
        if (name == "pad") {
            if (!ParseHexBytes(value, pad))
                return Fail("pad= followed by pairs of hex digits", token);
            if (pad->size() > recordSize - RecordBase(*image))
                return Say("pad= holds more bytes than record-size leaves after " +
                           std::to_string(RecordBase(*image)));
            continue;
        }
        if (name == "in") {
            if (!ParseUnsigned(value, 0xFFFFFFFFu, &number) || !number ||
                number > image->windows.size())
                return Fail("in= followed by the number of a win line, 1 to " +
                                std::to_string(image->windows.size()),
                            token);
            *in = uint32_t(number);
            continue;
        }
        std::vector<int64_t> numbers;
        if (name == "at" || name == "rel") {
            if (!Numbers(value, name == "at" ? 4 : 2, INT32_MIN, INT32_MAX, &numbers))
                return Fail(name == "at" ? std::string("at=LEFT,TOP,RIGHT,BOTTOM")
                                         : std::string("rel=DX,DY"),
                            token);
            if (name == "at") {
                extras->placed = true;
                extras->rect = {int32_t(numbers[0]), int32_t(numbers[1]), int32_t(numbers[2]),
                                int32_t(numbers[3])};
            } else {
                extras->moved = true;
                extras->dx = int32_t(numbers[0]);
                extras->dy = int32_t(numbers[1]);
            }
            continue;
        }
        if (name == "dpi" || name == "picture") {
            uint64_t largest = name == "dpi" ? 0xFFFFFFFFu : pictures.size();
            if (!ParseUnsigned(value, largest, &number) || (name == "picture" && !number))
                return Fail(name == "dpi" ? std::string("dpi= followed by a number")
                                          : "picture= followed by the number of a picture "
                                            "line before it, 1 to " +
                                                std::to_string(pictures.size()),
                            token);
            if (name == "dpi") {
                extras->dpiGiven = true;
                extras->dpi = uint32_t(number);
            } else {
                extras->picture = uint32_t(number);
            }
            continue;
        }
        uint64_t largest = name == "scan" ? 0xFF : name == "repeat" ? 0x7FFF : 0xFFFF;
        if (!ParseUnsigned(value, largest, &number))
            return Fail(name + "= followed by a number up to " + std::to_string(largest), token);
        if (name == "scan")
            e->paramL = (e->paramL & ~0xFF00u) | uint32_t(number) << 8;
        else if (name == "repeat")
            e->paramH = (e->paramH & ~0x7FFFu) | uint32_t(number);
        else if (name == "l-hi")
            e->paramL = (e->paramL & 0xFFFF) | uint32_t(number) << 16;
        else if (name == "h-hi")
            e->paramH = (e->paramH & 0xFFFF) | uint32_t(number) << 16;
        else
            *high = uint32_t(number);
    }
    return true;
}

}  // namespace text
}  // namespace qvjournal
