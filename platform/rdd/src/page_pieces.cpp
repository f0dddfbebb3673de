#include "page_pieces.h"

namespace rdd {

std::vector<std::uint8_t> PagePieces::put(std::uint64_t at, std::vector<std::uint8_t>&& bytes) {
  std::unique_lock<std::mutex> hold(mutex_);
  room_.wait(hold, [&] { return givenUp_ || waiting_.size() < kWaiting; });
  if (givenUp_) return {};
  waiting_.push_back({at, std::move(bytes)});
  arrived_.notify_one();
  if (written_.empty()) return {};
  std::vector<std::uint8_t> next = std::move(written_.back());
  written_.pop_back();
  next.clear();
  return next;
}

void PagePieces::makerDone() {
  std::lock_guard<std::mutex> hold(mutex_);
  --makersLeft_;
  arrived_.notify_one();
}

Status PagePieces::writeAll(File& file) {
  Status status;
  auto giveUp = [&] {
    std::lock_guard<std::mutex> hold(mutex_);
    givenUp_ = true;
    waiting_.clear();
    room_.notify_all();
  };
  try {
    for (;;) {
      Piece piece;
      {
        std::unique_lock<std::mutex> hold(mutex_);
        arrived_.wait(hold, [&] { return !waiting_.empty() || makersLeft_ == 0; });
        if (waiting_.empty()) return status;
        piece = std::move(waiting_.front());
        waiting_.pop_front();
        room_.notify_one();
      }
      status = file.write(piece.at, piece.bytes.data(), piece.bytes.size());
      if (!status.ok()) {
        giveUp();
        break;
      }
      std::lock_guard<std::mutex> hold(mutex_);
      written_.push_back(std::move(piece.bytes));
    }
  } catch (...) {
    giveUp();
    throw;
  }
  // Given up: the makers still running drop what they put; wait for them to finish.
  std::unique_lock<std::mutex> hold(mutex_);
  arrived_.wait(hold, [&] { return makersLeft_ == 0; });
  return status;
}

}  // namespace rdd
