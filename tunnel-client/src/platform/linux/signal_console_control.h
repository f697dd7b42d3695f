#pragma once
// Linux console control: SIGINT, SIGTERM and SIGHUP are blocked and taken from a
// signalfd by a waiting thread, which only calls the handler.
// install() must run before the process starts other threads, so they inherit the mask.
//
// Tied to a parent (the desktop program names itself in kParentVariable), the client
// stops as on Ctrl-Break when that parent dies, however it died: the parent-death
// signal, set again here since exec of a file with capabilities clears it. Once the
// parent is gone, a stop has kOrphanGrace to finish before the process is ended.

#include "platform/console_control.h"

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace ostrel {

class SignalConsoleControl final : public ConsoleControl {
public:
    static constexpr const char* kParentVariable = "OSTREL_PARENT_PID";
    static constexpr std::chrono::milliseconds kOrphanGrace{5000};

    SignalConsoleControl() = default;
    ~SignalConsoleControl() override;
    SignalConsoleControl(const SignalConsoleControl&) = delete;
    SignalConsoleControl& operator=(const SignalConsoleControl&) = delete;

    bool install(Handler handler) override;

private:
    void wait();
    void tieToParent();
    bool orphaned() const { return parent_ > 0 && ::getppid() != parent_; }

    Handler handler_;
    pid_t parent_ = 0;
    int signals_ = -1;
    int stop_ = -1;
    std::thread thread_;
};

}  // namespace ostrel
