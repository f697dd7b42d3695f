// ostrel_bench: packets per second and Gbit/s of the tunnel's data path for 64-, 512- and
// 1400-byte packets. "payload_Gbit/s" counts packet bytes only (no headers, tags or UDP).

#include "device/packet_device.h"
#include "core/running_flag.h"
#include "session/crypto.h"
#include "session/session.h"
#include "tunnel_server.h"

#include <benchmark/benchmark.h>
#include <sodium.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

using namespace ostrel;

namespace {

constexpr std::int64_t kSizes[] = {64, 512, 1400};

void reportRate(benchmark::State& state, std::int64_t packets, std::int64_t bytes) {
    state.counters["packets/s"] = benchmark::Counter(static_cast<double>(packets), benchmark::Counter::kIsRate);
    state.counters["payload_Gbit/s"] =
        benchmark::Counter(static_cast<double>(bytes) * 8 / 1e9, benchmark::Counter::kIsRate);
}

Key32 benchKey() {
    Key32 key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return key;
}

void BM_SealInPlace(benchmark::State& state) {
    auto size = static_cast<std::size_t>(state.range(0));
    Key32 key = benchKey();
    std::vector<std::uint8_t> data(size, 0xab);
    std::array<std::uint8_t, 16> tag{};
    std::uint64_t counter = 1;
    for (auto _ : state) {
        auto header = PacketHeader(MessageType::Data, 42, counter).encode();
        bool ok = SessionCipher::sealInPlace(key, counter, data, tag, header);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(tag.data());
        ++counter;
    }
    reportRate(state, state.iterations(), state.iterations() * static_cast<std::int64_t>(size));
}

void BM_OpenInPlace(benchmark::State& state) {
    auto size = static_cast<std::size_t>(state.range(0));
    Key32 key = benchKey();
    std::uint64_t counter = kServerCounterBit | 5;
    auto header = PacketHeader(MessageType::Data, 42, counter).encode();
    std::vector<std::uint8_t> plain(size, 0xcd);
    auto sealed = SessionCipher::seal(key, counter, plain, header);
    if (!sealed) {
        state.SkipWithError("seal failed");
        return;
    }
    std::vector<std::uint8_t> out(size);
    for (auto _ : state) {
        bool ok = SessionCipher::openInto(key, counter, *sealed, header, out);
        if (!ok) {
            state.SkipWithError("open failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    reportRate(state, state.iterations(), state.iterations() * static_cast<std::int64_t>(size));
}

// Hands the run loop a fresh frame on every receive, and stops the run after `budget` frames.
class SourceDevice final : public PacketDevice {
public:
    SourceDevice(std::size_t size, RunningFlag& running, std::int64_t budget)
        : frame_(size, 0x5c), running_(running), left_(budget) {
        // Unicast to a MAC nobody owns, never the gateway's: no urgent path.
        const std::uint8_t dest[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
        std::memcpy(frame_.data(), dest, 6);
        frame_[12] = 0x08;
        frame_[13] = 0x00;
    }
    std::string name() const override { return "bench0"; }
    std::expected<void, ClientError> configure(const HostSettings&) override { return {}; }
    std::expected<std::optional<std::size_t>, ClientError> receive(std::span<std::uint8_t> buffer) override {
        if (left_ <= 0) {
            running_.clear();
            return std::optional<std::size_t>{};
        }
        --left_;
        std::memcpy(buffer.data(), frame_.data(), frame_.size());
        return std::optional<std::size_t>{frame_.size()};
    }
    std::expected<void, ClientError> send(std::span<const std::uint8_t>) override { return {}; }
    std::expected<void, ClientError> wait(int, std::chrono::nanoseconds) override { return {}; }

private:
    std::vector<std::uint8_t> frame_;
    RunningFlag& running_;
    std::int64_t left_;
};

// Keeps the handshake's event lines out of the benchmark's table.
class NoEvents final : public SessionEvents {
public:
    void handshake(std::string_view) override {}
    void kicked() override {}
    void bridgeInfo(const BridgeInfo&) override {}
};

void BM_RunLoopToServer(benchmark::State& state) {
    auto size = static_cast<std::size_t>(state.range(0));
    test_server::ServerOptions options;
    options.accounts.add({"bench", "bench-pw", "bench-node", TunnelMode::l2, 4});
    test_server::TunnelServer server(std::move(options));
    if (auto started = server.start(); !started) {
        state.SkipWithError(started.error().c_str());
        return;
    }
    NoEvents quiet;
    ConnectOptions connect;
    connect.events = &quiet;
    auto session = Session::connect(server.address(), "bench", "bench-pw", "bench-node", TunnelMode::l2,
                                    std::nullopt, connect);
    if (!session) {
        state.SkipWithError(session.error().detail().c_str());
        return;
    }
    constexpr std::int64_t kFramesPerRun = 20000;
    std::int64_t frames = 0;
    for (auto _ : state) {
        RunningFlag running;
        SourceDevice device(size, running, kFramesPerRun);
        auto ended = (*session)->run(device, running);
        if (!ended) {
            state.SkipWithError(ended.error().detail().c_str());
            break;
        }
        frames += kFramesPerRun;
    }
    reportRate(state, frames, frames * static_cast<std::int64_t>(size));
    // How much of it the server took in; loopback drops when the server falls behind.
    server.waitFor([&] { return server.stats().dataPackets >= static_cast<std::uint64_t>(frames); },
                   std::chrono::milliseconds(500));
    state.counters["server_received_%"] =
        frames == 0 ? 0.0 : 100.0 * static_cast<double>(server.stats().dataPackets) / static_cast<double>(frames);
}

}  // namespace

BENCHMARK(BM_SealInPlace)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2]);
BENCHMARK(BM_OpenInPlace)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2]);
BENCHMARK(BM_RunLoopToServer)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2])->UseRealTime();

int main(int argc, char** argv) {
    if (sodium_init() < 0) return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
