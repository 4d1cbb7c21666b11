#include "thread_pool.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>

namespace fasogram::detail {
namespace {

class Pool {
  public:
    // Set for the whole of a call: one caller at a time.
    std::atomic<bool> busy{false};

    // Starts threads until there are `helpers` (or as many as could be
    // started), hands them the job and waits for them.
    void run(unsigned helpers, const std::function<void(unsigned)>& job) {
        while (threads_.size() < helpers) {
            try {
                const auto id = static_cast<unsigned>(threads_.size()) + 1;
                threads_.emplace_back([this, id] { serve(id); });
            } catch (...) {
                break;
            }
        }
        if (helpers > threads_.size()) helpers = static_cast<unsigned>(threads_.size());
        {
            std::lock_guard<std::mutex> lock(m_);
            job_ = &job;
            wanted_ = helpers;
            running_ = helpers;
            ++generation_;
        }
        if (helpers > 0) work_.notify_all();
        job(0);
        std::unique_lock<std::mutex> lock(m_);
        done_.wait(lock, [&] { return running_ == 0; });
        job_ = nullptr;
    }

  private:
    void serve(unsigned id) {
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            work_.wait(lock, [&] { return generation_ != seen; });
            seen = generation_;
            if (id > wanted_) continue;
            const std::function<void(unsigned)>* job = job_;
            lock.unlock();
            (*job)(id);
            lock.lock();
            if (--running_ == 0) done_.notify_one();
        }
    }

    std::mutex m_;
    std::condition_variable work_, done_;
    std::vector<std::thread> threads_;
    const std::function<void(unsigned)>* job_ = nullptr;
    unsigned wanted_ = 0;
    unsigned running_ = 0;
    std::uint64_t generation_ = 0;
};

// The pool of this process.  Never destroyed: its threads wait for work
// until the process ends.  A child of fork() has none of its parent's
// threads, so it leaves the parent's pool alone and makes its own.  The
// lock is held across fork() (pthread_atfork), so that a child never starts
// with it taken by a thread it does not have.
std::mutex pool_lock;
Pool* pool = nullptr;
pid_t pool_owner = 0;

void lock_for_fork() {
    pool_lock.lock();
}
void unlock_after_fork() {
    pool_lock.unlock();
}

Pool& the_pool() {
    static const bool registered = [] {
        ::pthread_atfork(lock_for_fork, unlock_after_fork, unlock_after_fork);
        return true;
    }();
    (void)registered;
    std::lock_guard<std::mutex> guard(pool_lock);
    const pid_t self = ::getpid();
    if (pool == nullptr || pool_owner != self) {
        pool = new Pool;
        pool_owner = self;
    }
    return *pool;
}

void run_on_own_threads(unsigned helpers, const std::function<void(unsigned)>& job) {
    std::vector<std::thread> threads;
    for (unsigned id = 1; id <= helpers; ++id) {
        try {
            threads.emplace_back(job, id);
        } catch (...) {
            break;
        }
    }
    job(0);
    for (auto& th : threads) th.join();
}

} // namespace

void run_on_pool(unsigned helpers, const std::function<void(unsigned)>& job) {
    if (helpers == 0) {
        job(0);
        return;
    }
    Pool& pool = the_pool();
    bool idle = false;
    if (!pool.busy.compare_exchange_strong(idle, true, std::memory_order_acquire)) {
        run_on_own_threads(helpers, job);
        return;
    }
    struct Release {
        Pool& pool;
        ~Release() { pool.busy.store(false, std::memory_order_release); }
    } release{pool};
    pool.run(helpers, job);
}

} // namespace fasogram::detail
