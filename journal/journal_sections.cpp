#include "journal/journal_sections.h"

#include <cstring>

#include "journal/hotkey_filter.h"
#include "journal/little_endian.h"
#include "journal/picture_file.h"
#include "journal/window_table.h"

namespace journal {

namespace {

const uint32_t kPlaceSize = 24;   // event, rectangle, dpi
const uint32_t kMotionSize = 16;  // event, counts, flags

bool Tagged(const uint8_t* bytes, const char* tag) {
    return memcmp(bytes, tag, 4) == 0;
}

// The sections this version knows, in the order a file holds them; its index, -1 for none.
const char* const kKnown[] = {kWindowsTag, kPlacesTag, kPicturesTag, kMotionTag};
const int kKnownCount = sizeof kKnown / sizeof kKnown[0];

int KnownIndex(const uint8_t* tag) {
    for (int i = 0; i < kKnownCount; i++)
        if (Tagged(tag, kKnown[i]))
            return i;
    return -1;
}

// The number of a list's items, in its first 4 bytes; 0 when it claims more than `size` bytes
// of at least `itemSize` each could hold, or none (a save never writes an empty list).
uint32_t ListCount(const uint8_t* bytes, uint32_t size, uint32_t itemSize) {
    if (size < 4)
        return 0;
    uint32_t count = GetU32(bytes);
    return count <= (size - 4) / itemSize ? count : 0;
}

template <class Item>
bool InOrder(const std::vector<Item>& items, uint32_t event, uint32_t eventCount) {
    return event < eventCount && (items.empty() || event > items.back().event);
}

bool DecodePictures(const uint8_t* bytes, uint32_t size, uint32_t eventCount,
                    HeaderSections* sections) {
    uint32_t count = ListCount(bytes, size, 4 + kPictureHead);
    if (!count)
        return false;
    sections->pictures.reserve(count);
    uint32_t at = 4;
    for (uint32_t i = 0; i < count; i++) {
        if (size - at < 4)
            return false;
        EventPicture p;
        p.event = GetU32(bytes + at);
        uint32_t used = DecodePicture(bytes + at + 4, size - at - 4, &p.picture);
        if (!used || !InOrder(sections->pictures, p.event, eventCount))
            return false;
        sections->pictures.push_back(p);
        at += 4 + used;
    }
    return at == size;
}

bool DecodeMotion(const uint8_t* bytes, uint32_t size, uint32_t eventCount,
                  HeaderSections* sections) {
    uint32_t count = ListCount(bytes, size, kMotionSize);
    if (!count || size != 4 + count * kMotionSize)
        return false;
    sections->motions.reserve(count);
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* m = bytes + 4 + i * kMotionSize;
        EventMotion motion = {GetU32(m), static_cast<int32_t>(GetU32(m + 4)),
                              static_cast<int32_t>(GetU32(m + 8)), GetU32(m + 12)};
        if ((motion.flags & ~kMotionFlags) || !InOrder(sections->motions, motion.event, eventCount))
            return false;
        sections->motions.push_back(motion);
    }
    return true;
}

bool DecodeWindows(const uint8_t* bytes, uint32_t size, HeaderSections* sections) {
    return DecodeWindowEntries(
        bytes, size,
        [](void* context, const platform::WindowInfo& window) {
            static_cast<std::vector<platform::WindowInfo>*>(context)->push_back(window);
            return true;
        },
        &sections->windows);
}

bool DecodePlaces(const uint8_t* bytes, uint32_t size, uint32_t eventCount,
                  HeaderSections* sections) {
    uint32_t count = ListCount(bytes, size, kPlaceSize);
    if (!count || size != 4 + count * kPlaceSize)
        return false;
    sections->places.reserve(count);
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* place = bytes + 4 + i * kPlaceSize;
        WindowPlace p = {
            GetU32(place),
            {static_cast<int32_t>(GetU32(place + 4)), static_cast<int32_t>(GetU32(place + 8)),
             static_cast<int32_t>(GetU32(place + 12)), static_cast<int32_t>(GetU32(place + 16))},
            GetU32(place + 20)};
        if (!InOrder(sections->places, p.event, eventCount))
            return false;
        sections->places.push_back(p);
    }
    return true;
}

void Begin(std::vector<uint8_t>* bytes, const char* tag, uint32_t length) {
    size_t at = bytes->size();
    bytes->resize(at + kSectionHead + length);
    memcpy(bytes->data() + at, tag, 4);
    PutU32(bytes->data() + at + 4, length);
}

uint8_t* Tail(std::vector<uint8_t>* bytes, uint32_t length) {
    return bytes->data() + bytes->size() - length;
}

}  // namespace

HeaderBytes DecodeHeaderBytes(const uint8_t* bytes, uint32_t size, uint32_t eventCount,
                              HeaderSections* sections) {
    *sections = HeaderSections();
    if (HasWindowTable(bytes, size)) {
        bool whole = DecodeWindows(bytes + 4, size - 4, sections);
        return whole ? HeaderBytes::kSections : HeaderBytes::kDamaged;
    }
    if (size < 4 || KnownIndex(bytes) < 0)
        return HeaderBytes::kOpaque;
    sections->sectioned = true;
    int next = 0;  // the first known section that may still come
    for (uint32_t at = 0; at < size;) {
        if (size - at < kSectionHead || GetU32(bytes + at + 4) > size - at - kSectionHead)
            return HeaderBytes::kDamaged;
        const uint8_t* tag = bytes + at;
        uint32_t length = GetU32(bytes + at + 4);
        const uint8_t* body = bytes + at + kSectionHead;
        at += kSectionHead + length;
        int known = KnownIndex(tag);
        if (known < 0) {
            next = kKnownCount;  // what this version knows never follows what it does not
            OtherSection other = {{}, std::vector<uint8_t>(body, body + length)};
            memcpy(other.tag, tag, 4);
            sections->others.push_back(std::move(other));
            continue;
        }
        if (known < next)
            return HeaderBytes::kDamaged;
        next = known + 1;
        bool whole = known == 0   ? DecodeWindows(body, length, sections)
                     : known == 1 ? DecodePlaces(body, length, eventCount, sections)
                     : known == 2 ? DecodePictures(body, length, eventCount, sections)
                                  : DecodeMotion(body, length, eventCount, sections);
        if (!whole)
            return HeaderBytes::kDamaged;
    }
    return HeaderBytes::kSections;
}

std::vector<uint8_t> EncodeHeaderBytes(const HeaderSections& sections) {
    std::vector<uint8_t> bytes;
    uint32_t windowCount = static_cast<uint32_t>(sections.windows.size());
    uint32_t table = WindowTableSize(sections.windows.data(), windowCount);
    if (!sections.sectioned && sections.places.empty() && sections.pictures.empty() &&
        sections.motions.empty() && sections.others.empty()) {
        bytes.resize(table);
        if (table)
            EncodeWindowTable(sections.windows.data(), windowCount, bytes.data());
        return bytes;
    }
    if (table) {
        uint32_t length = table - 4;  // the entries without the table's own tag
        Begin(&bytes, kWindowsTag, length);
        EncodeWindowEntries(sections.windows.data(), windowCount, Tail(&bytes, length));
    }
    if (!sections.places.empty()) {
        uint32_t count = static_cast<uint32_t>(sections.places.size());
        uint32_t length = 4 + count * kPlaceSize;
        Begin(&bytes, kPlacesTag, length);
        uint8_t* out = Tail(&bytes, length);
        PutU32(out, count);
        out += 4;
        for (const WindowPlace& p : sections.places) {
            PutU32(out, p.event);
            PutU32(out + 4, static_cast<uint32_t>(p.rect.left));
            PutU32(out + 8, static_cast<uint32_t>(p.rect.top));
            PutU32(out + 12, static_cast<uint32_t>(p.rect.right));
            PutU32(out + 16, static_cast<uint32_t>(p.rect.bottom));
            PutU32(out + 20, p.dpi);
            out += kPlaceSize;
        }
    }
    if (!sections.pictures.empty()) {
        std::vector<uint8_t> list(4);
        PutU32(list.data(), static_cast<uint32_t>(sections.pictures.size()));
        uint8_t picture[4 + kLargestPicture];
        for (const EventPicture& p : sections.pictures) {
            PutU32(picture, p.event);
            uint32_t used = 4 + EncodePicture(p.picture, picture + 4);
            list.insert(list.end(), picture, picture + used);
        }
        uint32_t length = static_cast<uint32_t>(list.size());
        Begin(&bytes, kPicturesTag, length);
        memcpy(Tail(&bytes, length), list.data(), length);
    }
    if (!sections.motions.empty()) {
        uint32_t count = static_cast<uint32_t>(sections.motions.size());
        uint32_t length = 4 + count * kMotionSize;
        Begin(&bytes, kMotionTag, length);
        uint8_t* out = Tail(&bytes, length);
        PutU32(out, count);
        out += 4;
        for (const EventMotion& m : sections.motions) {
            PutU32(out, m.event);
            PutU32(out + 4, static_cast<uint32_t>(m.dx));
            PutU32(out + 8, static_cast<uint32_t>(m.dy));
            PutU32(out + 12, m.flags);
            out += kMotionSize;
        }
    }
    for (const OtherSection& other : sections.others) {
        uint32_t length = static_cast<uint32_t>(other.bytes.size());
        Begin(&bytes, other.tag, length);
        if (length)
            memcpy(Tail(&bytes, length), other.bytes.data(), length);
    }
    return bytes;
}

bool SectionsFitEvent(const HeaderSections& sections, SectionCursor* cursor, uint32_t index,
                      uint32_t message, uint32_t window) {
    platform::EventRecord event = {message, 0, 0, 0, 0};
    if (cursor->place < sections.places.size() && sections.places[cursor->place].event == index) {
        cursor->place++;
        if (!window)
            return false;
    }
    if (cursor->picture < sections.pictures.size() &&
        sections.pictures[cursor->picture].event == index) {
        cursor->picture++;
        if (!IsButtonDown(event))
            return false;
    }
    if (cursor->motion < sections.motions.size() &&
        sections.motions[cursor->motion].event == index) {
        cursor->motion++;
        if ((message & 0xFFFF) != WM_MOUSEMOVE)
            return false;
    }
    return true;
}

}  // namespace journal
