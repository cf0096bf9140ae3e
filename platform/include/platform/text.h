// Text conversions. Console text and file paths are UTF-8; protocol and file-format strings are
// UTF-16 in memory (std::u16string). Invalid sequences become U+FFFD, never an error.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view utf8);

// The longest prefix of `utf8` that takes at most `max_units` UTF-16 code units, cut at a
// character boundary.
std::string_view CutToUtf16Units(std::string_view utf8, size_t max_units);

}  // namespace platform
