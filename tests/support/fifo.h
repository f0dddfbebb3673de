// A named pipe standing where a reader expects a file. A reader that opens it the blocking way
// waits for a writer for ever; so that such a fault fails its test instead of hanging the suite,
// a watchdog opens the pipe itself after a few seconds, which frees the reader, and records that
// it had to.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class Fifo {
 public:
  explicit Fifo(std::string path) : path_(std::move(path)) {
    made_ = ::mkfifo(path_.c_str(), 0600) == 0;
    watchdog_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      if (done_.wait_for(lock, std::chrono::seconds(5), [this] { return finished_; })) return;
      released_ = true;
      const int fd = ::open(path_.c_str(), O_RDWR | O_NONBLOCK);
      done_.wait(lock, [this] { return finished_; });
      if (fd >= 0) ::close(fd);
    });
  }
  ~Fifo() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    watchdog_.join();
    ::unlink(path_.c_str());
  }
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;

  bool made() const { return made_; }
  // True when a reader blocked on the pipe and the watchdog had to free it.
  bool blockedAReader() const { return released_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool made_ = false;
  std::atomic<bool> released_{false};
  bool finished_ = false;
  std::mutex mutex_;
  std::condition_variable done_;
  std::thread watchdog_;
};
