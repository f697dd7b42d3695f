// socket-squatter PATH
// Another account's program that listens first on a local socket name a player's
// program might use. Prints "listening" once it does, then "accepted N",
// "data N <hex>" and "closed N" for each connection N, so a test sees whatever
// reached it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2 || std::strlen(argv[1]) >= sizeof(sockaddr_un{}.sun_path)) {
        std::fprintf(stderr, "usage: socket-squatter PATH\n");
        return 2;
    }
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, argv[1]);
    if (server < 0 || ::bind(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::chmod(argv[1], 0777) != 0 || ::listen(server, 16) != 0) {
        std::fprintf(stderr, "socket-squatter: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);

    std::vector<pollfd> fds{{server, POLLIN, 0}};
    std::vector<int> ids{0};
    int next = 1;
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return 1;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            if (i == 0) {
                const int client = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) {
                    fds.push_back({client, POLLIN, 0});
                    ids.push_back(next);
                    std::printf("accepted %d\n", next++);
                }
                continue;
            }
            unsigned char chunk[4096];
            const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                std::printf("data %d ", ids[i]);
                for (ssize_t k = 0; k < n; ++k)
                    std::printf("%02x", chunk[k]);
                std::printf("\n");
            } else if (n == 0 || errno != EINTR) {
                std::printf("closed %d\n", ids[i]);
                ::close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
        for (std::size_t i = fds.size(); i-- > 1;)
            if (fds[i].fd < 0) {
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
                ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(i));
            }
        std::fflush(stdout);
    }
}
