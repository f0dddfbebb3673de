// Pieces of an index image made on helper threads and written, as they come, by the one thread
// that uses the file: each piece is a run of whole pages with the offset it goes to.
//
// States: writing (pieces are written as they arrive) -> given up (a write failed or the writer
// stopped: pieces put after are dropped, so no maker waits for room) -> done (every maker said
// so). A maker waits while kWaiting pieces wait to be written, so memory stays bounded however
// large the image.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "rdd/env.h"

namespace rdd {

class PagePieces {
 public:
  explicit PagePieces(std::size_t makers) : makersLeft_(makers) {}
  // A maker's piece, to be written at `at`; waits while the writer is behind. Answers an empty
  // buffer for the next piece: one already written, whose memory is still in place.
  std::vector<std::uint8_t> put(std::uint64_t at, std::vector<std::uint8_t>&& bytes);
  // Each maker says so once, when it has put its last piece (or failed).
  void makerDone();
  // Writes the pieces as they come, until every maker is done; answers the first failure, after
  // which the rest are dropped.
  Status writeAll(File& file);

 private:
  static constexpr std::size_t kWaiting = 4;
  struct Piece {
    std::uint64_t at;
    std::vector<std::uint8_t> bytes;
  };
  std::mutex mutex_;
  std::condition_variable room_, arrived_;
  std::deque<Piece> waiting_;
  std::vector<std::vector<std::uint8_t>> written_;  // buffers to be taken again
  std::size_t makersLeft_;
  bool givenUp_ = false;
};

}  // namespace rdd
