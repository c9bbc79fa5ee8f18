// The packet layer: a stream over a packet-oriented link (Bluetooth Low
// Energy) that behaves as a byte stream. One received packet is buffered and
// handed out in pieces of whatever size the caller asks for; writes are cut
// into packets of at most the link's packet size.
#ifndef QV_PACKET_H
#define QV_PACKET_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include <cstddef>

// Wraps iostream in a packet stream. rsize is the largest packet the link
// delivers (the receive buffer; 0: no buffering, reads go straight through),
// ssize the largest packet it accepts (0: no limit, a write leaves whole).
// The new stream has the transport kind of iostream and passes set_timeout,
// set_break, set_dtr, set_rts, get_lines, configure, ioctl, flush and sleep
// on unchanged. Nothing is sent or read here.
//
// The wrapped stream is not owned: closing the packet stream leaves it open,
// and it must outlive the packet stream.
//
// Returns QV_STATUS_INVALIDARGS without out or iostream, QV_STATUS_NOMEMORY
// ("Failed to allocate memory.") when the record or the receive buffer
// cannot be allocated. *out receives the stream, or nullptr on failure.
qv_status_t qv_packet_open(qv_iostream_t **out, qv_context_t *context, qv_iostream_t *iostream, size_t rsize,
                           size_t ssize);

#endif
