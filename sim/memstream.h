// A qv_iostream_t connected in memory to a simulated device, on a virtual
// clock. See sim.h.
#ifndef QVSIM_MEMSTREAM_H
#define QVSIM_MEMSTREAM_H

#include <libquivelmarine/context.h>
#include <libquivelmarine/iostream.h>

#include "clock.h"
#include "device.h"

// Opens a stream whose other end is device, timed by clock. The stream
// behaves like the library's transport of the given kind:
//
//   QV_TRANSPORT_SERIAL: every operation. A read waits at most the timeout
//     for the whole request; configure checks its values
//     (QV_STATUS_INVALIDARGS for data bits outside 5..8 or an unknown
//     parity, stop bits or flow control, nothing forwarded) and raises DTR
//     and RTS unless hardware flow control is chosen; purge rejects a
//     direction outside 1..3; ioctl accepts the serial request 0x80047300
//     and hands every other request to the device.
//   QV_TRANSPORT_IRDA, QV_TRANSPORT_BLUETOOTH, QV_TRANSPORT_USB: a socket
//     like byte stream: only set_timeout, get_available, poll, read, write,
//     ioctl (to the device), sleep and close; a read's timeout applies to
//     each wait for more data, not to the whole request.
//   QV_TRANSPORT_BLE, QV_TRANSPORT_USBHID: a packet stream: every
//     Link::send is one packet and one read returns one packet (a packet
//     larger than the buffer is dropped with QV_STATUS_IO); get_available
//     reports 0, poll succeeds at once; purge empties the queue; no line
//     controls, configure or flush.
//
// Host writes are handed to Device::on_receive at once. Reads take the
// bytes whose time has come; when more are needed the virtual clock jumps
// to the next scheduled device call or to the timeout, whichever comes
// first, so waiting costs no wall time. A read or poll without a timeout
// (negative) on a device with nothing scheduled would wait forever: it
// returns QV_STATUS_TIMEOUT with what was read. sleep advances the clock.
//
// DTR and RTS start low, break off, settings "never configured". Closing
// the stream (qv_iostream_close) calls Device::on_close; device and clock
// are not owned and must outlive the stream.
//
// Returns QV_STATUS_INVALIDARGS without out or for a transport that is not
// exactly one of the kinds above, QV_STATUS_NOMEMORY, or QV_STATUS_IO when
// the device's on_open throws.
qv_status_t qvsim_memstream_open(qv_iostream_t **out, qv_context_t *context, qvsim::Device &device,
                                 qvsim::Clock &clock, qv_transport_t transport = QV_TRANSPORT_SERIAL);

// The device's link of a memory stream (for a test to send unsolicited
// bytes or read the host's line state), or nullptr for another stream.
qvsim::Link *qvsim_memstream_link(qv_iostream_t *iostream);

// The host's last read/poll timeout of a memory stream (-1 until set, and
// for another stream).
int qvsim_memstream_timeout(qv_iostream_t *iostream);

#endif
