// Two real ostrel-client processes, each in a namespace of its own with a real
// adapter, reach each other through the test tunnel server in a third one.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <memory>
#include <regex>
#include <random>
#include <thread>

#include "child_program.h"
#include "netns_lab.h"
#include "udp_relay.h"

namespace {

using corvana::netns::NetnsLab;
using corvana::process::ChildProgram;
using corvana::netns::UdpRelay;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kBin = CORVANA_BIN_DIR;

// A program inside one of the lab's namespaces, its errors on the test's own stream.
std::unique_ptr<ChildProgram> startIn(const std::string& ns, const std::vector<std::string>& argv) {
    return std::make_unique<ChildProgram>(
        argv, ChildProgram::Options{.errors = ChildProgram::Errors::inherit, .netns = ns});
}
constexpr std::uint16_t kServerPort = 7100;  // on the server namespace's loopback
constexpr std::uint16_t kRelayPort = 7000;   // what the clients dial

struct Flavour {
    std::string mode;    // l2 or l3
    std::string device;  // tap or wintun
    std::string adapter; // interface name in each client namespace
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto why = NetnsLab::unavailableReason(); !why.empty()) GTEST_SKIP() << "end-to-end test skipped: " << why;
        lab_ = std::make_unique<NetnsLab>(2);
        ASSERT_TRUE(lab_->ok()) << lab_->error();
        startServer();
        NetnsLab::Enter in(lab_->serverNs());
        ASSERT_TRUE(in.ok());
        relay_ = std::make_unique<UdpRelay>(kRelayPort, kServerPort);
        ASSERT_TRUE(relay_->ok());
    }
    void TearDown() override {
        clients_.clear();
        server_.reset();
        relay_.reset();
        lab_.reset();
    }

    void startServer() {
        server_ = startIn(
            lab_->serverNs(),
            std::vector<std::string>{kBin + "/ostrel-tunnel-server", "--port", std::to_string(kServerPort),
                                     "--account", "alice:pw-a:lan2:l2", "--account", "bob:pw-b:lan2:l2",
                                     "--account", "carol:pw-c:lan3:l3", "--account", "dave:pw-d:lan3:l3"});
        ASSERT_TRUE(server_->started());
        ASSERT_TRUE(server_->readUntil("listening", 30s)) << "tunnel server did not start";
    }

    // Starts client i and waits for it to come up; its "configured" event.
    nlohmann::json startClient(int i, const Flavour& f, bool reconnect = false) {
        static const char* users[2][2] = {{"alice", "pw-a"}, {"bob", "pw-b"}};
        static const char* l3users[2][2] = {{"carol", "pw-c"}, {"dave", "pw-d"}};
        const auto& who = f.mode == "l2" ? users[i] : l3users[i];
        std::vector<std::string> argv{kBin + "/ostrel-client", "--server", NetnsLab::serverAddress(i) + ":" +
                                      std::to_string(kRelayPort), "--user", who[0], "--pass", who[1], "--node",
                                      f.mode == "l2" ? "lan2" : "lan3", "--mode", f.mode, "--device", f.device,
                                      "--insecure-skip-server-auth"};
        if (f.device == "tap") {
            argv.insert(argv.end(), {"--tap", f.adapter});
        } else {
            argv.insert(argv.end(), {"--wintun", f.adapter});
        }
        if (reconnect) argv.push_back("--reconnect");
        clients_.push_back(startIn(lab_->clientNs(i), argv));
        return awaitUp(*clients_.back());
    }

    static nlohmann::json awaitUp(ChildProgram& client) {
        auto adapter = client.readUntil("\"event\":\"adapter\"", 90s);
        EXPECT_TRUE(adapter) << "no adapter event; output so far: " << joined(client);
        auto configured = client.readLine(30s);
        auto ready = client.readLine(30s);
        EXPECT_TRUE(configured && configured->find("\"event\":\"configured\"") != std::string::npos) << joined(client);
        EXPECT_TRUE(ready && ready->find("\"event\":\"ready\"") != std::string::npos) << joined(client);
        if (!configured) return {};
        return nlohmann::json::parse(*configured, nullptr, false);
    }

    // Its output so far and how it stands: a client ended from outside shows here.
    static std::string joined(ChildProgram& p) {
        std::string all;
        for (const auto& l : p.lines) all += l + "\n";
        return all + "(" + p.state() + ")\n";
    }

    std::string show(int i, const std::vector<std::string>& argv) {
        std::string out;
        NetnsLab::run(lab_->clientNs(i), argv, &out);
        return out;
    }

    bool ping(int from, const std::string& source, const std::string& to) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (NetnsLab::run(lab_->clientNs(from), {"ping", "-c", "1", "-W", "2", "-I", source, to}) == 0) return true;
        }
        return false;
    }

    // Sends a datagram to 255.255.255.255 from client 0 and returns the
    // destination address it carried when client 1 received it, if it did.
    std::optional<std::string> broadcastArrivesAs(const std::string& source) {
        int rx;
        {
            NetnsLab::Enter in(lab_->clientNs(1));
            rx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        }
        int on = 1;
        ::setsockopt(rx, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(5999);
        if (::bind(rx, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) return std::nullopt;

        int tx;
        {
            NetnsLab::Enter in(lab_->clientNs(0));
            tx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        }
        ::setsockopt(tx, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source.c_str(), &from.sin_addr);
        ::bind(tx, reinterpret_cast<sockaddr*>(&from), sizeof from);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(5999);
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);

        std::optional<std::string> seen;
        for (int attempt = 0; attempt < 10 && !seen; ++attempt) {
            ::sendto(tx, "lan-discovery", 13, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            pollfd p{rx, POLLIN, 0};
            if (::poll(&p, 1, 1000) != 1) continue;
            char data[64];
            char control[256];
            iovec iov{data, sizeof data};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            ssize_t n = ::recvmsg(rx, &msg, 0);
            if (n != 13 || std::string(data, 13) != "lan-discovery") continue;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info;
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    char text[INET_ADDRSTRLEN];
                    inet_ntop(AF_INET, &info.ipi_addr, text, sizeof text);
                    seen = text;
                }
            }
        }
        ::close(rx);
        ::close(tx);
        return seen;
    }

    // Megabytes of TCP from client 0 to client 1, compared byte for byte on arrival: on a TAP
    // the kernel hands over large segments that are cut before sealing and joined again
    // before the far adapter, so this is where a wrong sequence number or checksum shows.
    void tcpArrivesIntact(const std::string& from, const std::string& to) {
        std::vector<std::uint8_t> data(8 << 20);
        std::mt19937 random(42);
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(5201);
        inet_pton(AF_INET, to.c_str(), &server.sin_addr);
        int listener;
        {
            NetnsLab::Enter in(lab_->clientNs(1));
            listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        }
        int on = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
        ASSERT_EQ(::listen(listener, 1), 0);
        std::vector<std::uint8_t> received;
        std::thread reader([&] {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1) return;
            int c = ::accept(listener, nullptr, nullptr);
            std::vector<std::uint8_t> chunk(1 << 16);
            for (;;) {
                pollfd q{c, POLLIN, 0};
                if (::poll(&q, 1, 10000) != 1) break;
                ssize_t n = ::recv(c, chunk.data(), chunk.size(), 0);
                if (n <= 0) break;
                received.insert(received.end(), chunk.begin(), chunk.begin() + n);
            }
            ::close(c);
        });
        int sender;
        {
            NetnsLab::Enter in(lab_->clientNs(0));
            sender = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        }
        sockaddr_in source{};
        source.sin_family = AF_INET;
        inet_pton(AF_INET, from.c_str(), &source.sin_addr);
        timeval limit{10, 0};
        ::setsockopt(sender, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        bool sent = ::bind(sender, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
                    ::connect(sender, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
        for (std::size_t at = 0; sent && at < data.size();) {
            ssize_t n = ::send(sender, data.data() + at, data.size() - at, MSG_NOSIGNAL);
            sent = n > 0;
            if (sent) at += static_cast<std::size_t>(n);
        }
        ::shutdown(sender, SHUT_WR);
        reader.join();
        ::close(sender);
        ::close(listener);
        EXPECT_TRUE(sent) << "the sending side gave up";
        ASSERT_EQ(received.size(), data.size());
        EXPECT_TRUE(received == data) << "TCP data changed on the way";
    }

    void stopClient(ChildProgram& client) {
        client.signal(SIGINT);
        auto line = client.readUntil("\"event\":\"disconnected\"", 30s);
        ASSERT_TRUE(line) << joined(client);
        EXPECT_THAT(*line, HasSubstr("\"reason\":\"user\""));
        EXPECT_EQ(client.wait(30s), 0);
    }

    void runFlavour(const Flavour& f) {
        auto a = startClient(0, f);
        auto b = startClient(1, f);
        ASSERT_TRUE(a.contains("ip") && b.contains("ip"));
        std::string ipA = a["ip"], ipB = b["ip"];
        std::string prefix = a["prefix"];
        ASSERT_EQ(prefix, "24");

        EXPECT_TRUE(ping(0, ipA, ipB)) << "no ping reply through the tunnel";
        EXPECT_TRUE(ping(1, ipB, ipA)) << "no ping reply through the tunnel";

        std::string directed = ipB.substr(0, ipB.rfind('.')) + ".255";
        EXPECT_EQ(broadcastArrivesAs(ipA), directed);
        tcpArrivesIntact(ipA, ipB);

        for (int i = 0; i < 2; ++i) stopClient(*clients_[static_cast<std::size_t>(i)]);
        for (int i = 0; i < 2; ++i) {
            EXPECT_THAT(show(i, {"ip", "-4", "addr"}), Not(HasSubstr("10.77."))) << "client " << i;
            EXPECT_THAT(show(i, {"ip", "route"}), Not(HasSubstr(f.adapter))) << "client " << i;
        }
    }

    std::unique_ptr<NetnsLab> lab_;
    std::unique_ptr<ChildProgram> server_;
    std::unique_ptr<UdpRelay> relay_;
    std::vector<std::unique_ptr<ChildProgram>> clients_;
};

TEST_F(EndToEnd, LayerTwoOverTapPingsBroadcastsAndLeavesNothing) {
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(NetnsLab::run(lab_->clientNs(i), {"ip", "tuntap", "add", "mode", "tap", "name", "vlan0"}), 0);
    runFlavour({"l2", "tap", "vlan0"});
}

TEST_F(EndToEnd, LayerThreeOverTheRingLibraryPingsBroadcastsAndLeavesNothing) {
    runFlavour({"l3", "wintun", "vlan1"});
    // The adapters the clients created are gone with them.
    for (int i = 0; i < 2; ++i) EXPECT_EQ(show(i, {"ip", "link", "show", "vlan1"}), "");
}

TEST_F(EndToEnd, ServerLossTimesOutReconnectsAndComesBackClean) {
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(NetnsLab::run(lab_->clientNs(i), {"ip", "tuntap", "add", "mode", "tap", "name", "vlan0"}), 0);
    Flavour f{"l2", "tap", "vlan0"};
    auto a = startClient(0, f, true);
    auto b = startClient(1, f, true);
    ASSERT_TRUE(a.contains("ip") && b.contains("ip"));

    server_->signal(SIGKILL);
    server_->wait(30s);
    // The run loop gives up on a silent server after 90 s.
    for (auto& client : clients_) {
        auto line = client->readUntil("\"event\":\"disconnected\"", 120s);
        ASSERT_TRUE(line) << joined(*client);
        EXPECT_THAT(*line, HasSubstr("\"reason\":\"timeout\""));
        ASSERT_TRUE(client->readUntil("\"event\":\"reconnecting\"", 30s)) << joined(*client);
    }
    // Between attempts the adapter carries nothing of the old session.
    for (int i = 0; i < 2; ++i) EXPECT_THAT(show(i, {"ip", "-4", "addr", "show", "dev", "vlan0"}), Not(HasSubstr("10.77.")));

    startServer();
    std::vector<std::string> ips;
    for (std::size_t i = 0; i < clients_.size(); ++i) {
        auto again = awaitUp(*clients_[i]);
        ASSERT_TRUE(again.contains("ip"));
        ips.push_back(again["ip"]);
        // One address and the two routes of the new session, nothing doubled.
        std::string addrs = show(static_cast<int>(i), {"ip", "-4", "-o", "addr", "show", "dev", "vlan0"});
        EXPECT_EQ(std::count(addrs.begin(), addrs.end(), '\n'), 1) << addrs;
        std::string routes = show(static_cast<int>(i), {"ip", "route", "show", "dev", "vlan0", "proto", "static"});
        EXPECT_EQ(std::count(routes.begin(), routes.end(), '\n'), 2) << routes;
    }
    EXPECT_TRUE(ping(0, ips[0], ips[1])) << "no traffic after the reconnect";
    for (auto& client : clients_) stopClient(*client);
}

// Everything of an interface that the client may touch: flags and MTU, addresses, routes.
std::string adapterState(const std::string& ns, const std::string& name) {
    std::string link, addrs, routes4, routes6;
    NetnsLab::run(ns, {"ip", "-o", "link", "show", "dev", name}, &link);
    NetnsLab::run(ns, {"ip", "-o", "addr", "show", "dev", name}, &addrs);
    NetnsLab::run(ns, {"ip", "-4", "route", "show", "table", "all", "dev", name}, &routes4);
    NetnsLab::run(ns, {"ip", "-6", "route", "show", "table", "all", "dev", name}, &routes6);
    std::smatch flags, mtu;
    std::regex_search(link, flags, std::regex("<[^>]*>"));
    std::regex_search(link, mtu, std::regex("mtu [0-9]+"));
    return flags.str() + " " + mtu.str() + "\naddresses:\n" + addrs + "routes:\n" + routes4 + routes6;
}

// A client that dials the server directly, so a server that is gone answers with
// "port unreachable" and the client's next receive fails at once.
class AdapterLifecycle : public ::testing::Test {
protected:
    static constexpr std::uint16_t kDirectPort = 7200;

    void SetUp() override {
        if (auto why = NetnsLab::unavailableReason(); !why.empty()) GTEST_SKIP() << "adapter lifecycle test skipped: " << why;
        lab_ = std::make_unique<NetnsLab>(1);
        ASSERT_TRUE(lab_->ok()) << lab_->error();
        // A persistent TAP as a user would leave it for the client: down, with an MTU of its own.
        ASSERT_EQ(NetnsLab::run(lab_->clientNs(0), {"ip", "tuntap", "add", "mode", "tap", "name", "vlan0"}), 0);
        ASSERT_EQ(NetnsLab::run(lab_->clientNs(0), {"ip", "link", "set", "dev", "vlan0", "mtu", "1480"}), 0);
        before_ = state();
        ASSERT_THAT(before_, HasSubstr("mtu 1480"));
        startServer();
    }
    void TearDown() override {
        client_.reset();
        server_.reset();
        lab_.reset();
    }

    std::string state() { return adapterState(lab_->clientNs(0), "vlan0"); }

    void startServer() {
        server_ = startIn(
            lab_->serverNs(), std::vector<std::string>{kBin + "/ostrel-tunnel-server", "--bind", "0.0.0.0", "--port",
                                                       std::to_string(kDirectPort), "--account", "alice:pw-a:lan2:l2"});
        ASSERT_TRUE(server_->started());
        ASSERT_TRUE(server_->readUntil("listening", 10s)) << "tunnel server did not start";
    }
    void killServer() {
        server_->signal(SIGKILL);
        server_->wait(10s);
        server_.reset();
    }

    void startClient(bool reconnect) {
        std::vector<std::string> argv{kBin + "/ostrel-client", "--server",
                                      NetnsLab::serverAddress(0) + ":" + std::to_string(kDirectPort), "--user",
                                      "alice", "--pass", "pw-a", "--node", "lan2", "--mode", "l2", "--tap", "vlan0",
                                      "--insecure-skip-server-auth"};
        if (reconnect) argv.push_back("--reconnect");
        client_ = startIn(lab_->clientNs(0), argv);
        ASSERT_TRUE(client_->started());
        awaitReady();
    }
    void awaitReady() {
        ASSERT_TRUE(client_->readUntil("\"event\":\"ready\"", 60s)) << output();
        // The session is on the adapter now: enabled, with the granted MTU.
        const std::string during = state();
        EXPECT_THAT(during, HasSubstr("mtu 1420"));
        EXPECT_THAT(during, ::testing::ContainsRegex("[<,]UP[,>]"));
    }

    // Makes the kernel send a frame into the tunnel (an ARP request for a peer), so the
    // client sends to the server, until the client reports the session's end.
    std::optional<std::string> provokeUntil(const std::string& text) {
        for (int attempt = 0; attempt < 30; ++attempt) {
            NetnsLab::run(lab_->clientNs(0), {"ping", "-c", "1", "-W", "1", "10.77.0.99"});
            if (auto line = client_->readUntil(text, 1s)) return line;
        }
        return std::nullopt;
    }

    std::string output() const {
        std::string all;
        for (const auto& l : client_->lines) all += l + "\n";
        return all;
    }

    std::unique_ptr<NetnsLab> lab_;
    std::unique_ptr<ChildProgram> server_;
    std::unique_ptr<ChildProgram> client_;
    std::string before_;
};

TEST_F(AdapterLifecycle, StopSignalsAndServerLossLeaveTheAdapterExactlyAsFound) {
    for (int sig : {SIGINT, SIGTERM}) {
        startClient(false);
        client_->signal(sig);
        auto line = client_->readUntil("\"event\":\"disconnected\"", 15s);
        ASSERT_TRUE(line) << output();
        EXPECT_THAT(*line, HasSubstr("\"reason\":\"user\""));
        EXPECT_EQ(client_->wait(15s), 0);
        EXPECT_EQ(state(), before_) << "after signal " << sig;
    }

    // Without --reconnect a lost server ends the client with an error.
    startClient(false);
    killServer();
    ASSERT_TRUE(provokeUntil("\"event\":\"error\"")) << output();
    EXPECT_EQ(client_->wait(15s), 1);
    EXPECT_EQ(state(), before_) << "after server loss";
}

TEST_F(AdapterLifecycle, FiveServerRestartsEachStartTheReconnectWaitAtOneSecond) {
    startClient(true);
    for (int restart = 1; restart <= 5; ++restart) {
        killServer();
        auto error = provokeUntil("\"event\":\"error\"");
        ASSERT_TRUE(error) << "restart " << restart << ": the session did not end\n" << output();
        auto waiting = client_->readUntil("\"event\":\"reconnecting\"", 10s);
        ASSERT_TRUE(waiting) << output();
        EXPECT_THAT(*waiting, HasSubstr("\"backoff\":\"1\"")) << "restart " << restart;
        // Between sessions the adapter carries nothing of the last one.
        EXPECT_EQ(state(), before_) << "restart " << restart;
        startServer();
        awaitReady();
    }
    client_->signal(SIGINT);
    ASSERT_TRUE(client_->readUntil("\"event\":\"disconnected\"", 15s)) << output();
    EXPECT_EQ(client_->wait(15s), 0);
    EXPECT_EQ(state(), before_);
}

}  // namespace

namespace {

// The desktop program ties the client to itself: should it die without its own
// teardown, the client ends its session as a leave would, then is gone.
class ParentTie : public AdapterLifecycle {
protected:
    // The client as a child of a shell that names itself as the client's parent,
    // as the desktop program does; the shell prints the client's process id first.
    void startTied(const std::string& tap, const std::string& server) {
        std::vector<std::string> argv{"bash", "-c", "OSTREL_PARENT_PID=$$ \"$@\" & echo \"client $!\"; wait", "bash",
                                      kBin + "/ostrel-client", "--server", server, "--user", "alice", "--pass",
                                      "pw-a", "--node", "lan2", "--mode", "l2", "--insecure-skip-server-auth"};
        if (!tap.empty()) argv.insert(argv.end(), {"--tap", tap});
        client_ = startIn(lab_->clientNs(0), argv);
        ASSERT_TRUE(client_->started());
        // The shell's line and the client's first events may come in either order.
        auto first = client_->readUntil("client ", 10s);
        ASSERT_TRUE(first && first->starts_with("client ")) << output();
        clientPid_ = std::stoi(first->substr(7));
    }
    // A line of the client's seen so far, or the next one to come that has the text.
    std::optional<std::string> awaitLine(const std::string& text, std::chrono::seconds limit) {
        for (const auto& line : client_->lines)
            if (line.find(text) != std::string::npos) return line;
        return client_->readUntil(text, limit);
    }
    std::string direct() const { return NetnsLab::serverAddress(0) + ":" + std::to_string(kDirectPort); }
    // Gone, not only dead: a zombie waiting for its new parent counts as gone too.
    bool clientGone() const {
        std::ifstream stat("/proc/" + std::to_string(clientPid_) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) return true;
        auto close = line.rfind(')');
        return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
    }
    bool waitGone(std::chrono::seconds limit) const {
        for (auto until = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < until;) {
            if (clientGone()) return true;
            std::this_thread::sleep_for(50ms);
        }
        return clientGone();
    }
    std::string tapInterfaces() { return show0({"ip", "-o", "link", "show", "type", "tun"}); }
    std::string show0(const std::vector<std::string>& argv) {
        std::string out;
        NetnsLab::run(lab_->clientNs(0), argv, &out);
        return out;
    }

    int clientPid_ = 0;
};

TEST_F(ParentTie, ParentDeathEndsTheSessionAsALeaveOnAHandMadeAndAMadeAdapter) {
    for (const std::string tap : {"vlan0", ""}) {
        SCOPED_TRACE(tap.empty() ? "adapter made for the session" : "hand-made adapter");
        if (tap.empty()) {
            ASSERT_EQ(NetnsLab::run(lab_->clientNs(0), {"ip", "link", "del", "vlan0"}), 0);
        }
        startTied(tap, direct());
        auto adapter = awaitLine("\"event\":\"adapter\"", 60s);
        ASSERT_TRUE(adapter) << output();
        ASSERT_TRUE(awaitLine("\"event\":\"ready\"", 30s)) << output();
        const std::string name = tap.empty() ? "ostrel0" : tap;
        EXPECT_THAT(*adapter, HasSubstr("\"name\":\"" + name + "\""));
        EXPECT_THAT(show0({"ip", "-4", "addr", "show", "dev", name}), HasSubstr("10.77."));

        client_->signal(SIGKILL);  // the parent, with no teardown of its own
        ASSERT_TRUE(server_->readUntil("disconnect alice", 20s)) << "the server heard no goodbye\n" << output();
        auto ended = client_->readUntil("\"event\":\"disconnected\"", 20s);
        ASSERT_TRUE(ended) << output();
        EXPECT_THAT(*ended, HasSubstr("\"reason\":\"user\""));
        EXPECT_TRUE(waitGone(20s)) << "the client outlived its parent";
        if (tap.empty()) {
            EXPECT_EQ(tapInterfaces(), "");
        } else {
            EXPECT_EQ(state(), before_);
        }
        EXPECT_THAT(show0({"ip", "-4", "addr"}), Not(HasSubstr("10.77.")));
    }
}

TEST_F(ParentTie, AnOrphanWhoseStopCannotFinishIsGoneAfterItsGrace) {
    // A server that never answers holds the client in its connect for 15 seconds; the
    // stop its parent's death brings cannot interrupt that, the grace does.
    killServer();
    server_ = startIn(lab_->serverNs(), std::vector<std::string>{kBin + "/ostrel-tunnel-server", "--bind", "0.0.0.0",
                                                                 "--port", std::to_string(kDirectPort), "--account",
                                                                 "alice:pw-a:lan2:l2", "--misbehave", "silent"});
    ASSERT_TRUE(server_->readUntil("listening", 10s));
    startTied("vlan0", direct());
    ASSERT_TRUE(awaitLine("\"event\":\"connecting\"", 10s)) << output();
    client_->signal(SIGKILL);
    EXPECT_TRUE(waitGone(30s)) << "the orphan is still there";
    client_->readAll(2s);
    EXPECT_THAT(output(), Not(HasSubstr("no_cookie"))) << "the connect ran to its end: no grace ended it";
    EXPECT_EQ(state(), before_);
}

}  // namespace
