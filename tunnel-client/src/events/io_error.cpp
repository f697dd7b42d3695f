#include "events/io_error.h"

#include <cerrno>
#include <cstring>

namespace ostrel {

IoError IoError::fromErrno(int errorNumber)
{
    return IoError(errorNumber, {});
}

IoError IoError::lastOsError()
{
    return fromErrno(errno);
}

IoError IoError::described(std::string description)
{
    return IoError(std::nullopt, std::move(description));
}

std::string IoError::text() const
{
    if (!osError_)
        return description_;
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    std::string message = strerror_r(*osError_, buffer, sizeof buffer);
    while (!message.empty() && (message.back() == ' ' || message.back() == '\t' ||
                                message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '\v' || message.back() == '\f'))
        message.pop_back();
    return message + " (os error " + std::to_string(*osError_) + ")";
}

} // namespace ostrel
