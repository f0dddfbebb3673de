#include "side_by_side.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace rdd {

void runSideBySide(std::size_t n, const std::function<void(std::size_t)>& job, const std::function<void()>& meanwhile) {
  std::atomic<std::size_t> next{0};
  std::mutex failureMutex;
  std::exception_ptr failure;
  auto keep = [&](std::exception_ptr e) {
    std::lock_guard<std::mutex> hold(failureMutex);
    if (!failure) failure = std::move(e);
  };
  auto takeJobs = [&] {
    for (std::size_t k; (k = next.fetch_add(1)) < n;) {
      try {
        job(k);
      } catch (...) {
        keep(std::current_exception());
      }
    }
  };
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t helpers = std::min(n, meanwhile ? cores : cores - 1);
  {
    std::vector<std::jthread> threads;
    threads.reserve(helpers);
    try {
      for (std::size_t i = 0; i < helpers; ++i) threads.emplace_back(takeJobs);
    } catch (const std::system_error&) {
      // Fewer threads than cores: those started take every job, unless none started and the
      // jobs need `meanwhile` beside them.
      if (threads.empty() && meanwhile) throw;
    }
    try {
      if (meanwhile)
        meanwhile();
      else
        takeJobs();
    } catch (...) {
      keep(std::current_exception());
    }
  }  // every helper joined
  if (failure) std::rethrow_exception(failure);
}

}  // namespace rdd
