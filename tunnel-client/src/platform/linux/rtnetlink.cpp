#include "platform/linux/rtnetlink.h"

#include <libmnl/libmnl.h>
#include <linux/netlink.h>

#include <atomic>
#include <cerrno>
#include <vector>

namespace ostrel {

int Rtnetlink::exchange(nlmsghdr* request, Callback callback, void* data) {
    static std::atomic<unsigned> sequence{1};
    mnl_socket* nl = mnl_socket_open(NETLINK_ROUTE);
    if (!nl) return errno;
    if (mnl_socket_bind(nl, 0, MNL_SOCKET_AUTOPID) < 0) {
        int err = errno;
        mnl_socket_close(nl);
        return err;
    }
    unsigned portid = mnl_socket_get_portid(nl);
    request->nlmsg_seq = sequence++;
    int result = 0;
    if (mnl_socket_sendto(nl, request, request->nlmsg_len) < 0) {
        result = errno;
    } else {
        std::vector<char> buf(MNL_SOCKET_BUFFER_SIZE);
        for (;;) {
            ssize_t n = mnl_socket_recvfrom(nl, buf.data(), buf.size());
            if (n < 0) {
                result = errno;
                break;
            }
            int rc = mnl_cb_run(buf.data(), static_cast<std::size_t>(n), request->nlmsg_seq, portid, callback, data);
            if (rc == MNL_CB_STOP) break;
            // Without a dump or an acknowledgement the one answer is all there is.
            if (rc >= 0 && !(request->nlmsg_flags & (NLM_F_DUMP | NLM_F_ACK))) break;
            if (rc < 0) {
                result = errno;
                break;
            }
        }
    }
    mnl_socket_close(nl);
    return result;
}

}  // namespace ostrel
