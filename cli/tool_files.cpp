// The journal tool's file buffer, and why the system refused to open a file, in words.
#include "cli/tool_files.h"

#include "platform/file.h"

namespace qvjournal {

namespace {

// A save writes NAME.part~ beside its target, and the name buffer holds its terminator too.
const size_t kLongestName = FileBuffer::kNameCapacity - sizeof ".part~";

std::string Folder(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// Why an open for reading was refused.
std::string ReadRefusal(const std::string& path) {
    if (path.size() >= FileBuffer::kNameCapacity)
        return "the name is too long";
    switch (platform::FileLookUp(path.c_str())) {
        case platform::kPathMissing:
            return "no such file";
        case platform::kPathFolder:
            return "a folder, not a file";
        case platform::kPathReadOnly:
            return "read-only (journals are opened for writing too, as the program opens them)";
        default:
            return "in use by another program";
    }
}

// Why an open for writing was refused.
std::string WriteRefusal(const std::string& path) {
    if (path.size() > kLongestName)
        return "the name is too long";
    switch (platform::FileLookUp(path.c_str())) {
        case platform::kPathFolder:
            return "a folder, not a file";
        case platform::kPathReadOnly:
            return "read-only";
        case platform::kPathFile:
            return "in use by another program";
        default:
            break;
    }
    if (platform::FileLookUp(Folder(path).c_str()) != platform::kPathFolder)
        return "its folder " + Folder(path) + " does not exist";
    return "its folder " + Folder(path) + " does not accept new files";
}

}  // namespace

FileBuffer& Buffer() {
    static FileBuffer buffer;
    return buffer;
}

bool OpenToRead(FileBuffer* file, const std::string& path, std::string* why) {
    if (path.size() < FileBuffer::kNameCapacity && file->OpenForReading(path.c_str()))
        return true;
    *why = ReadRefusal(path);
    return false;
}

bool OpenToWrite(FileBuffer* file, const std::string& path, std::string* why) {
    if (path.size() <= kLongestName && file->OpenForSaving(path.c_str()))
        return true;
    *why = WriteRefusal(path);
    return false;
}

bool FinishWrite(FileBuffer* file, bool stored, std::string* why) {
    bool closed = file->Close() != 0;
    if (stored && closed)
        return true;
    *why = "could not be written completely (is the disk full?); the file is as it was before";
    return false;
}

bool WriteSpan(FileBuffer* file, const uint8_t* data, size_t size) {
    while (size) {
        uint32_t piece = size < FileBuffer::kWindowSize ? uint32_t(size) : FileBuffer::kWindowSize;
        if (!file->WriteAt(data, piece, -1))
            return false;
        data += piece;
        size -= piece;
    }
    return true;
}

}  // namespace qvjournal
