#include "runtime/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rt {

int openRegularFile(const std::string& path, int flags, std::string* why, unsigned mode) {
  // O_NONBLOCK keeps the open itself from waiting on a FIFO's other end; for a regular file it
  // changes nothing, and it is cleared again before the descriptor is handed out.
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, static_cast<mode_t>(mode));
  if (fd < 0) {
    const int e = errno;
    if (why) *why = std::string("cannot be opened (") + std::strerror(e) + ")";
    errno = e;
    return -1;
  }
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (why) *why = "is not a regular file";
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool readRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& why) {
  bytes.clear();
  const int fd = openRegularFile(path, O_RDONLY, &why);
  if (fd < 0) return false;
  struct stat st{};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && static_cast<std::size_t>(st.st_size) > maxBytes) {
    why = "is larger than " + std::to_string(maxBytes) + " bytes";
    ok = false;
  }
  // Read to the end rather than to the size seen: the file may grow or shrink meanwhile.
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::string("cannot be read (") + std::strerror(errno) + ")";
      ok = false;
    } else if (n == 0) {
      break;
    } else if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      why = "is larger than " + std::to_string(maxBytes) + " bytes";
      ok = false;
    } else {
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  if (!ok) bytes.clear();
  return ok;
}

}  // namespace rt
