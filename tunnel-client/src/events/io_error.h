#pragma once
// IoError: an operating-system error (errno) or a described error without a number.
//   IoError::fromErrno(ENOENT), IoError::lastOsError() (reads errno),
//   IoError::described("text");  e.text() -> "No such file or directory (os error 2)"
//   e.osError() -> std::optional<int>

#include <optional>
#include <string>

namespace ostrel {

class IoError {
public:
    static IoError fromErrno(int errorNumber);
    static IoError lastOsError();
    static IoError described(std::string description);

    std::optional<int> osError() const { return osError_; }
    // The system's message with trailing white space removed and the number
    // appended, or the description for errors without a number.
    std::string text() const;

private:
    IoError(std::optional<int> osError, std::string description)
        : osError_(osError), description_(std::move(description)) {}

    std::optional<int> osError_;
    std::string description_;
};

} // namespace ostrel
