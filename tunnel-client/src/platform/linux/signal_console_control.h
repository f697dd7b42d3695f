#pragma once
// Linux console control: SIGINT, SIGTERM and SIGHUP are blocked and taken from a
// signalfd by a waiting thread, which only calls the handler.
// install() must run before the process starts other threads, so they inherit the mask.

#include "platform/console_control.h"

#include <thread>

namespace ostrel {

class SignalConsoleControl final : public ConsoleControl {
public:
    SignalConsoleControl() = default;
    ~SignalConsoleControl() override;
    SignalConsoleControl(const SignalConsoleControl&) = delete;
    SignalConsoleControl& operator=(const SignalConsoleControl&) = delete;

    bool install(Handler handler) override;

private:
    void wait();

    Handler handler_;
    int signals_ = -1;
    int stop_ = -1;
    std::thread thread_;
};

}  // namespace ostrel
