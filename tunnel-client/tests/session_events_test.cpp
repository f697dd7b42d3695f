#include "events/event_log.h"
#include "session/session_events.h"

#include <gtest/gtest.h>

using namespace ostrel;

TEST(SessionEvents, PrintedLines) {
    EventLog::Capture capture;
    SessionEvents& events = SessionEvents::eventLog();
    events.handshake("auth_sent");
    events.kicked();
    BridgeInfo up;
    up.available = true;
    up.ip = {10, 77, 0, 5};
    up.cgnatIp = {100, 64, 0, 1};
    up.instanceId = 65535;
    up.nodeId = 0;
    events.bridgeInfo(up);
    BridgeInfo down;
    down.ip = {192, 168, 7, 10};
    down.cgnatIp = {1, 2, 3, 4};  // not printed when unavailable
    events.bridgeInfo(down);
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  R"({"event":"handshake","step":"auth_sent"})",
                  R"({"event":"kicked"})",
                  R"({"cgnat_ip":"100.64.0.1","event":"bridge_info","instance_id":"65535","ip":"10.77.0.5","node_id":"0"})",
                  R"({"event":"bridge_info","ip":"192.168.7.10","status":"unavailable"})",
              }));
}
