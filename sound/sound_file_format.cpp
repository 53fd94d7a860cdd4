#include "sound/sound_file_format.h"

#include <cstring>
#include <new>

#include "storage/file_buffer.h"

namespace sound {

namespace {

const uint64_t kTimeSlackMs = 2000;

}  // namespace

std::unique_ptr<char[]> SoundFileName(const char* journalFileName) {
    size_t length = strlen(journalFileName);
    std::unique_ptr<char[]> name(new (std::nothrow) char[length + 2]);
    if (!name)
        return nullptr;
    memcpy(name.get(), journalFileName, length);
    name[length] = '_';
    name[length + 1] = '\0';
    return name;
}

uint32_t SoundHeaderLength(const char* signature) {
    return uint32_t(strlen(signature) + 1);
}

bool IsSoundFile(const uint8_t* top, uint32_t size, const char* signature) {
    uint32_t length = SoundHeaderLength(signature);
    return top && size >= length && memcmp(top, signature, length) == 0;
}

bool WrittenBeforeItsJournal(const char* soundFileName, const char* journalFileName) {
    uint64_t sound = 0, journal = 0;
    return FileBuffer::GetModifiedTime(soundFileName, &sound) &&
           FileBuffer::GetModifiedTime(journalFileName, &journal) && sound + kTimeSlackMs < journal;
}

}  // namespace sound
