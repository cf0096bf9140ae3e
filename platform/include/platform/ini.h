// Private-profile INI reading: one value of one section of an INI file, read afresh at every call.
//
// File format, as the readers see it:
// - The file is UTF-8 (a leading UTF-8 byte-order mark is skipped; invalid bytes read as U+FFFD),
//   or UTF-16LE when it begins with the bytes FF FE (an odd trailing byte is dropped).
// - Lines end in LF, CR LF or CR. Blanks (space and tab) around names and values are trimmed.
// - A line whose first non-blank character is ';' is a comment. A ';' later in a line is part of
//   the value: there are no trailing comments.
// - A line "[name]" starts section `name` (text after the last ']' is ignored). A line that starts
//   with '[' but has no ']' is ignored. Lines before the first section are ignored.
// - Inside a section, a line "key = value" sets `key`; the first '=' splits it, so a value may
//   hold '='. A line without '=' is ignored.
// - Section and key names are compared case-insensitively with ASCII folding only: 'A'..'Z'
//   match 'a'..'z'; every other character must be equal.
// - Only the first section of a given name is searched (a later section of the same name is
//   never read), and within it the first line of a given key wins.
//
// A file that does not exist, cannot be read or is not a regular file (a folder, a FIFO, a
// device) counts as an empty file: every read gives the default.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Reads key `key` of section `section` from the INI file at `path` as an unsigned integer.
// The value (with one pair of surrounding quotes removed, as for strings) is parsed as:
// - an optional sign, then leading decimal digits; the digits wrap modulo 2^32, and a leading
//   '-' negates the result modulo 2^32 ("-1" gives 4294967295), '+' is accepted and ignored;
// - anything after the digits is ignored ("25552 ; port" gives 25552);
// - no digits at the start gives 0 ("abc", "-", "- 5"); only decimal is read, so
//   "0x10" is 0 followed by ignored text;
// - an empty value ("Key=" or "Key=\"\"") gives `default_value`, as a missing key does.
uint32_t IniReadInt(const std::string& path, std::string_view section, std::string_view key,
                    uint32_t default_value);

// Reads key `key` of section `section` from the INI file at `path` as a string.
// One pair of surrounding double or single quotes is removed (blanks inside them are kept); a
// key present with an empty value gives the empty string, not the default. A missing file,
// section or key gives `default_value`. Either result is cut to at most `max_units` UTF-16 code
// units; a surrogate pair that would be split by the cut is left out whole.
std::u16string IniReadString(const std::string& path, std::string_view section,
                             std::string_view key, std::u16string_view default_value,
                             size_t max_units);

}  // namespace platform
