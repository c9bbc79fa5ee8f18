// Waiting for a file descriptor to become ready, shared by the POSIX
// transports (serial ports and sockets).
#ifndef QV_WAIT_POSIX_H
#define QV_WAIT_POSIX_H

#include <chrono>

using qv_clock = std::chrono::steady_clock; // CLOCK_MONOTONIC

// Milliseconds left until deadline, rounded up so that a wait never ends
// before it, and at most INT_MAX; 0 once it has passed.
int qv_remaining_ms(qv_clock::time_point deadline);

// The outcome of waiting for a descriptor to become ready.
enum class qv_wait_t { ready, timeout, failed };

// What a hang-up or an error condition without the wanted event means:
// a failure (EIO; a serial port whose device went away), or readiness (a
// socket: the receive or send that follows reports what happened).
enum class qv_hangup_t { failed, ready };

// Waits until fd is ready for events (POLLIN or POLLOUT): timeout negative
// waits without limit, 0 only looks, positive waits at most that many
// milliseconds in total (a wait that a signal interrupts continues with the
// time left). On failure *errcode holds the errno value (EBADF for a closed
// descriptor).
qv_wait_t qv_wait_ready(int fd, short events, int timeout, qv_hangup_t hangup, int *errcode);

#endif
