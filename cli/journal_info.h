// The commands that show what a journal holds: `info`, its header, events, sections and sound
// track and whether it loads; `pictures`, the screen around each press.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/input.h"

namespace qvjournal {

// Prints what the journal at `path` holds; kRefused when the program would not load it.
int Info(FILE* out, FILE* err, const std::string& path);
// Writes the picture of each press in the journal at `path` as a BMP file into `folder`, which
// must exist, named by the event; kRefused when it holds none or one cannot be written.
int Pictures(FILE* out, FILE* err, const std::string& path, const std::string& folder);

// "12.345 s".
std::string Seconds(uint64_t ms);
// The events by kind, their first and last time and their span.
void PrintEvents(FILE* out, const std::vector<platform::EventRecord>& events);
// The sound file beside the journal at `path`, and whether its track covers `span` ms.
void PrintSound(FILE* out, const std::string& path, uint64_t span);

}  // namespace qvjournal
