#pragma once

// What the tools need of the console and the file system that each platform
// does its own way (Console_host.cpp, Console_win32.cpp).

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace kv::tools {

// The arguments after the program's name, in UTF-8: on win32 from the wide
// command line, so that any file name survives, whatever the code page.
std::vector<std::string> arguments(int argc, char** argv);

// A path from an argument in UTF-8.
std::filesystem::path pathOf(const std::string& utf8);

// Standard input and output carry bytes, not text.
void binaryStandardStreams();

// Whether stderr is a terminal someone watches.
bool stderrIsTerminal();

// Creates or truncates a file for writing; null when it cannot.
std::FILE* openForWriting(const std::filesystem::path& path);

// Opens a file for reading; null when it cannot.
std::FILE* openForReading(const std::filesystem::path& path);

// The system's words for a failed file operation that returned `hr`, with
// `error` the errno saved right after it: on the host the HRESULT was made
// from that errno, on win32 it carries the system's own code.
std::string systemText(long hr, int error);

// The C library's words for an errno value (EIO for 0).
std::string errnoText(int error);

}  // namespace kv::tools
