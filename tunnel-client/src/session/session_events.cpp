#include "session/session_events.h"

#include "events/event_log.h"
#include "core/text.h"

namespace ostrel {

namespace {

class EventLogEvents final : public SessionEvents {
public:
    void handshake(std::string_view step) override { EventLog::emit("handshake", {EventLog::field("step", step)}); }
    void kicked() override { EventLog::emit("kicked"); }
    void bridgeInfo(const BridgeInfo& info) override {
        if (!info.available) {
            EventLog::emit("bridge_info",
                           {EventLog::field("ip", ipv4Text(info.ip)), EventLog::field("status", "unavailable")});
            return;
        }
        EventLog::emit("bridge_info", {EventLog::field("cgnat_ip", ipv4Text(info.cgnatIp)),
                                       EventLog::field("instance_id", decimalText(info.instanceId)),
                                       EventLog::field("ip", ipv4Text(info.ip)),
                                       EventLog::field("node_id", decimalText(info.nodeId))});
    }
};

}  // namespace

SessionEvents& SessionEvents::eventLog() {
    static EventLogEvents events;
    return events;
}

}  // namespace ostrel
