// The T0 file: its two lines replace the old content in one step.
#ifndef ORVANE_ZEROMARK_T0FILE_HPP
#define ORVANE_ZEROMARK_T0FILE_HPP

#include <string>
#include <string_view>

namespace t0file {

// Makes `content` the whole content of the file `name`.
//
// A regular file (or one that does not exist yet) is replaced atomically:
// the content goes to a temporary file in the same directory, is synced and
// renamed over the name, so a failed or killed run leaves the old file whole.
// The old file's permission bits are kept; a new file gets 0666 less the
// umask. A symbolic link is kept and its target replaced. Anything else that
// exists under the name (a device, a pipe) is written through, and a name
// that leads to a file this process has open (/dev/stdout, /dev/fd/N) is
// appended to, after what the process wrote there itself. An empty name
// writes to an anonymous temporary file that vanishes when it is closed.
//
// Throws std::runtime_error "cannot write T0 file <name>: <reason>"; no
// temporary file is left behind.
void write(const std::string &name, std::string_view content);

} // namespace t0file

#endif
