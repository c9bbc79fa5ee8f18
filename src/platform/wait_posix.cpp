#include "platform/wait_posix.h"

#include <poll.h>

#include <cerrno>
#include <climits>

int qv_remaining_ms(qv_clock::time_point deadline)
{
    auto left = deadline - qv_clock::now();
    if (left <= qv_clock::duration::zero())
        return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

qv_wait_t qv_wait_ready(int fd, short events, int timeout, qv_hangup_t hangup, int *errcode)
{
    const auto deadline = qv_clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
    for (;;) {
        int wait = timeout < 0 ? -1 : (timeout == 0 ? 0 : qv_remaining_ms(deadline));

        struct pollfd pfd = {fd, events, 0};
        int rc = ::poll(&pfd, 1, wait);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            *errcode = errno;
            return qv_wait_t::failed;
        }
        if (rc == 0) {
            // poll may wake a little early; only the clock decides.
            if (timeout > 0 && qv_remaining_ms(deadline) > 0)
                continue;
            return qv_wait_t::timeout;
        }
        if (pfd.revents & POLLNVAL) {
            *errcode = EBADF;
            return qv_wait_t::failed;
        }
        if ((pfd.revents & events) || hangup == qv_hangup_t::ready)
            return qv_wait_t::ready;
        *errcode = EIO;
        return qv_wait_t::failed;
    }
}
