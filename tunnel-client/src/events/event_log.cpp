#include "events/event_log.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace ostrel {

namespace {
EventLog::Capture* activeCapture = nullptr;
}

EventLog::Capture::Capture() { activeCapture = this; }
EventLog::Capture::~Capture() { activeCapture = nullptr; }

EventLog::Field EventLog::field(std::string_view key, std::string_view text)
{
    return {std::string(key), std::string(text)};
}

std::string EventLog::format(std::string_view event, const std::vector<Field>& fields)
{
    // The default object is a std::map, so keys come out in byte order.
    nlohmann::json object = nlohmann::json::object();
    object["event"] = std::string(event);
    for (const auto& [key, text] : fields)
        object[key] = text;
    // Texts from the server or the host may hold invalid UTF-8; replacing it keeps
    // the line valid JSON instead of throwing out of the reporting path.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void EventLog::emit(std::string_view event, std::initializer_list<Field> fields)
{
    write(format(event, std::vector<Field>(fields)));
}

void EventLog::emit(std::string_view event, const std::vector<Field>& fields)
{
    write(format(event, fields));
}

void EventLog::emitError(const ClientError& error)
{
    emit("error", {field("code", error.code()), field("message", error.message()),
                   field("detail", error.detail())});
}

void EventLog::write(const std::string& line)
{
    if (activeCapture) {
        activeCapture->lines_.push_back(line);
        return;
    }
    // A failing standard output is not reported: there is no other channel.
    std::string out = line + '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

} // namespace ostrel
