#pragma once
// A small lab of network namespaces: one for a tunnel server and one per
// client, each client joined to the server by a veth pair with a /30 of
// 192.0.2.0/24 (a documentation range that routes nowhere). Names carry the
// pid, so parallel runs do not collide; the destructor removes everything,
// and a new lab first removes labs whose process is gone.
//   NetnsLab lab(2); if (!lab.ok()) FAIL() << lab.error();
//   lab.run(lab.clientNs(0), {"ip", "addr"});
//   { NetnsLab::Enter in(lab.serverNs()); /* sockets made here live there */ }

#include <string>
#include <vector>

namespace corvana::netns {

class NetnsLab {
public:
    // Why this machine cannot host a lab (not root, no /dev/net/tun, no `ip`), or empty.
    static std::string unavailableReason();

    explicit NetnsLab(int clients);
    ~NetnsLab();
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    const std::string& serverNs() const { return names_.front(); }
    const std::string& clientNs(int i) const { return names_.at(static_cast<std::size_t>(i) + 1); }
    // The server's end of client i's link, and the client's end.
    static std::string serverAddress(int i);
    static std::string clientAddress(int i);

    // Runs argv inside ns and waits: the exit code (-1 when it could not run).
    static int run(const std::string& ns, const std::vector<std::string>& argv, std::string* output = nullptr);

    // Moves the calling thread into a namespace for its lifetime; threads it
    // starts meanwhile stay there.
    class Enter {
    public:
        explicit Enter(const std::string& ns);
        ~Enter();
        Enter(const Enter&) = delete;
        Enter& operator=(const Enter&) = delete;
        bool ok() const { return ok_; }

    private:
        int home_ = -1;
        bool ok_ = false;
    };

private:
    static void removeStaleLabs();
    static int runHere(const std::vector<std::string>& argv, std::string* output);
    bool step(const std::vector<std::string>& argv);

    std::vector<std::string> names_;
    std::string error_;
};

}  // namespace corvana::netns
