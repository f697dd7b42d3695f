#pragma once
// EventLog: writes event lines, one compact JSON object per line with sorted keys
// and string values, to standard output, flushed at each line feed.
//   EventLog::emit("connecting", {EventLog::field("mode", "l2"), EventLog::field("node", n)});
//   EventLog::emit("ready");
//   EventLog::emitError(clientError);   // "error" with code, detail, message
//   EventLog::format(event, fields) -> the line without its line feed
//   EventLog::Capture capture;  // tests: collects lines instead of writing stdout
//   capture.lines() -> std::vector<std::string> (each without its line feed)

#include "events/client_error.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel {

class EventLog {
public:
    using Field = std::pair<std::string, std::string>;

    static Field field(std::string_view key, std::string_view text);

    static void emit(std::string_view event, std::initializer_list<Field> fields = {});
    static void emit(std::string_view event, const std::vector<Field>& fields);
    static void emitError(const ClientError& error);

    static std::string format(std::string_view event, const std::vector<Field>& fields);

    // Redirects every emitted line into memory for as long as it lives (not nestable).
    class Capture {
    public:
        Capture();
        ~Capture();
        Capture(const Capture&) = delete;
        Capture& operator=(const Capture&) = delete;
        const std::vector<std::string>& lines() const { return lines_; }

    private:
        friend class EventLog;
        std::vector<std::string> lines_;
    };

private:
    static void write(const std::string& line);
};

} // namespace ostrel
