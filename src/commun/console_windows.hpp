#pragma once
// Console and command line of the programs on Windows: the standard streams write bytes
// unchanged (lines end with LF only, text is UTF-8), and arguments are read from the UTF-16
// command line rather than through the ANSI code page.
#include <string>
#include <vector>

namespace commun {

// Binary mode on stdout and stderr; UTF-8 output code page for a real console.
void preparer_console_windows();

// The program's arguments after its name, as UTF-8 (unpaired surrogates become U+FFFD).
std::vector<std::string> arguments_windows();

}  // namespace commun
