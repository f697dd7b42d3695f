// The driver's attempt loop against scripted steps: outcome table, back-off series,
// disconnect notices and releases in order, and stops in every phase.

#include "support/driver_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

using namespace ostrel;
using namespace ostrel::testing;

namespace {

Args baseArgs() {
    Args args;
    args.server = "tunnel.example";
    args.user = "u";
    args.password = "p";
    args.node = "n";
    args.insecure_skip_server_auth = true;
    return args;
}

struct Harness {
    Timeline timeline;
    EventRecorder events{timeline};
    RecordingClock clock{timeline};
    ScriptedSteps steps{timeline};
    RunningFlag running;

    int run(const Args& args) {
        Client client(args, {steps, events, clock, running});
        return client.runAttempts();
    }

    std::vector<std::string> backoffs() const {
        std::vector<std::string> out;
        for (const auto& line : timeline)
            if (line.starts_with("reconnecting")) out.push_back(line.substr(line.find('=') + 1));
        return out;
    }

    std::vector<std::string> eventsOnly() const {
        std::vector<std::string> out;
        static const char* steps[] = {"connect", "open", "configure", "cgnat", "run", "run stopped", "notice",
                                      "device released", "session released", "sleep"};
        for (const auto& line : timeline)
            if (std::find(std::begin(steps), std::end(steps), line) == std::end(steps)) out.push_back(line);
        return out;
    }
};

AttemptScript failingConnect(ClientError error) {
    AttemptScript s;
    s.connectError = error;
    return s;
}

AttemptScript sessionEnding(std::expected<DisconnectReason, ClientError> result) {
    AttemptScript s;
    s.runResult = result;
    return s;
}

}  // namespace

TEST(DriverAttempts, SilentServerGivesTheBackoffSeriesUntilStoppedInTheWait) {
    Harness h;
    h.steps.attempts = {failingConnect(ClientError::noCookie())};
    Args args = baseArgs();
    args.reconnect = true;
    // Stop during the seventh wait, after its first second.
    int sleeps = 0;
    const int stopAt = 1 + 2 + 4 + 8 + 16 + 30 + 1;
    h.clock.onSleep = [&] {
        if (++sleeps == stopAt) h.running.clear();
    };

    EXPECT_EQ(h.run(args), 0);
    EXPECT_EQ(h.backoffs(), (std::vector<std::string>{"1", "2", "4", "8", "16", "30", "30"}));
    EXPECT_EQ(sleeps, stopAt);
    EXPECT_EQ(h.steps.requests.size(), 7u);
    // Every attempt prints connecting then the error; the stop adds no event of its own.
    auto events = h.eventsOnly();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0], "connecting mode=l2 node=n server=tunnel.example:7100");
    EXPECT_EQ(events[1], "error no_cookie");
    EXPECT_EQ(events.back(), "reconnecting backoff=30");
    EXPECT_EQ(h.timeline.back(), "sleep");
}

TEST(DriverAttempts, WithoutReconnectAFailedConnectExitsOneAfterOneError) {
    Harness h;
    h.steps.attempts = {failingConnect(ClientError::noCookie())};
    EXPECT_EQ(h.run(baseArgs()), 1);
    EXPECT_EQ(h.eventsOnly(), (std::vector<std::string>{"connecting mode=l2 node=n server=tunnel.example:7100",
                                                        "error no_cookie"}));
}

TEST(DriverAttempts, SessionEndsFollowTheOutcomeTable) {
    struct Case {
        std::expected<DisconnectReason, ClientError> result;
        bool notice;
        int status;
        std::string last;
    };
    const Case cases[] = {
        {DisconnectReason::user, true, 0, "disconnected reason=user"},
        {DisconnectReason::server, false, 0, "disconnected reason=server"},
        {DisconnectReason::timeout, true, 0, "disconnected reason=timeout"},
        {DisconnectReason::kicked, false, 0, "disconnected reason=kicked"},
        {std::unexpected(ClientError::encrypt()), false, 1, "error encrypt_failed"},
    };
    for (const auto& c : cases) {
        Harness h;
        h.steps.attempts = {sessionEnding(c.result)};
        EXPECT_EQ(h.run(baseArgs()), c.status) << c.last;
        std::vector<std::string> tail(h.timeline.end() - (c.notice ? 5 : 4), h.timeline.end());
        std::vector<std::string> expected = {"run"};
        if (c.notice) expected.push_back("notice");
        expected.insert(expected.end(), {"device released", "session released", c.last});
        EXPECT_EQ(tail, expected) << c.last;
    }
}

TEST(DriverAttempts, EverySessionThatRanResetsTheBackoffButFailedAttemptsContinueIt) {
    Harness h;
    AttemptScript noAdapter;
    noAdapter.openError = ClientError::deviceOpen("no adapter");
    h.steps.attempts = {failingConnect(ClientError::noCookie()), failingConnect(ClientError::noCookie()),
                        sessionEnding(std::unexpected(ClientError::socket(IoError::fromErrno(ECONNREFUSED)))),
                        failingConnect(ClientError::noCookie()), failingConnect(ClientError::noCookie()),
                        sessionEnding(DisconnectReason::timeout), failingConnect(ClientError::noCookie()),
                        sessionEnding(DisconnectReason::kicked), noAdapter, noAdapter,
                        sessionEnding(DisconnectReason::server)};
    Args args = baseArgs();
    args.reconnect = true;
    EXPECT_EQ(h.run(args), 0);
    // 1, 2 after the connect failures; 1 after the run error (the server went away, say),
    // then 2, 4; 1 after the timeout, 2 after the next failure, 1 after the kick; an
    // adapter that cannot open goes on with the series, since it will not mend by itself.
    EXPECT_EQ(h.backoffs(), (std::vector<std::string>{"1", "2", "1", "2", "4", "1", "2", "1", "2", "4"}));
    EXPECT_EQ(h.eventsOnly().back(), "disconnected reason=server");
}

TEST(DriverAttempts, ConnectOnlyDisconnectsAtOnceAndNeverRetries) {
    Harness h;
    Args args = baseArgs();
    args.connect_only = true;
    args.reconnect = true;
    EXPECT_EQ(h.run(args), 0);
    EXPECT_EQ(h.timeline,
              (Timeline{"connecting mode=l2 node=n server=tunnel.example:7100", "connect",
                        "connected mode=l2 mtu=1420 session=0000000000001234 ip=10.1.2.3 subnet=255.255.255.0 "
                        "gateway=10.1.2.1",
                        "notice", "session released", "disconnected reason=user"}));

    Harness failing;
    failing.steps.attempts = {failingConnect(ClientError::noAuthResponse())};
    EXPECT_EQ(failing.run(args), 1);
    EXPECT_TRUE(failing.backoffs().empty());
}

TEST(DriverAttempts, DeviceFailuresSendTheNoticeAndReleaseBeforeTheError) {
    Harness open;
    AttemptScript noDevice;
    noDevice.openError = ClientError::deviceOpen("no adapter");
    open.steps.attempts = {noDevice};
    EXPECT_EQ(open.run(baseArgs()), 1);
    Timeline expectedOpen = {"open", "notice", "session released", "error tap_open_failed"};
    EXPECT_EQ(Timeline(open.timeline.end() - 4, open.timeline.end()), expectedOpen);

    Harness configure;
    AttemptScript badConfig;
    badConfig.configureError = ClientError::deviceConfig("netsh failed");
    configure.steps.attempts = {badConfig, sessionEnding(DisconnectReason::user)};
    Args args = baseArgs();
    args.reconnect = true;
    EXPECT_EQ(configure.run(args), 0);
    Timeline expectedConfigure = {"configure", "notice", "device released", "session released",
                                  "error tap_config_failed", "reconnecting backoff=1"};
    auto at = std::find(configure.timeline.begin(), configure.timeline.end(), "configure");
    ASSERT_NE(at, configure.timeline.end());
    EXPECT_EQ(Timeline(at, at + 6), expectedConfigure);
}

TEST(DriverAttempts, AnEstablishedSessionPrintsItsSettingsAndTheCgnatRequestOnlyInL2) {
    Harness l2;
    AttemptScript both;
    both.settings.addressFlags = AuthOk::kIpv4Valid | AuthOk::kIpv6Valid;
    both.settings.address6 = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    both.settings.gateway6 = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    both.settings.prefix6 = 64;
    both.settings.netmask = {255, 255, 240, 0};
    l2.steps.attempts = {both};
    EXPECT_EQ(l2.run(baseArgs()), 0);
    EXPECT_EQ(Timeline(l2.timeline.begin() + 2, l2.timeline.begin() + 10),
              (Timeline{"connected mode=l2 mtu=1420 session=0000000000001234 ip=10.1.2.3 subnet=255.255.240.0 "
                        "gateway=10.1.2.1 ip6=fd00::2 prefix6=64 gateway6=fd00::1",
                        "open", "configure", "adapter name=tap-test",
                        "configured mode=l2 mtu=1420 ip=10.1.2.3 prefix=20 gateway=10.1.2.1 ip6=fd00::2 prefix6=64 "
                        "gateway6=fd00::1",
                        "cgnat", "ready", "run"}));
    ASSERT_EQ(l2.steps.deviceRequests.size(), 1u);
    EXPECT_EQ(l2.steps.deviceRequests[0].kind, DeviceKind::tap);

    Harness l3;
    AttemptScript none;
    none.settings.addressFlags = 0;
    l3.steps.attempts = {none};
    Args args = baseArgs();
    args.device = DeviceKind::wintun;
    args.wintun = "Game";
    args.server = "10.0.0.1:9000";
    EXPECT_EQ(l3.run(args), 0);
    EXPECT_EQ(l3.timeline[0], "connecting mode=l3 node=n server=10.0.0.1:9000");
    EXPECT_EQ(l3.timeline[2], "connected mode=l3 mtu=1420 session=0000000000001234");
    EXPECT_EQ(std::count(l3.timeline.begin(), l3.timeline.end(), "cgnat"), 0);
    ASSERT_EQ(l3.steps.deviceRequests.size(), 1u);
    EXPECT_EQ(l3.steps.deviceRequests[0].kind, DeviceKind::wintun);
    EXPECT_EQ(l3.steps.deviceRequests[0].wintun, "Game");
    EXPECT_EQ(l3.steps.requests[0].mode, TunnelMode::l3);
}

TEST(DriverAttempts, OptionRulesFailEveryAttemptTheSameWay) {
    Harness mismatch;
    Args args = baseArgs();
    args.mode = TunnelMode::l2;
    args.device = DeviceKind::wintun;
    args.reconnect = true;
    int sleeps = 0;
    mismatch.clock.onSleep = [&] {
        if (++sleeps == 3) mismatch.running.clear();
    };
    EXPECT_EQ(mismatch.run(args), 0);
    // No "connecting" for a mode/device mismatch, and connect is never reached.
    EXPECT_EQ(mismatch.eventsOnly(), (std::vector<std::string>{"error config_error", "reconnecting backoff=1",
                                                               "error config_error", "reconnecting backoff=2"}));
    EXPECT_TRUE(mismatch.steps.requests.empty());

    Harness noKey;
    Args keyless = baseArgs();
    keyless.insecure_skip_server_auth = false;
    EXPECT_EQ(noKey.run(keyless), 1);
    EXPECT_EQ(noKey.eventsOnly(), (std::vector<std::string>{"connecting mode=l2 node=n server=tunnel.example:7100",
                                                             "error config_error"}));

    Harness badKey;
    Args malformed = baseArgs();
    malformed.insecure_skip_server_auth = false;
    malformed.server_auth_key = std::string(63, 'a');
    EXPECT_EQ(badKey.run(malformed), 1);
    EXPECT_EQ(badKey.eventsOnly().back(), "error internal_error");

    Harness goodKey;
    Args keyed = baseArgs();
    keyed.insecure_skip_server_auth = false;
    keyed.server_auth_key = "00ff" + std::string(60, '1');
    keyed.connect_only = true;
    EXPECT_EQ(goodKey.run(keyed), 0);
    ASSERT_EQ(goodKey.steps.requests.size(), 1u);
    ASSERT_TRUE(goodKey.steps.requests[0].serverAuthKey);
    EXPECT_EQ((*goodKey.steps.requests[0].serverAuthKey)[0], 0x00);
    EXPECT_EQ((*goodKey.steps.requests[0].serverAuthKey)[1], 0xff);
    EXPECT_EQ((*goodKey.steps.requests[0].serverAuthKey)[2], 0x11);
}

TEST(DriverAttempts, AStopDuringConnectEndsWithoutRetry) {
    // The connect fails: one error, exit 1, even with --reconnect.
    Harness failing;
    AttemptScript fails = failingConnect(ClientError::noCookie());
    fails.duringConnect = [&] { Client::onConsoleControl(failing.running); };
    failing.steps.attempts = {fails};
    Args args = baseArgs();
    args.reconnect = true;
    EXPECT_EQ(failing.run(args), 1);
    EXPECT_TRUE(failing.backoffs().empty());

    // The connect succeeds: the session is set up, the run sees the stop at once.
    Harness succeeding;
    AttemptScript works;
    works.runResult = DisconnectReason::timeout;  // would be the result if the run ignored the flag
    works.duringConnect = [&] { Client::onConsoleControl(succeeding.running); };
    succeeding.steps.attempts = {works};
    EXPECT_EQ(succeeding.run(args), 0);
    Timeline tail(succeeding.timeline.end() - 9, succeeding.timeline.end());
    EXPECT_EQ(tail, (Timeline{"adapter name=tap-test", "configured mode=l2 mtu=1420 ip=10.1.2.3 prefix=24 "
                                                        "gateway=10.1.2.1",
                              "cgnat", "ready", "run stopped", "notice", "device released", "session released",
                              "disconnected reason=user"}));
}

// The adapter is configured from what the server granted, under the session's MAC:
// every field lands in its own slot and only the granted address families count.
TEST(DriverHostSettings, TakesEachGrantedFieldAndOnlyTheValidFamilies) {
    AuthOk granted;
    granted.sessionId = 0x0102030405060708;
    granted.address = {10, 77, 0, 5};
    granted.netmask = {255, 255, 0, 0};
    granted.gateway = {10, 77, 0, 1};
    granted.dns = {10, 77, 0, 53};
    granted.mtu = 1380;
    granted.address6 = {0xfd, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    granted.prefix6 = 48;
    granted.dns6 = {0xfd, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x53};
    const Mac mac = sessionMac(granted.sessionId);

    granted.addressFlags = AuthOk::kIpv4Valid | AuthOk::kIpv6Valid | 0x80;
    HostSettings both = hostSettingsFor(granted, mac);
    EXPECT_EQ(both.address, granted.address);
    EXPECT_EQ(both.netmask, granted.netmask);
    EXPECT_EQ(both.dns, granted.dns);
    EXPECT_EQ(both.mtu, 1380);
    EXPECT_EQ(both.address6, granted.address6);
    EXPECT_EQ(both.prefix6, 48);
    EXPECT_EQ(both.dns6, granted.dns6);
    EXPECT_EQ(both.sessionMac, mac);
    // Bits the grant sets beyond the two families mean nothing to the host.
    EXPECT_EQ(both.addressFlags, HostSettings::kIpv4Valid | HostSettings::kIpv6Valid);

    granted.addressFlags = AuthOk::kIpv6Valid;
    EXPECT_EQ(hostSettingsFor(granted, mac).addressFlags, HostSettings::kIpv6Valid);
    granted.addressFlags = 0;
    EXPECT_EQ(hostSettingsFor(granted, mac).addressFlags, 0);
}
