// The `info` command: a journal's header, events and sound track, and whether it loads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/input.h"

namespace qvjournal {

// Prints what the journal at `path` holds; kRefused when the program would not load it.
int Info(FILE* out, FILE* err, const std::string& path);

// "12.345 s".
std::string Seconds(uint64_t ms);
// The events by kind, their first and last time and their span.
void PrintEvents(FILE* out, const std::vector<platform::EventRecord>& events);
// The sound file beside the journal at `path`, and whether its track covers `span` ms.
void PrintSound(FILE* out, const std::string& path, uint64_t span);

}  // namespace qvjournal
