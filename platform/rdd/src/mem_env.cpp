#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "rdd/env.h"

namespace rdd {
namespace {

// The bytes all files of one MemEnv hold together, and the most they may hold (0: no limit).
struct MemVolume {
  std::uint64_t used = 0, capacity = 0;
  std::int64_t clock = 0;  // stands in for the modification time: one tick per change
};

// One file's bytes and the locks that open files hold on it.
struct MemNode {
  std::shared_ptr<MemVolume> volume;
  std::vector<char> bytes;
  std::int64_t modified = 0;
  // Resizes the file, charging the volume; answers false (changing nothing) when it is full.
  bool resize(std::uint64_t n) {
    if (n > bytes.size() && volume->capacity && volume->used + (n - bytes.size()) > volume->capacity) return false;
    volume->used = volume->used + n - bytes.size();
    bytes.resize(n, 0);
    return true;
  }
  void touch() { modified = ++volume->clock; }
  struct Held {
    const void* owner;
    std::uint64_t offset, length;
    LockKind kind;
  };
  std::vector<Held> locks;
};

class MemFile : public File {
 public:
  MemFile(std::shared_ptr<MemNode> node, bool writable) : node_(std::move(node)), writable_(writable) {}
  ~MemFile() override {
    auto& l = node_->locks;
    l.erase(std::remove_if(l.begin(), l.end(), [this](const MemNode::Held& h) { return h.owner == this; }),
            l.end());
  }
  Status read(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    const auto& b = node_->bytes;
    *got = offset >= b.size() ? 0 : std::min<std::size_t>(n, b.size() - offset);
    if (*got) std::memcpy(buffer, b.data() + offset, *got);
    return Status::okay();
  }
  Status write(std::uint64_t offset, const void* data, std::size_t n) override {
    if (!writable_) return Status::error(StatusKind::Io, "file opened read-only", 9);
    MemNode& node = *node_;
    std::size_t fits = n;
    bool full = false;
    if (node.bytes.size() < offset + n && !node.resize(offset + n)) {
      // A full volume takes what fits, as a disk does, then refuses the rest.
      std::uint64_t room = node.volume->capacity - node.volume->used + node.bytes.size();
      fits = room > offset ? static_cast<std::size_t>(room - offset) : 0;
      if (fits) (void)node.resize(offset + fits);
      full = true;
    }
    if (fits) std::memcpy(node.bytes.data() + offset, data, fits);
    node.touch();
    if (full) return Status::error(StatusKind::Io, "cannot write: No space left on device", 28);
    return Status::okay();
  }
  Status size(std::uint64_t* out) override {
    *out = node_->bytes.size();
    return Status::okay();
  }
  Status modifiedNs(std::int64_t* out) override {
    *out = node_->modified;
    return Status::okay();
  }
  Status truncate(std::uint64_t length) override {
    if (!writable_) return Status::error(StatusKind::Io, "file opened read-only", 9);
    if (!node_->resize(length)) return Status::error(StatusKind::Io, "cannot truncate: No space left on device", 28);
    node_->touch();
    return Status::okay();
  }
  Status sync() override { return Status::okay(); }
  std::string identity() const override { return "mem:" + std::to_string(reinterpret_cast<std::uintptr_t>(node_.get())); }
  Status lock(std::uint64_t offset, std::uint64_t length, LockKind kind, bool) override {
    for (const auto& h : node_->locks) {
      bool overlap = h.offset < offset + length && offset < h.offset + h.length;
      if (h.owner != this && overlap && (kind == LockKind::Exclusive || h.kind == LockKind::Exclusive))
        return Status::error(StatusKind::Busy, "byte range held by another open file", 32);
    }
    (void)unlock(offset, length);
    node_->locks.push_back({this, offset, length, kind});
    return Status::okay();
  }
  Status unlock(std::uint64_t offset, std::uint64_t length) override {
    auto& l = node_->locks;
    l.erase(std::remove_if(l.begin(), l.end(),
                           [&](const MemNode::Held& h) {
                             return h.owner == this && h.offset == offset && h.length == length;
                           }),
            l.end());
    return Status::okay();
  }

 private:
  std::shared_ptr<MemNode> node_;
  bool writable_;
};

class MemEnv : public Env {
 public:
  explicit MemEnv(std::uint64_t capacity) : volume_(std::make_shared<MemVolume>()) { volume_->capacity = capacity; }
  Status open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out) override {
    auto it = files_.find(path);
    if (it == files_.end()) {
      if (mode != OpenMode::CreateReadWrite)
        return Status::error(StatusKind::NotFound, "cannot open " + path + ": no such file", 2);
      auto node = std::make_shared<MemNode>();
      node->volume = volume_;
      it = files_.emplace(path, std::move(node)).first;
    }
    *out = std::make_unique<MemFile>(it->second, mode != OpenMode::ReadOnly);
    return Status::okay();
  }
  bool exists(const std::string& path) override { return files_.count(path) != 0; }
  Status remove(const std::string& path) override {
    auto it = files_.find(path);
    if (it == files_.end()) return Status::error(StatusKind::NotFound, "cannot remove " + path, 2);
    if (it->second.use_count() == 1) (void)it->second->resize(0);  // no open file keeps the bytes
    files_.erase(it);
    return Status::okay();
  }

 private:
  std::shared_ptr<MemVolume> volume_;
  std::map<std::string, std::shared_ptr<MemNode>> files_;
};

class FaultFile : public File {
 public:
  FaultFile(std::unique_ptr<File> base, FaultEnv* env, std::string path)
      : base_(std::move(base)), env_(env), path_(std::move(path)) {}
  Status read(std::uint64_t o, void* b, std::size_t n, std::size_t* g) override {
    env_->noteRead(path_, o, n);
    if (env_->shouldFailRead()) return Status::error(StatusKind::Io, "injected read fault", 5);
    return base_->read(o, b, n, g);
  }
  Status write(std::uint64_t o, const void* d, std::size_t n) override {
    if (env_->shouldFailWrite()) return Status::error(StatusKind::Io, "injected write fault", 5);
    return base_->write(o, d, n);
  }
  // Asking a file's size or time counts as a read.
  Status size(std::uint64_t* out) override {
    if (env_->shouldFailRead()) return Status::error(StatusKind::Io, "injected read fault", 5);
    return base_->size(out);
  }
  Status modifiedNs(std::int64_t* out) override {
    if (env_->shouldFailRead()) return Status::error(StatusKind::Io, "injected read fault", 5);
    return base_->modifiedNs(out);
  }
  Status truncate(std::uint64_t length) override {
    if (env_->shouldFailWrite()) return Status::error(StatusKind::Io, "injected write fault", 5);
    return base_->truncate(length);
  }
  void releaseView(std::uint64_t o, std::uint64_t l) override { base_->releaseView(o, l); }
  Status sync() override {
    if (env_->shouldFailSync()) return Status::error(StatusKind::Io, "injected sync fault", 5);
    return base_->sync();
  }
  Status lock(std::uint64_t o, std::uint64_t l, LockKind k, bool w) override {
    if (env_->shouldFailLock()) return Status::error(StatusKind::Io, "injected lock fault", 37);
    return base_->lock(o, l, k, w);
  }
  Status unlock(std::uint64_t o, std::uint64_t l) override { return base_->unlock(o, l); }
  bool heldByOthers(std::uint64_t o, std::uint64_t l, LockKind k) override { return base_->heldByOthers(o, l, k); }
  std::string identity() const override { return base_->identity(); }

 private:
  std::unique_ptr<File> base_;
  FaultEnv* env_;
  std::string path_;
};

}  // namespace

std::unique_ptr<Env> newMemEnv(std::uint64_t capacity) { return std::make_unique<MemEnv>(capacity); }

Status FaultEnv::open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out) {
  std::unique_ptr<File> f;
  Status s = base_->open(path, mode, &f);
  if (!s.ok()) return s;
  *out = std::make_unique<FaultFile>(std::move(f), this, path);
  return s;
}

bool FaultEnv::shouldFailWrite() {
  ++writes_;
  if (killLeft_ > 0 && --killLeft_ == 0) ::kill(::getpid(), SIGKILL);
  if (tripped_ && sticky_) return true;
  if (writesLeft_ > 0 && --writesLeft_ == 0) {
    tripped_ = true;
    return true;
  }
  return false;
}

bool FaultEnv::shouldFailLock() {
  ++locks_;
  return locksLeft_ > 0 && --locksLeft_ == 0;
}

bool FaultEnv::shouldFailRead() {
  ++reads_;
  return readsLeft_ > 0 && --readsLeft_ == 0;
}

bool FaultEnv::shouldFailSync() {
  ++syncs_;
  return syncsLeft_ > 0 && --syncsLeft_ == 0;
}

}  // namespace rdd
