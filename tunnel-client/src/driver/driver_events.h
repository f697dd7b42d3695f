#pragma once
// Where the driver's events go: event lines on standard output, or a recorder in tests.
//   emit(name, fields)  one event with (key, text) fields
//   emitError(error)    the "error" event of one failed attempt

#include "events/client_error.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel {

using EventFields = std::vector<std::pair<std::string, std::string>>;

class DriverEvents {
public:
    virtual ~DriverEvents() = default;
    virtual void emit(std::string_view name, const EventFields& fields) = 0;
    virtual void emitError(const ClientError& error) = 0;

    // Prints through EventLog.
    static DriverEvents& eventLog();
};

}  // namespace ostrel
