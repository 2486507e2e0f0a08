// The errno values the platform and the code above it report. Every system's C library has those
// of ISO C and most of POSIX; the few that some lack (Windows' C library has no ESTALE or EDQUOT)
// get numbers of their own here, outside the range of the library's values, and ErrorText()
// names them.
#pragma once

#include <cerrno>

#ifndef ESTALE
#define ESTALE 1001  // the file changed since it was looked at
#endif
#ifndef EDQUOT
#define EDQUOT 1002  // the user's disk quota is used up
#endif

namespace platform {

// What a name holds that is neither a regular file nor a folder, as error values of the
// platform's own (no system's errno): an open of a song refused for being one says what it is.
constexpr int kErrFifo = 1003;    // a FIFO (a named pipe); on Windows a pipe
constexpr int kErrDevice = 1004;  // a device or a socket; on Windows a device or a console

}  // namespace platform
