// Work spread over the machine's cores. A job touches memory only: every file operation stays on
// the thread that called, so the Env is still used by one thread.
#pragma once
#include <cstddef>
#include <functional>

namespace rdd {

// Runs job(k) for every k in [0, n), each once, on at most one thread per core, and answers when
// all have ended. With `meanwhile` empty the calling thread takes jobs too; otherwise it runs
// `meanwhile` and the jobs run beside it, on at least one thread of their own. An exception a job
// or `meanwhile` threw is thrown again once every thread has ended (the first one caught, when
// there are several).
void runSideBySide(std::size_t n, const std::function<void(std::size_t)>& job,
                   const std::function<void()>& meanwhile = {});

}  // namespace rdd
