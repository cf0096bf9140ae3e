// The server log: time-stamped lines to standard output, or to the service's log file.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

// Formats a message the way every log text is formatted: printf conventions, UTF-8 in and out,
// cut at 1,023 UTF-16 code units (a longer message is cut, never refused).
std::string FormatLogText(const char* format, va_list args);

// Writes "yyyy.mm.dd hh:mm:ss.mmm <message>\n" with the local time, cut to 1,023 UTF-16 code
// units with its line feed. Each line reaches the destination with one write, so lines from
// different threads never interleave. Write failures are ignored.
void WriteLogLine(std::string_view message);

// Makes `fd` (a file opened for writing, its byte-order mark already written) the destination:
// lines then go to it as UTF-16LE. -1 returns to standard output (UTF-8).
void SetLogFile(int fd);
