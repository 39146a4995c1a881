#pragma once

#include <string>
#include <vector>

namespace quillnet {

// The program's arguments in UTF-8, the program's one encoding, whatever code page the system
// hands them over in (Windows passes `argv` in the ANSI code page, which cannot hold every
// name of a file). `argv` itself where it is UTF-8 already.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Until the program exits, the console shows the UTF-8 the program writes; Windows' console
// reads another code page otherwise, and gets its own back at exit. Nothing where a console
// takes UTF-8 as it is.
void UseUtf8Console();

// Whether standard output is a pipe whose reader has gone (`listen | head -n 1` after head
// ended), so that a program that writes rarely notices without writing. False where the
// system cannot tell before a write fails.
bool StandardOutputReaderGone();

}  // namespace quillnet
