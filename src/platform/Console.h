// The command line's side of the system: its arguments as UTF-8, the text it writes to a console,
// whether standard error is a terminal, and Ctrl+C.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The program's arguments, argv[0] first, as the paths of the platform take them: argv's bytes as
// given; on Windows the UTF-8 of the system's UTF-16 command line, whatever the console's code
// page (argv there holds the ANSI code page's bytes, which cannot name every file).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes the standard streams carry the program's bytes as they are, and a console show its UTF-8
// text: on Windows the streams are binary (no "\r" added before each "\n" written, nor taken
// away when read) and the console's output code page is UTF-8 until the program ends; elsewhere
// nothing needs doing.
void PrepareStandardStreams();

// True when standard error is a terminal that draws the escape sequences of a progress line
// ("\r", ESC [K): isatty(2); on Windows a console, switched to those sequences.
bool StandardErrorIsTerminal();

// Calls `handler` each time the user presses Ctrl+C (SIGINT; on Windows Ctrl+C or Ctrl+Break in
// the console) instead of ending the program. The handler may only set an atomic flag: it runs in
// a signal handler, or on Windows on a thread of its own.
void OnInterrupt(void (*handler)());

}  // namespace platform
