#pragma once

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace ostrel {

// A file that no account but one (root) can change or replace: the file and every
// folder above it belong to that account and are writable by no one else. Checked
// on what is opened, folder by folder without following links, so no name can be
// swapped between the check and the use; the descriptor is the file that was checked.
class TrustedFile {
public:
    struct Refusal {
        std::uint32_t error = 0;  // the errno that stands for it
        std::string reason;       // names the path that failed and why
    };

    // An O_PATH descriptor of `path` (links resolved first) when it is root's alone and
    // lies on a mount that is neither nosuid nor nodev.
    static std::expected<int, Refusal> open(const std::string& path);

    // The same walk from the folder `top` (shown as `topName`) down `relative`, for
    // `owner`; `top` itself is checked too and stays open.
    static std::expected<int, Refusal> openBelow(int top, std::string_view topName, std::string_view relative,
                                                 uid_t owner);
};

}  // namespace ostrel
