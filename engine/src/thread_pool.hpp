// One set of worker threads for the life of the process, shared by every
// parallel loop of the engine.
#pragma once

#include <functional>

namespace fasogram::detail {

// Runs job(0) on the calling thread and job(1) .. job(helpers) on threads of
// the pool at the same time, and returns once every one has returned.  The
// jobs must not throw.  A call made while the pool is busy with another (from
// another thread, or from inside a job) runs on threads of its own instead,
// and so does one made in a child process after fork().  Where not all the
// helpers can be had, fewer run: a job must not wait for another.
void run_on_pool(unsigned helpers, const std::function<void(unsigned)>& job);

} // namespace fasogram::detail
