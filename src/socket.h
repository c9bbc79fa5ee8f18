// The socket stream shared by the socket based transports (infrared,
// Bluetooth RFCOMM): a qv_iostream_t over one connected stream socket.
//
// A transport allocates the record (qv_socket_allocate, or its own record
// derived from qv_socket_t with a vtable built from the slot functions
// below), gives it a socket (qv_socket_open and qv_socket_connect, or
// qv_socket_adopt for a socket that some other component connected) and
// hands it out; every stream operation then comes from here.
//
// Stream behaviour:
//   - The timeout starts out negative (wait without limit). It applies to
//     each wait for data, not to a whole read: a read returns
//     QV_STATUS_TIMEOUT with the bytes received so far when no further byte
//     arrived within the timeout. A timeout of 0 returns what is waiting.
//   - A write waits while the socket cannot take more data: with a positive
//     timeout it gives up with QV_STATUS_TIMEOUT (and the count written so
//     far) once the socket took nothing for that long, otherwise it waits
//     without limit.
//   - When the other side closes the connection, a read ends with
//     QV_STATUS_TIMEOUT and the bytes received before; a write fails with
//     QV_STATUS_IO (no SIGPIPE is raised).
//   - Interrupted system calls are restarted; a wait continues with the time
//     that was left.
//   - get_available is the number of received bytes waiting (FIONREAD);
//     ioctl is always QV_STATUS_UNSUPPORTED; sleep suspends the caller. A
//     socket has no line settings, modem lines, break, output queue to flush
//     or queues to purge: those slots are absent, and the stream wrappers
//     treat them as successful no-ops.
//
// Failures of the system are logged with the system's text and mapped by
// qv_socket_status_from_errno.
#ifndef QV_SOCKET_H
#define QV_SOCKET_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include "iostream-private.h"

#include <sys/socket.h>

struct qv_socket_t : qv_iostream_t {
    int fd = -1;      // the stream socket, -1 when there is none
    int timeout = -1; // milliseconds for each wait; negative: without limit
    bool reported_closed = false; // the closed connection was logged

    qv_socket_t() = default;
    qv_socket_t(const qv_socket_t &) = delete;
    qv_socket_t &operator=(const qv_socket_t &) = delete;

    // Releases a socket that is still held (a transport's open that failed
    // half-way); qv_socket_close releases it itself and leaves fd at -1.
    ~qv_socket_t() override;
};

// The operations of a plain socket stream (record qv_socket_t).
extern const qv_iostream_vtable_t qv_socket_vtable;

// Creates a socket stream without a socket, for the given transport kind.
// Logs "Failed to allocate memory." and returns nullptr when memory runs
// out. Released with qv_iostream_close once it holds a socket, or with
// qv_iostream_deallocate by an open that fails half-way.
qv_socket_t *qv_socket_allocate(qv_context_t *context, qv_transport_t transport);

// Maps an errno value of a failed socket call to a status: EINVAL to
// QV_STATUS_INVALIDARGS, EAFNOSUPPORT to QV_STATUS_UNSUPPORTED, ENOMEM and
// ENOBUFS to QV_STATUS_NOMEMORY, EACCES and EPERM to QV_STATUS_NOACCESS,
// anything else to QV_STATUS_IO.
qv_status_t qv_socket_status_from_errno(int errcode);

// Logs the system's text for errcode at ERROR on behalf of the given
// function, and returns the mapped status. Use QV_SOCKET_SYSERROR.
qv_status_t qv_socket_syserror(qv_context_t *context, const char *file, unsigned int line, const char *function,
                               int errcode);

#define QV_SOCKET_SYSERROR(context, errcode) \
    qv_socket_syserror((context), __FILE__, __LINE__, __func__, (errcode))

// Takes and releases a reference on the system's socket library. Sockets
// need no start-up step on this system: both succeed without doing
// anything. Every socket (and every discovery) holds one reference while it
// is open.
qv_status_t qv_socket_init(qv_context_t *context);
qv_status_t qv_socket_exit(qv_context_t *context);

// Creates the stream's socket (close-on-exec) of the given address family,
// type and protocol and resets the timeout to -1. On failure the error is
// logged and mapped (EAFNOSUPPORT, a family this system does not have,
// gives QV_STATUS_UNSUPPORTED). The stream must not hold a socket yet.
qv_status_t qv_socket_open(qv_socket_t *sock, int family, int type, int protocol);

// Connects the stream's socket to the address. A connection attempt that a
// signal interrupts is waited for to its end. Failures are logged and
// mapped.
qv_status_t qv_socket_connect(qv_socket_t *sock, const struct sockaddr *address, socklen_t length);

// Hands an already connected stream socket to the stream, which owns it from
// then on, also when the call fails (it is closed with the stream). The
// descriptor is marked close-on-exec and the timeout reset to -1.
// QV_STATUS_INVALIDARGS (logged) for a negative descriptor or a socket that
// is not a stream socket; other failures are logged and mapped (a
// descriptor that is not a socket gives QV_STATUS_IO). The stream must not
// hold a socket yet.
qv_status_t qv_socket_adopt(qv_socket_t *sock, int fd);

// The stream operations, for transports that build their own vtable.
qv_status_t qv_socket_set_timeout(qv_iostream_t *iostream, int timeout);
qv_status_t qv_socket_get_available(qv_iostream_t *iostream, size_t *value);
qv_status_t qv_socket_poll(qv_iostream_t *iostream, int timeout);
qv_status_t qv_socket_read(qv_iostream_t *iostream, void *data, size_t size, size_t *actual);
qv_status_t qv_socket_write(qv_iostream_t *iostream, const void *data, size_t size, size_t *actual);
qv_status_t qv_socket_ioctl(qv_iostream_t *iostream, unsigned int request, void *data, size_t size);
qv_status_t qv_socket_sleep(qv_iostream_t *iostream, unsigned int milliseconds);

// Shuts the receiving direction down, closes the socket and releases the
// socket library. Every step runs; each failure is logged and the first
// one's status is returned. A connection that is already gone is not a
// failure.
qv_status_t qv_socket_close(qv_iostream_t *iostream);

#endif
