// A journal as text, one event a line, for a person to read and edit: what `dump` writes and
// `build` reads. The text keeps every byte of the file: what a file written by Save holds reads
// as plain event lines, and anything else a loadable file may hold (a longer header, wider
// records, header times of their own, window handles) shows as lines or fields of its own that
// the reader honours. docs/journal-format.md describes the lines.
#pragma once

#include <cstddef>
#include <string>

#include "cli/journal_io.h"

namespace qvjournal {

// The text of `image`; `name` goes into its opening comment, `lineEnd` after every line.
std::string DumpJournalText(const JournalImage& image, const std::string& name,
                            const char* lineEnd);

// Reads a text into an image. False at the first line that cannot be read: `error` then names
// its number and what was expected there.
bool ParseJournalText(const char* text, size_t size, JournalImage* image, std::string* error);

}  // namespace qvjournal
