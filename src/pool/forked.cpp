#include "pool/forked.hpp"

#include <pthread.h>

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "pool/cpu_count.hpp"

namespace tarnix::pool::forked {

namespace {

struct Job {
    std::size_t n;
    std::size_t grain;
    std::size_t blocks;
    BlockFunction f;
    std::atomic<std::size_t> next{0};    // the next block to take
    std::atomic<bool> failed{false};     // a block threw: the others are skipped
    std::size_t unfinished;              // blocks taken or not, not yet done; under the mutex
    std::exception_ptr error;            // the first one thrown; under the mutex
};

// Threads that take the blocks of every job posted, the newest job first (a
// nested one before the one that posted it). A thread waiting for its own job
// to finish does not take other blocks meanwhile: each block it waits for is
// being run by a thread that makes progress, so nesting cannot deadlock.
class Threads {
public:
    explicit Threads(std::size_t size) : size_(size) {}

    std::size_t size() const noexcept { return size_; }

    void run(Job& job) {
        {
            std::lock_guard lock(mutex_);
            if (!started_) start_helpers();
            jobs_.push_back(&job);
        }
        work_.notify_all();
        for (std::size_t block; (block = job.next.fetch_add(1)) < job.blocks;) run_block(job, block);
        std::unique_lock lock(mutex_);
        if (auto it = std::find(jobs_.begin(), jobs_.end(), &job); it != jobs_.end()) jobs_.erase(it);
        done_.wait(lock, [&] { return job.unfinished == 0; });
        if (job.error) std::rethrow_exception(job.error);
    }

private:
    // Under the mutex. Threads that cannot be made leave the work to fewer.
    void start_helpers() {
        started_ = true;
        for (std::size_t i = 1; i < size_; ++i) {
            try {
                std::thread([this] { help(); }).detach();
            } catch (const std::system_error&) {
                return;
            }
        }
    }

    // A helper lives as long as the process.
    void help() {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return !jobs_.empty(); });
            Job& job = *jobs_.back();
            const std::size_t block = job.next.fetch_add(1);
            if (block >= job.blocks) {
                jobs_.pop_back();
                continue;
            }
            // The job lives until its last block is done (its caller waits for that).
            lock.unlock();
            run_block(job, block);
            lock.lock();
        }
    }

    void run_block(Job& job, std::size_t block) {
        if (!job.failed.load(std::memory_order_relaxed)) {
            const std::size_t begin = block * job.grain;
            try {
                job.f(begin, std::min(job.n, begin + job.grain));
            } catch (...) {
                std::lock_guard lock(mutex_);
                if (!job.error) job.error = std::current_exception();
                job.failed.store(true, std::memory_order_relaxed);
            }
        }
        std::lock_guard lock(mutex_);
        if (--job.unfinished == 0) done_.notify_all();
    }

    const std::size_t size_;
    std::mutex mutex_;
    std::condition_variable work_;  // helpers: a job was posted
    std::condition_variable done_;  // callers: a job's last block is done
    std::vector<Job*> jobs_;        // jobs whose blocks may not all be taken
    bool started_ = false;
};

// This process's threads, made on first use. Never destroyed: helpers wait on
// them until the process ends.
std::atomic<Threads*> current{nullptr};

Threads& threads() {
    Threads* made = current.load(std::memory_order_acquire);
    if (made != nullptr) return *made;
    auto fresh = std::make_unique<Threads>(configured_thread_count());
    if (current.compare_exchange_strong(made, fresh.get(), std::memory_order_acq_rel)) return *fresh.release();
    return *made;  // another thread made them first
}

// In the child, which has this one thread only: the threads of the parent's
// pool (oneTBB's or plain) are not there, so they are left as they are.
void on_fork_in_child() noexcept { enter(); }

[[maybe_unused]] const int fork_handler = pthread_atfork(nullptr, nullptr, on_fork_in_child);

}  // namespace

void enter() noexcept {
    current.store(nullptr, std::memory_order_relaxed);
    in_child.store(true, std::memory_order_relaxed);
}

std::size_t size() { return threads().size(); }

void run_blocks(std::size_t n, std::size_t grain, BlockFunction f) {
    if (n == 0) return;
    const std::size_t blocks = (n - 1) / grain + 1;
    Threads& pool = threads();
    if (blocks == 1 || pool.size() == 1) {
        for (std::size_t begin = 0; begin < n; begin += grain) f(begin, std::min(n, begin + grain));
        return;
    }
    Job job{n, grain, blocks, f, {}, {}, blocks, {}};
    pool.run(job);
}

}  // namespace tarnix::pool::forked
