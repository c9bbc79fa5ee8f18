// The socket stream on POSIX sockets: one connected stream socket, waits
// done with poll(2), transfers with non-blocking recv(2) and send(2).
#include "socket.h"

#include "context-private.h"
#include "iostream-private.h"
#include "platform.h"
#include "platform/wait_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <chrono>
#include <climits>

namespace {

qv_socket_t *socket_cast(qv_iostream_t *iostream)
{
    return static_cast<qv_socket_t *>(iostream);
}

// Waits for a connection attempt that continues in the background (after
// EINTR or EINPROGRESS) to end. Returns 0 once connected, else the errno
// value of the failure.
int finish_connect(int fd)
{
    int errcode = 0;
    if (qv_wait_ready(fd, POLLOUT, -1, qv_hangup_t::ready, &errcode) != qv_wait_t::ready)
        return errcode;

    int result = 0;
    socklen_t length = sizeof result;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0)
        return errno;
    return result;
}

} // namespace

const qv_iostream_vtable_t qv_socket_vtable = {
    sizeof(qv_socket_t),
    qv_socket_set_timeout,
    nullptr, // set_break
    nullptr, // set_dtr
    nullptr, // set_rts
    nullptr, // get_lines
    qv_socket_get_available,
    nullptr, // configure
    qv_socket_poll,
    qv_socket_read,
    qv_socket_write,
    qv_socket_ioctl,
    nullptr, // flush
    nullptr, // purge
    qv_socket_sleep,
    qv_socket_close,
};

qv_socket_t::~qv_socket_t()
{
    if (fd < 0)
        return;
    ::close(fd);
    qv_socket_exit(context);
}

qv_socket_t *qv_socket_allocate(qv_context_t *context, qv_transport_t transport)
{
    return qv_iostream_allocate<qv_socket_t>(context, &qv_socket_vtable, transport);
}

qv_status_t qv_socket_status_from_errno(int errcode)
{
    switch (errcode) {
    case EINVAL:
        return QV_STATUS_INVALIDARGS;
    case EAFNOSUPPORT:
        return QV_STATUS_UNSUPPORTED;
    case ENOMEM:
    case ENOBUFS:
        return QV_STATUS_NOMEMORY;
    case EACCES:
    case EPERM:
        return QV_STATUS_NOACCESS;
    default:
        return QV_STATUS_IO;
    }
}

qv_status_t qv_socket_syserror(qv_context_t *context, const char *file, unsigned int line, const char *function,
                               int errcode)
{
    qv_context_syserror(context, QV_LOGLEVEL_ERROR, file, line, function, errcode);
    return qv_socket_status_from_errno(errcode);
}

qv_status_t qv_socket_init(qv_context_t *)
{
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_socket_exit(qv_context_t *)
{
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_socket_open(qv_socket_t *sock, int family, int type, int protocol)
{
    assert(sock != nullptr && sock->fd < 0);

    sock->timeout = -1;

    qv_status_t status = qv_socket_init(sock->context);
    if (status != QV_STATUS_SUCCESS)
        return status;

    int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        status = QV_SOCKET_SYSERROR(sock->context, errno);
        qv_socket_exit(sock->context);
        return status;
    }

    sock->fd = fd;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_socket_connect(qv_socket_t *sock, const struct sockaddr *address, socklen_t length)
{
    assert(sock != nullptr && sock->fd >= 0);

    if (::connect(sock->fd, address, length) == 0)
        return QV_STATUS_SUCCESS;

    int errcode = errno;
    if (errcode == EINTR || errcode == EINPROGRESS) {
        // The attempt goes on in the background: wait for its outcome.
        errcode = finish_connect(sock->fd);
        if (errcode == 0)
            return QV_STATUS_SUCCESS;
    }
    return QV_SOCKET_SYSERROR(sock->context, errcode);
}

qv_status_t qv_socket_adopt(qv_socket_t *sock, int fd)
{
    assert(sock != nullptr && sock->fd < 0);

    if (fd < 0) {
        QV_ERROR(sock->context, "Invalid socket descriptor %d.", fd);
        return QV_STATUS_INVALIDARGS;
    }

    qv_status_t status = qv_socket_init(sock->context);
    if (status != QV_STATUS_SUCCESS) {
        ::close(fd);
        return status;
    }

    // From here on the stream owns the descriptor (and the reference on the
    // socket library that close releases).
    sock->fd = fd;
    sock->timeout = -1;

    int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != 0)
        return QV_SOCKET_SYSERROR(sock->context, errno);

    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0)
        return QV_SOCKET_SYSERROR(sock->context, errno);
    if (type != SOCK_STREAM) {
        // Message sockets would cut messages longer than a read.
        QV_ERROR(sock->context, "The socket is not a stream socket.");
        return QV_STATUS_INVALIDARGS;
    }

    return QV_STATUS_SUCCESS;
}

qv_status_t qv_socket_set_timeout(qv_iostream_t *iostream, int timeout)
{
    socket_cast(iostream)->timeout = timeout;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_socket_get_available(qv_iostream_t *iostream, size_t *value)
{
    qv_socket_t *sock = socket_cast(iostream);

    int count = 0;
    if (ioctl(sock->fd, FIONREAD, &count) != 0)
        return QV_SOCKET_SYSERROR(sock->context, errno);

    *value = count > 0 ? static_cast<size_t>(count) : 0;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_socket_poll(qv_iostream_t *iostream, int timeout)
{
    qv_socket_t *sock = socket_cast(iostream);

    int errcode = 0;
    switch (qv_wait_ready(sock->fd, POLLIN, timeout, qv_hangup_t::ready, &errcode)) {
    case qv_wait_t::ready:
        return QV_STATUS_SUCCESS;
    case qv_wait_t::timeout:
        return QV_STATUS_TIMEOUT;
    case qv_wait_t::failed:
        break;
    }
    return QV_SOCKET_SYSERROR(sock->context, errcode);
}

qv_status_t qv_socket_read(qv_iostream_t *iostream, void *data, size_t size, size_t *actual)
{
    qv_socket_t *sock = socket_cast(iostream);
    unsigned char *buffer = static_cast<unsigned char *>(data);

    qv_status_t status = QV_STATUS_SUCCESS;
    size_t nbytes = 0;
    while (nbytes < size) {
        // Each wait gets the whole timeout.
        int errcode = 0;
        qv_wait_t result = qv_wait_ready(sock->fd, POLLIN, sock->timeout, qv_hangup_t::ready, &errcode);
        if (result == qv_wait_t::timeout) {
            status = QV_STATUS_TIMEOUT;
            break;
        }
        if (result == qv_wait_t::failed) {
            status = QV_SOCKET_SYSERROR(sock->context, errcode);
            break;
        }

        ssize_t n = ::recv(sock->fd, buffer + nbytes, size - nbytes, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            status = QV_SOCKET_SYSERROR(sock->context, errno);
            break;
        }
        if (n == 0) {
            // The other side closed the connection: nothing more will come.
            if (!sock->reported_closed) {
                QV_WARNING(sock->context, "The connection was closed by the device.");
                sock->reported_closed = true;
            }
            status = QV_STATUS_TIMEOUT;
            break;
        }
        nbytes += static_cast<size_t>(n);
    }

    *actual = nbytes;
    return status;
}

qv_status_t qv_socket_write(qv_iostream_t *iostream, const void *data, size_t size, size_t *actual)
{
    qv_socket_t *sock = socket_cast(iostream);
    const unsigned char *buffer = static_cast<const unsigned char *>(data);

    // A socket that takes nothing for a whole (positive) timeout is given
    // up; otherwise the write waits as long as it takes.
    const int wait = sock->timeout > 0 ? sock->timeout : -1;

    qv_status_t status = QV_STATUS_SUCCESS;
    size_t nbytes = 0;
    while (nbytes < size) {
        int errcode = 0;
        qv_wait_t result = qv_wait_ready(sock->fd, POLLOUT, wait, qv_hangup_t::ready, &errcode);
        if (result == qv_wait_t::timeout) {
            status = QV_STATUS_TIMEOUT;
            break;
        }
        if (result == qv_wait_t::failed) {
            status = QV_SOCKET_SYSERROR(sock->context, errcode);
            break;
        }

        // MSG_NOSIGNAL: a closed connection is an error, not a SIGPIPE.
        ssize_t n = ::send(sock->fd, buffer + nbytes, size - nbytes, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            status = QV_SOCKET_SYSERROR(sock->context, errno);
            break;
        }
        if (n == 0) {
            status = QV_STATUS_TIMEOUT;
            break;
        }
        nbytes += static_cast<size_t>(n);
    }

    *actual = nbytes;
    return status;
}

qv_status_t qv_socket_ioctl(qv_iostream_t *, unsigned int, void *, size_t)
{
    return QV_STATUS_UNSUPPORTED;
}

qv_status_t qv_socket_sleep(qv_iostream_t *iostream, unsigned int milliseconds)
{
    qv_status_t status = qv_platform_sleep(milliseconds);
    if (status != QV_STATUS_SUCCESS)
        QV_ERROR(iostream->context, "Failed to sleep.");
    return status;
}

qv_status_t qv_socket_close(qv_iostream_t *iostream)
{
    qv_socket_t *sock = socket_cast(iostream);
    qv_status_t status = QV_STATUS_SUCCESS;

    if (sock->fd >= 0) {
        // A connection the other side already dropped (or never made) has
        // no receiving direction left to shut down.
        if (shutdown(sock->fd, SHUT_RD) != 0 && errno != ENOTCONN)
            qv_status_set_error(&status, QV_SOCKET_SYSERROR(sock->context, errno));

        // The descriptor is released even when close reports an error.
        int fd = sock->fd;
        sock->fd = -1;
        if (::close(fd) != 0 && errno != EINTR)
            qv_status_set_error(&status, QV_SOCKET_SYSERROR(sock->context, errno));

        qv_status_set_error(&status, qv_socket_exit(sock->context));
    }

    return status;
}
