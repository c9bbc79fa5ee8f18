// The HDLC framing layer: a stream over another stream that sends each
// write as one frame and returns the payload of one frame per read, with the
// flag-and-escape byte stuffing of asynchronous HDLC:
//
//   0x7E, payload with every 0x7D and 0x7E sent as 0x7D followed by the byte
//   XOR 0x20, 0x7E
//
// No checksum, address or control field is added: integrity checks belong
// to the protocol carried inside the frames.
#ifndef QV_HDLC_H
#define QV_HDLC_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include <cstddef>

// Wraps iostream in an HDLC stream with a receive buffer of isize bytes (the
// most requested from the wrapped stream in one read) and a transmit buffer
// of osize bytes (a frame leaves in wrapped writes of at most that size).
// The new stream has the transport kind of iostream and passes set_timeout,
// set_break, set_dtr, set_rts, get_lines, configure, ioctl, flush and sleep
// on unchanged; it has no get_available. context may be nullptr (no log).
//
// A read returns the payload of the next frame (bytes before its opening
// flag are skipped; bytes after its closing flag stay buffered for the next
// read). It fails with QV_STATUS_IO and an error line for an escape byte
// followed by a flag or another escape byte ("HDLC frame escaped the special
// character %02x.") and for a frame larger than the read ("HDLC frame is too
// large (%zu %zu)."; the first bytes are delivered); a failing wrapped read
// ends it with that status.
//
// The wrapped stream is not owned: closing the HDLC stream leaves it open,
// and it must outlive the HDLC stream.
//
// Returns QV_STATUS_INVALIDARGS without out or iostream or for a buffer size
// of 0, QV_STATUS_NOMEMORY ("Failed to allocate memory.") when the record or
// a buffer cannot be allocated. *out receives the stream, or nullptr on
// failure.
qv_status_t qv_hdlc_open(qv_iostream_t **out, qv_context_t *context, qv_iostream_t *iostream, size_t isize,
                         size_t osize);

#endif
