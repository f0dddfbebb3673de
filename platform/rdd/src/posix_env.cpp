#include <cerrno>
#include <algorithm>
#include <array>
#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "rdd/env.h"
#include "runtime/runtime.h"

namespace rdd {
namespace {

Status ioError(const std::string& what, const std::string& path) {
  int e = errno;
  return Status::error(e == ENOENT ? StatusKind::NotFound : StatusKind::Io,
                       what + " " + path + ": " + std::strerror(e), e);
}

// Copies to or from a shared view. Another program may have shrunk the file under the view, and
// touching a page beyond the file's end then raises SIGBUS: while a copy runs, this thread's
// handler turns that signal into a failed copy instead of the end of the process.
thread_local sigjmp_buf* volatile tCopyJump = nullptr;
struct sigaction gPreviousBusAction;

void onBusError(int signo, siginfo_t* info, void* context) {
  if (sigjmp_buf* jump = tCopyJump) {
    tCopyJump = nullptr;
    siglongjmp(*jump, 1);
  }
  // Not ours: hand the signal to whoever handled it before, or let it end the process.
  if (gPreviousBusAction.sa_flags & SA_SIGINFO) return gPreviousBusAction.sa_sigaction(signo, info, context);
  if (gPreviousBusAction.sa_handler != SIG_DFL && gPreviousBusAction.sa_handler != SIG_IGN)
    return gPreviousBusAction.sa_handler(signo);
  ::signal(SIGBUS, SIG_DFL);
  ::raise(SIGBUS);
}

void installBusHandler() {
  static bool installed = [] {
    struct sigaction sa{};
    sa.sa_sigaction = onBusError;
    sa.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    return ::sigaction(SIGBUS, &sa, &gPreviousBusAction) == 0;
  }();
  (void)installed;
}

// A write past the process's file-size limit (ulimit -f) would end the process with SIGXFSZ in
// the middle of a table's write, before the header counts what reached the file. Ignored, the
// write fails with EFBIG instead and the driver keeps the records that fit. A handler the program
// installed itself is left alone.
void failWritesPastTheSizeLimit() {
  static const bool done = [] {
    struct sigaction current{};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
        current.sa_handler == SIG_DFL)
      ::signal(SIGXFSZ, SIG_IGN);
    return true;
  }();
  (void)done;
}

// False when the file ended inside the copied range (the copy is then incomplete).
bool guardedCopy(void* to, const void* from, std::size_t n) {
  sigjmp_buf jump;
  if (sigsetjmp(jump, 0) != 0) return false;
  tCopyJump = &jump;
  std::atomic_signal_fence(std::memory_order_seq_cst);  // the handler sees the jump before the copy
  std::memcpy(to, from, n);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  tCopyJump = nullptr;
  return true;
}

class PosixFile : public File {
 public:
  PosixFile(int fd, std::string path, bool writable) : fd_(fd), writable_(writable), path_(std::move(path)) {}
  ~PosixFile() override {
    if (view_) ::munmap(view_, viewLen_);
    ::close(fd_);
  }

  bool mapPrefix(std::uint64_t length) override {
    if (length == 0) return false;
    if (view_ && length <= viewLen_) return true;
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return false;
    void* v = ::mmap(nullptr, length, PROT_READ | (writable_ ? PROT_WRITE : 0), MAP_SHARED, fd_, 0);
    if (v == MAP_FAILED) return false;
    installBusHandler();
    if (view_) ::munmap(view_, viewLen_);
    view_ = static_cast<char*>(v);
    viewLen_ = length;
    known_ = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  void releaseView(std::uint64_t offset, std::uint64_t length) override {
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t from = (offset + page - 1) / page * page, to = std::min(offset + length, viewLen_) / page * page;
    if (view_ && to > from) (void)::madvise(view_ + from, to - from, MADV_DONTNEED);
  }

  std::string identity() const override {
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return {};
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
  }

  Status read(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    if (view_ && n < kLongRead && offset + n <= std::min(known_, viewLen_)) {
      if (!guardedCopy(buffer, view_ + offset, n)) return shrank();
      *got = n;
      releaseReadPages(offset, n);
      return Status::okay();
    }
    Status s = readCalls(offset, buffer, n, got);
    if (view_ && s.ok()) noteExtent(offset + *got);
    return s;
  }
  Status write(std::uint64_t offset, const void* data, std::size_t n) override {
    if (view_ && writable_ && offset + n <= std::min(known_, viewLen_)) {
      mapForWriting(offset, n);
      if (!guardedCopy(view_ + offset, data, n)) return shrank();
      releaseReadPages(offset, n);
      return Status::okay();
    }
    Status s = writeCalls(offset, data, n);
    if (view_ && s.ok()) noteExtent(offset + n);
    return s;
  }

 private:
  // The file is shorter than this open last knew: nothing more is served from the view until the
  // size has been asked again.
  Status shrank() {
    known_ = 0;
    return Status::error(StatusKind::Io, "the file " + path_ + " shrank while open", EIO);
  }
  // The file reaches at least `end`: the view may serve up to there.
  void noteExtent(std::uint64_t end) { known_ = std::max(known_, end); }

  // The view serves long scans (a report reads every row of a large table, often more than once;
  // a compare reads and flags every row of two versions): once the stretches read or written
  // through add up to kHeldLimit, their pages are let go from the view, so the process does not
  // hold the whole file resident. The pages, written ones too, stay in the system's file cache
  // (a shared view keeps what was written), and the next access maps them again. A stretch is
  // counted once while it is among the last few touched: a compare walks two versions side by
  // side, and counting each switch between them as a new stretch would let go of the pages in
  // use (and fault them in again) every few hundred rows.
  static constexpr std::uint64_t kStretch = 64 * 1024;  // what one page fault may map around it
  // A read this long (a scan's chunk) is served by the system's read call, which copies from the
  // file cache once, where the view would first map every page of it and then let them go.
  static constexpr std::size_t kLongRead = 256 * 1024;
  static constexpr std::uint64_t kHeldLimit = 8 * 1024 * 1024;
  static constexpr std::size_t kRecentStretches = 4;
  // Writes through the view: each page's first write after it was mapped traps into the system
  // (to mark it dirty), a fault per 4 KB. The stretch a write lands in is made writable whole, in
  // one call, the first time it is written since it was mapped; its pages are written back as
  // they are, whether changed or not.
  void mapForWriting(std::uint64_t offset, std::size_t n) {
    const std::uint64_t first = offset / kStretch, last = (offset + n - 1) / kStretch;
    for (std::uint64_t s = first; s <= last; ++s) {
      if (std::find(writtenStretches_.begin(), writtenStretches_.end(), s) != writtenStretches_.end()) continue;
      writtenStretches_[nextWritten_] = s;
      nextWritten_ = (nextWritten_ + 1) % kRecentStretches;
      const std::uint64_t from = s * kStretch, to = std::min({from + kStretch, known_, viewLen_});
      if (to > from) (void)::madvise(view_ + from, to - from, MADV_POPULATE_WRITE);  // only spares faults
    }
  }
  void releaseReadPages(std::uint64_t offset, std::size_t n) {
    if (n == 0) return;
    const std::uint64_t first = offset / kStretch, last = (offset + n - 1) / kStretch;
    const bool recent = std::find(recentStretches_.begin(), recentStretches_.end(), first) != recentStretches_.end();
    held_ += (last - first + (recent ? 0 : 1)) * kStretch;
    if (!recent || first != last) {
      recentStretches_[nextRecent_] = last;
      nextRecent_ = (nextRecent_ + 1) % kRecentStretches;
    }
    readLow_ = std::min(readLow_, offset);
    readHigh_ = std::max(readHigh_, offset + n);
    if (held_ < kHeldLimit) return;
    const std::uint64_t from = readLow_ / kStretch * kStretch;
    (void)::madvise(view_ + from, std::min(readHigh_, viewLen_) - from, MADV_DONTNEED);
    held_ = 0;
    readLow_ = UINT64_MAX;
    readHigh_ = 0;
    recentStretches_.fill(UINT64_MAX);
    writtenStretches_.fill(UINT64_MAX);
  }

  Status readCalls(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) {
    std::size_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < n) {
      ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return ioError("cannot read", path_);
      }
      if (r == 0) break;
      done += static_cast<std::size_t>(r);
    }
    *got = done;
    return Status::okay();
  }
  Status writeCalls(std::uint64_t offset, const void* data, std::size_t n) {
    std::size_t done = 0;
    auto* p = static_cast<const char*>(data);
    while (done < n) {
      ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return ioError("cannot write", path_);
      }
      done += static_cast<std::size_t>(r);
    }
    return Status::okay();
  }

 public:
  Status size(std::uint64_t* out) override {
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return ioError("cannot stat", path_);
    *out = static_cast<std::uint64_t>(st.st_size);
    known_ = *out;
    return Status::okay();
  }
  Status modifiedNs(std::int64_t* out) override {
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return ioError("cannot stat", path_);
    *out = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return Status::okay();
  }
  Status truncate(std::uint64_t length) override {
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) return ioError("cannot truncate", path_);
    known_ = length;
    return Status::okay();
  }
  Status sync() override {
    if (::fdatasync(fd_) != 0) return ioError("cannot sync", path_);
    return Status::okay();
  }
  Status lock(std::uint64_t offset, std::uint64_t length, LockKind kind, bool wait) override {
    struct flock fl{};
    fl.l_type = kind == LockKind::Shared ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    for (;;) {
      if (::fcntl(fd_, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return Status::okay();
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EACCES)
        return Status::error(StatusKind::Busy, "byte range held by another user of " + path_, 32);
      return ioError("cannot lock", path_);
    }
  }
  Status unlock(std::uint64_t offset, std::uint64_t length) override {
    struct flock fl{};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) return ioError("cannot unlock", path_);
    return Status::okay();
  }
  bool heldByOthers(std::uint64_t offset, std::uint64_t length, LockKind kind) override {
    struct flock fl{};
    fl.l_type = kind == LockKind::Shared ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    return ::fcntl(fd_, F_OFD_GETLK, &fl) != 0 || fl.l_type != F_UNLCK;
  }

 private:
  int fd_;
  bool writable_;
  std::string path_;
  char* view_ = nullptr;
  std::uint64_t viewLen_ = 0;
  std::uint64_t known_ = 0;  // bytes the file holds at least (what the view may serve)
  // Read-only views: the stretches read through since their pages were last let go.
  std::uint64_t held_ = 0, readLow_ = UINT64_MAX, readHigh_ = 0;
  std::array<std::uint64_t, kRecentStretches> recentStretches_{UINT64_MAX, UINT64_MAX, UINT64_MAX, UINT64_MAX};
  std::size_t nextRecent_ = 0;
  std::array<std::uint64_t, kRecentStretches> writtenStretches_{UINT64_MAX, UINT64_MAX, UINT64_MAX, UINT64_MAX};
  std::size_t nextWritten_ = 0;
};

class PosixEnv : public Env {
 public:
  Status open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out) override {
    int flags = 0;
    switch (mode) {
      case OpenMode::ReadOnly: flags |= O_RDONLY; break;
      case OpenMode::ReadWrite: flags |= O_RDWR; break;
      case OpenMode::CreateReadWrite: flags |= O_RDWR | O_CREAT; break;
    }
    if (mode != OpenMode::ReadOnly) failWritesPastTheSizeLimit();
    std::string why;
    int fd = rt::openRegularFile(path, flags, &why);
    if (fd < 0 && errno == EINVAL) return Status::error(StatusKind::InvalidArgument, path + " " + why);
    if (fd < 0) return ioError("cannot open", path);
    *out = std::make_unique<PosixFile>(fd, path, mode != OpenMode::ReadOnly);
    return Status::okay();
  }
  bool exists(const std::string& path) override {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
  }
  Status remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return ioError("cannot remove", path);
    return Status::okay();
  }
};

}  // namespace

std::int64_t Env::monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::int64_t Env::calendarSeconds() { return static_cast<std::int64_t>(::time(nullptr)); }

Env* defaultEnv() {
  static PosixEnv env;
  return &env;
}

}  // namespace rdd
