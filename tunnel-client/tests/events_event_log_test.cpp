#include "events/event_log.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

using ostrel::ClientError;
using ostrel::EventLog;

namespace {
std::string lineWithName(const std::string& name)
{
    return EventLog::format("adapter", {EventLog::field("name", name)});
}
} // namespace

TEST(EventLogFormat, KeysSortedByteOrderAndCompact)
{
    EXPECT_EQ(EventLog::format("ready", {}), R"({"event":"ready"})");
    EXPECT_EQ(EventLog::format("connecting", {EventLog::field("server", "h:7100"),
                                              EventLog::field("node", "n 1"),
                                              EventLog::field("mode", "l2")}),
              R"({"event":"connecting","mode":"l2","node":"n 1","server":"h:7100"})");
    // Capital letters sort before lower case and "Z" before "_"; a repeated key keeps the later value.
    EXPECT_EQ(EventLog::format("e", {EventLog::field("b", "1"), EventLog::field("_", "2"),
                                     EventLog::field("Z", "3"), EventLog::field("b", "4")}),
              R"({"Z":"3","_":"2","b":"4","event":"e"})");
    // Numbers travel as strings.
    EXPECT_EQ(EventLog::format("configured", {EventLog::field("mtu", "1420")}),
              R"({"event":"configured","mtu":"1420"})");
}

TEST(EventLogFormat, EscapesMinimally)
{
    EXPECT_EQ(lineWithName("a\"b\\c/d"), R"({"event":"adapter","name":"a\"b\\c/d"})");
    EXPECT_EQ(lineWithName("\b\t\n\f\r"), R"({"event":"adapter","name":"\b\t\n\f\r"})");
    // Every other control character below U+0020 uses \u00xx with lowercase digits.
    for (int c = 0; c < 0x20; ++c) {
        if (c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r')
            continue;
        char expected[16];
        std::snprintf(expected, sizeof expected, "\\u%04x", c);
        EXPECT_EQ(lineWithName(std::string(1, char(c))),
                  std::string(R"({"event":"adapter","name":")") + expected + "\"}")
            << "control character " << c;
    }
    EXPECT_EQ(lineWithName("\x1b"), R"({"event":"adapter","name":"\u001b"})");
    // DEL and non-ASCII pass as their raw UTF-8 bytes.
    EXPECT_EQ(lineWithName("\x7f"), "{\"event\":\"adapter\",\"name\":\"\x7f\"}");
    EXPECT_EQ(lineWithName("Ethernet 2 — سلام 🎮"),
              "{\"event\":\"adapter\",\"name\":\"Ethernet 2 — سلام 🎮\"}");
}

TEST(EventLogFormat, InvalidUtf8IsReplacedNotThrown)
{
    std::string line;
    ASSERT_NO_THROW(line = lineWithName("bad\xff\xfe" "end"));
    auto parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed["name"], "bad\xEF\xBF\xBD\xEF\xBF\xBD" "end");
}

TEST(EventLogEmit, ErrorEventCarriesCodeMessageDetail)
{
    EventLog::Capture capture;
    EventLog::emitError(ClientError::config("--mode and --device select different tunnel types"));
    EventLog::emit("ready");
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0],
              R"({"code":"config_error","detail":"configuration error: --mode and --device select different tunnel types","event":"error","message":"Invalid client configuration"})");
    EXPECT_EQ(capture.lines()[1], R"({"event":"ready"})");
}

// A reader on a pipe must get each line at once, not when stdio's buffer fills.
TEST(EventLogEmit, EachLineReachesAPipeImmediately)
{
    std::fflush(stdout);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    int saved = dup(STDOUT_FILENO);
    dup2(pipeFds[1], STDOUT_FILENO);
    EventLog::emit("kicked");
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(pipeFds[1]);
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    char buffer[64] = {};
    ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    close(pipeFds[0]);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "{\"event\":\"kicked\"}\n");
}
