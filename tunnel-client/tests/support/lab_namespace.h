#pragma once
// Tests of real adapters: each runs inside the server namespace of a lab of its own,
// and is skipped where namespaces and TUN/TAP interfaces cannot be made.

#include "netns_lab.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::testing {

class InLabNamespace : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A command's standard output, run in the lab's namespace.
    std::string show(const std::vector<std::string>& argv);
    // A UDP socket bound to `port` on every address of the namespace; -1 on failure.
    static int boundUdp(std::uint16_t port, bool broadcast = false);
    // Sends `payload` from `socket` to `address`:`port`; the bytes sent, or -1.
    static long sendUdp(int socket, const char* address, std::uint16_t port, std::string_view payload);

    std::unique_ptr<corvana::netns::NetnsLab> lab_;
    std::unique_ptr<corvana::netns::NetnsLab::Enter> in_;
};

}  // namespace ostrel::testing
