// Added latency and datagram rate of the UDP forward against a direct loopback echo.
#include "forwarding/port_forward.h"

#include <QMetaObject>
#include <QThread>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int udpSocket(int timeoutMs)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const int buffer = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    return fd;
}

quint16 portOf(int fd)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    return ntohs(addr.sin_port);
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// A plain echo on its own thread, so only the forward runs on a Qt event loop.
class Echo
{
public:
    Echo()
        : m_fd(udpSocket(100))
        , m_thread([this] { run(); })
    {
    }
    ~Echo()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    quint16 port() const { return portOf(m_fd); }

private:
    void run()
    {
        std::vector<char> buffer(65536);
        while (!m_stop) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n >= 0)
                ::sendto(m_fd, buffer.data(), size_t(n), 0, reinterpret_cast<sockaddr *>(&from), len);
        }
    }
    int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The forward on a thread of its own with an event loop, as on the GUI thread.
class ForwardThread
{
public:
    explicit ForwardThread(quint16 remotePort)
    {
        m_thread.start();
        m_forward = new PortForward("bench", 0, "127.0.0.1", remotePort, ForwardProtocol::Udp);
        m_forward->moveToThread(&m_thread);
        QMetaObject::invokeMethod(m_forward, [this] { m_forward->start(); }, Qt::BlockingQueuedConnection);
    }
    ~ForwardThread()
    {
        QMetaObject::invokeMethod(m_forward, [this] { delete m_forward; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    quint16 port() const { return m_forward->localPort(); }

private:
    QThread m_thread;
    PortForward *m_forward = nullptr;
};

struct Latency
{
    double medianUs = 0;
    double p99Us = 0;
};

Latency measureLatency(quint16 target, int size, int samples)
{
    const int fd = udpSocket(1000);
    const sockaddr_in to = loopback(target);
    std::vector<char> out(size_t(size), 'x'), in(65536);
    std::vector<double> times;
    times.reserve(size_t(samples));
    for (int i = 0; i < samples + 20; ++i) {
        const auto begin = Clock::now();
        ::sendto(fd, out.data(), out.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        if (::recv(fd, in.data(), in.size(), 0) < 0)
            continue;
        if (i >= 20) // the first rounds warm up caches and create the mapping
            times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
    }
    ::close(fd);
    if (times.empty())
        return {};
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[std::min(times.size() - 1, times.size() * 99 / 100)]};
}

// Datagrams per second echoed back with a fixed number in flight.
double measureRate(quint16 target, int size, int total)
{
    constexpr int kWindow = 32;
    const int fd = udpSocket(200);
    const sockaddr_in to = loopback(target);
    std::vector<char> out(size_t(size), 'y'), in(65536);
    int sent = 0, received = 0;
    const auto begin = Clock::now();
    for (; sent < kWindow && sent < total; ++sent)
        ::sendto(fd, out.data(), out.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    while (received < sent) {
        if (::recv(fd, in.data(), in.size(), 0) < 0) {
            // A lost datagram: refill the window instead of waiting for it.
            if (sent < total) {
                ::sendto(fd, out.data(), out.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
                ++sent;
                ++received;
                continue;
            }
            break;
        }
        ++received;
        if (sent < total) {
            ::sendto(fd, out.data(), out.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            ++sent;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    ::close(fd);
    return seconds > 0 ? received / seconds : 0;
}

void BM_ForwardLatency(benchmark::State &state)
{
    const int size = int(state.range(0));
    Echo echo;
    ForwardThread forward(echo.port());
    Latency direct, forwarded;
    for (auto _ : state) {
        direct = measureLatency(echo.port(), size, 2000);
        forwarded = measureLatency(forward.port(), size, 2000);
    }
    state.counters["direct_median_us"] = direct.medianUs;
    state.counters["direct_p99_us"] = direct.p99Us;
    state.counters["fwd_median_us"] = forwarded.medianUs;
    state.counters["fwd_p99_us"] = forwarded.p99Us;
    state.counters["added_median_us"] = forwarded.medianUs - direct.medianUs;
    state.counters["added_p99_us"] = forwarded.p99Us - direct.p99Us;
    state.counters["median_ratio"] = direct.medianUs > 0 ? forwarded.medianUs / direct.medianUs : 0;
}

void BM_ForwardRate(benchmark::State &state)
{
    const int size = int(state.range(0));
    Echo echo;
    ForwardThread forward(echo.port());
    double direct = 0, forwarded = 0;
    for (auto _ : state) {
        direct = measureRate(echo.port(), size, 50000);
        forwarded = measureRate(forward.port(), size, 50000);
    }
    state.counters["direct_dgram_per_s"] = direct;
    state.counters["fwd_dgram_per_s"] = forwarded;
    state.counters["rate_ratio"] = direct > 0 ? forwarded / direct : 0;
}

} // namespace

BENCHMARK(BM_ForwardLatency)->Arg(100)->Arg(1200)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForwardRate)->Arg(100)->Arg(1200)->Iterations(1)->Unit(benchmark::kMillisecond);
