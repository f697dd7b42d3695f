#pragma once
// Threads that share the cipher work of one receive burst (opening what arrived, sealing
// what goes out), so one busy member's traffic is not bound to one core.
//   CryptoCrew crew(4);                  // the caller and three helpers
//   crew.run(n, [&](std::size_t i) { ... });   // returns when every i has run
// Jobs must not depend on each other; the caller keeps every decision about order.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ostrel::test_server {

class CryptoCrew {
public:
    explicit CryptoCrew(unsigned threads);
    ~CryptoCrew();
    CryptoCrew(const CryptoCrew&) = delete;
    CryptoCrew& operator=(const CryptoCrew&) = delete;

    void run(std::size_t count, const std::function<void(std::size_t)>& job);
    unsigned size() const { return static_cast<unsigned>(helpers_.size()) + 1; }

private:
    struct Chunk {
        const std::function<void(std::size_t)>* job = nullptr;
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    bool claim(std::uint64_t generation, Chunk& chunk);
    void work(std::uint64_t generation);
    void helper();

    std::vector<std::thread> helpers_;
    std::mutex mutex_;
    std::condition_variable start_;
    std::condition_variable finished_;
    const std::function<void(std::size_t)>* job_ = nullptr;
    std::size_t count_ = 0;
    std::size_t next_ = 0;
    std::size_t done_ = 0;
    std::uint64_t generation_ = 0;
    bool stopping_ = false;
};

}  // namespace ostrel::test_server
