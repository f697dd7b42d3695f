#include "crypto_crew.h"

#include <algorithm>

namespace ostrel::test_server {

namespace {
// Items one thread takes at a time, and bursts too small to be worth waking anyone for.
constexpr std::size_t kChunk = 8;
constexpr std::size_t kWorthSharing = 2 * kChunk;
}  // namespace

CryptoCrew::CryptoCrew(unsigned threads) {
    for (unsigned i = 1; i < threads; ++i) helpers_.emplace_back([this] { helper(); });
}

CryptoCrew::~CryptoCrew() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    start_.notify_all();
    for (auto& t : helpers_) t.join();
}

// Takes the next chunk of burst `generation`; false once it is all taken or another burst began.
bool CryptoCrew::claim(std::uint64_t generation, Chunk& chunk) {
    std::lock_guard lock(mutex_);
    if (generation != generation_ || next_ >= count_) return false;
    chunk = {job_, next_, std::min(next_ + kChunk, count_)};
    next_ = chunk.end;
    return true;
}

void CryptoCrew::work(std::uint64_t generation) {
    Chunk chunk;
    while (claim(generation, chunk)) {
        for (std::size_t i = chunk.begin; i < chunk.end; ++i) (*chunk.job)(i);
        std::lock_guard lock(mutex_);
        done_ += chunk.end - chunk.begin;
        if (done_ == count_) finished_.notify_all();
    }
}

void CryptoCrew::run(std::size_t count, const std::function<void(std::size_t)>& job) {
    if (helpers_.empty() || count < kWorthSharing) {
        for (std::size_t i = 0; i < count; ++i) job(i);
        return;
    }
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        job_ = &job;
        count_ = count;
        next_ = done_ = 0;
        generation = ++generation_;
    }
    start_.notify_all();
    work(generation);
    // Only chunks already taken are waited for: a helper that wakes late finds nothing left,
    // so a descheduled helper never holds the burst up.
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return done_ == count_; });
    job_ = nullptr;
}

void CryptoCrew::helper() {
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            start_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
        }
        work(seen);
    }
}

}  // namespace ostrel::test_server
