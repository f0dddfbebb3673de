// The one seam through which the table driver reaches the operating system: files, byte-range
// locks and the clocks. The POSIX implementation uses open-file-description locks, so two opens of one file in
// the same process lock against each other exactly as two processes do. The in-memory and the
// fault-injecting implementations exist for tests. Not thread-safe; one thread uses an Env.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace rdd {

enum class StatusKind { Ok, NotFound, Io, Corruption, InvalidArgument, Busy };

// Result of a fallible step inside the driver; turned into a raised error at the public edge.
struct [[nodiscard]] Status {
  StatusKind kind = StatusKind::Ok;
  std::string message;
  int osCode = 0;
  bool ok() const { return kind == StatusKind::Ok; }
  static Status okay() { return {}; }
  static Status error(StatusKind k, std::string msg, int os = 0) { return {k, std::move(msg), os}; }
};

enum class LockKind { Shared, Exclusive };

class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at offset; *got tells how many were there (short at end of file).
  virtual Status read(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) = 0;
  virtual Status write(std::uint64_t offset, const void* data, std::size_t n) = 0;
  virtual Status size(std::uint64_t* out) = 0;
  // The time of the last change to the file's bytes, in nanoseconds where the file system keeps
  // them (any value that changes with every write will do).
  virtual Status modifiedNs(std::int64_t* out) = 0;
  virtual Status truncate(std::uint64_t length) = 0;
  virtual Status sync() = 0;
  // Byte-range lock owned by this open file. Without wait a conflicting lock answers Busy.
  virtual Status lock(std::uint64_t offset, std::uint64_t length, LockKind kind, bool wait) = 0;
  virtual Status unlock(std::uint64_t offset, std::uint64_t length) = 0;
  // Whether another open of the file holds a lock on the range that conflicts with `kind`,
  // without taking one. True when it cannot be told.
  virtual bool heldByOthers(std::uint64_t /*offset*/, std::uint64_t /*length*/, LockKind /*kind*/) { return true; }
  // Serves reads and writes that lie inside the file's first `length` bytes (and inside the file)
  // from a shared memory view instead of a system call each; what is written through the view is
  // in the file for every other user at once, as with write(). When another program shrinks the
  // file under the view, an access beyond its new end answers an Io error ("the file shrank while
  // open") instead of stopping the process. Answers false where no view can be made; the calls
  // then work as before.
  virtual bool mapPrefix(std::uint64_t /*length*/) { return false; }
  // Lets go of the memory the view holds for a stretch read through (a scan behind itself): the
  // bytes stay in the file and in the system's cache, and a later access maps them again.
  virtual void releaseView(std::uint64_t /*offset*/, std::uint64_t /*length*/) {}
  // The same text for every open of one file, different texts for different files; "" when it
  // cannot be told (then the file is taken as possibly being any other).
  virtual std::string identity() const { return {}; }
};

enum class OpenMode { ReadOnly, ReadWrite, CreateReadWrite };

// How large the driver lets a table file and an index file grow, in bytes; 0 (and anything
// larger) means the most the file's format addresses. Tests set them small to reach them.
struct FileLimits {
  std::uint64_t tableBytes = 0;
  std::uint64_t indexBytes = 0;
};

class Env {
 public:
  virtual ~Env() = default;
  virtual Status open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out) = 0;
  virtual bool exists(const std::string& path) = 0;
  virtual Status remove(const std::string& path) = 0;
  // A clock in milliseconds that never goes back (it times append bursts).
  virtual std::int64_t monotonicMs();
  // The calendar time in seconds since 1970 (it dates table headers).
  virtual std::int64_t calendarSeconds();
  const FileLimits& limits() const { return limits_; }
  void setLimits(const FileLimits& limits) { limits_ = limits; }

 private:
  FileLimits limits_;
};

// The process's real file system (never deleted).
Env* defaultEnv();

// A file system held in memory; locks conflict between different open files as on disk. With a
// capacity, the files together hold at most that many bytes: a write beyond it stores what fits
// and fails as a full disk does (ENOSPC).
std::unique_ptr<Env> newMemEnv(std::uint64_t capacity = 0);

// Wraps another Env and fails chosen operations, counting from 1; its monotonic clock can be set
// by the test.
class FaultEnv : public Env {
 public:
  explicit FaultEnv(Env* base) : base_(base) {}
  void failWriteNumber(int n) { writesLeft_ = n; }  // the n-th write from now fails; 0 = never
  void failLockNumber(int n) { locksLeft_ = n; }
  void failReadNumber(int n) { readsLeft_ = n; }  // reads, sizes and times of files
  void failEveryWriteAfterFirstFault(bool on) { sticky_ = on; }
  void failSyncNumber(int n) { syncsLeft_ = n; }
  // The n-th write or truncate from now ends the process (SIGKILL) before it happens: a crash at
  // that point. 0 = never.
  void killAtWriteNumber(int n) { killLeft_ = n; }
  int writesSeen() const { return writes_; }
  int locksSeen() const { return locks_; }
  int readsSeen() const { return reads_; }
  int syncsSeen() const { return syncs_; }
  std::uint64_t bytesAskedToRead() const { return bytesRead_; }  // by the reads so far
  // Answers `now()` as the monotonic clock instead of the wrapped Env's (null: the wrapped one).
  void setClock(std::function<std::int64_t()> now) { clock_ = std::move(now); }
  // Called before each read of a file's bytes, with the file's path, the offset and the length:
  // what another process does between two reads (null: nothing).
  using ReadHook = std::function<void(const std::string& path, std::uint64_t offset, std::size_t n)>;
  void beforeEachRead(ReadHook hook) { readHook_ = std::move(hook); }

  Status open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out) override;
  bool exists(const std::string& path) override { return base_->exists(path); }
  Status remove(const std::string& path) override { return base_->remove(path); }
  std::int64_t monotonicMs() override { return clock_ ? clock_() : base_->monotonicMs(); }
  std::int64_t calendarSeconds() override { return base_->calendarSeconds(); }

  // Called by the wrapped files.
  bool shouldFailWrite();
  bool shouldFailLock();
  bool shouldFailRead();
  bool shouldFailSync();
  void noteRead(const std::string& path, std::uint64_t offset, std::size_t n) {
    bytesRead_ += n;
    if (readHook_) readHook_(path, offset, n);
  }

 private:
  Env* base_;
  std::function<std::int64_t()> clock_;
  ReadHook readHook_;
  int writesLeft_ = 0, locksLeft_ = 0, readsLeft_ = 0, syncsLeft_ = 0, killLeft_ = 0;
  int writes_ = 0, locks_ = 0, reads_ = 0, syncs_ = 0;
  std::uint64_t bytesRead_ = 0;
  bool sticky_ = false, tripped_ = false;
};

}  // namespace rdd
