// Opening files whose names come from outside (a layout, a setting, a stored state). Such a name
// can denote a FIFO, a device or a directory: a plain open of a FIFO blocks until a writer
// appears, and a device reads without end. The helpers here never block on the open and refuse
// anything but a regular file before a byte is read.
#pragma once
#include <cstddef>
#include <string>

namespace rt {

// Opens path with the given open(2) flags (O_CLOEXEC is added) and answers the descriptor, in
// blocking mode again, when it is a regular file. Otherwise answers -1 with *why set to the reason,
// worded to follow the file's name ("is not a regular file", "cannot be opened (...)"); errno is
// then the system's reason, or EINVAL for a file that is not regular.
int openRegularFile(const std::string& path, int flags, std::string* why, unsigned mode = 0644);

// Reads the whole regular file at path into bytes. Refuses (false, why set as above) a file that
// cannot be opened or read, is not regular, or is larger than maxBytes.
bool readRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& why);

}  // namespace rt
