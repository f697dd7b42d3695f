#pragma once
// Console control events (Ctrl-C, Ctrl-Break, console close, log-off, shut-down).
//   install(handler)  from then on `handler` runs on a thread of its own for every event,
//                     and the events no longer end the process; false when that cannot be set up
//   create()          this system's implementation

#include <functional>
#include <memory>

namespace ostrel {

class ConsoleControl {
public:
    using Handler = std::function<void()>;

    virtual ~ConsoleControl() = default;
    virtual bool install(Handler handler) = 0;

    static std::unique_ptr<ConsoleControl> create();
};

}  // namespace ostrel
