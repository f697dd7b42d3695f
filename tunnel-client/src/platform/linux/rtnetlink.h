#pragma once

struct nlmsghdr;

namespace ostrel {

class Rtnetlink {
public:
    using Callback = int (*)(const nlmsghdr*, void*);
    // Sends one request and reads every answer until the kernel is done with
    // it, in the calling thread's network namespace. 0 or the errno.
    static int exchange(nlmsghdr* request, Callback callback, void* data);
};

}  // namespace ostrel
