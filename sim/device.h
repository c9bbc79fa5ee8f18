// The simulated dive computer and the link it talks over. See sim.h for how
// a backend simulator is written and driven.
#ifndef QVSIM_DEVICE_H
#define QVSIM_DEVICE_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/iostream.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <vector>

namespace qvsim {

// The output lines that the host drives (a pseudo-terminal cannot carry
// them: over a PtyServer they stay false).
struct Lines {
    bool dtr = false;
    bool rts = false;
    bool brk = false; // break condition

    bool operator==(const Lines &) const = default;
};

// The line settings the host configured. baudrate 0 means "never configured".
struct LineSettings {
    unsigned int baudrate = 0;
    unsigned int databits = 8;
    qv_parity_t parity = QV_PARITY_NONE;
    qv_stopbits_t stopbits = QV_STOPBITS_ONE;
    qv_flowcontrol_t flowcontrol = QV_FLOWCONTROL_NONE;

    bool operator==(const LineSettings &) const = default;
};

// The device's end of the connection. A Link is only valid inside the
// Device callbacks (and the functions scheduled with call_after), which all
// run on one thread: the caller's thread for a memory stream, the server
// thread for a PtyServer.
class Link {
public:
    virtual ~Link() = default;

    // Sends bytes to the host now. On a packet transport (BLE, USB HID
    // memory streams) each call is one packet; elsewhere bytes simply queue
    // up in order.
    virtual void send(const uint8_t *data, size_t size) = 0;

    // Runs fn on the device's thread once delay_ms milliseconds have passed
    // (0: as soon as the host next waits or asks for data). Calls due at the
    // same moment run in the order they were scheduled.
    virtual void call_after(uint64_t delay_ms, std::function<void(Link &)> fn) = 0;

    // Drops every call scheduled with call_after or send_after that has not
    // run yet (for instance a pending answer the host interrupted).
    virtual void cancel_pending() = 0;

    // Milliseconds since the link was opened: virtual time on a memory
    // stream, real time on a PtyServer.
    virtual uint64_t now() const = 0;

    // The host's DTR, RTS and break lines and its line settings.
    virtual Lines lines() const = 0;
    virtual LineSettings settings() const = 0;

    // Sets the modem input lines the host reads with qv_iostream_get_lines
    // (a bit set of QV_LINE_*). A pseudo-terminal has no modem lines: there
    // this does nothing.
    virtual void set_modem_lines(unsigned int lines) = 0;

    // The kind of transport the host sees.
    virtual qv_transport_t transport() const = 0;

    // Conveniences over send and call_after.
    void send(std::span<const uint8_t> data) { send(data.data(), data.size()); }
    void send(std::initializer_list<uint8_t> data) { send(data.begin(), data.size()); }
    void send_after(uint64_t delay_ms, std::vector<uint8_t> data)
    {
        call_after(delay_ms, [bytes = std::move(data)](Link &link) { link.send(bytes); });
    }
};

// A simulated device: the device's side of a protocol. Only on_receive is
// mandatory. Received bytes may come split or merged in any way (a
// pseudo-terminal delivers whatever has arrived), so a device that expects
// framed commands keeps its own input buffer.
class Device {
public:
    virtual ~Device() = default;

    // The host opened the connection.
    virtual void on_open(Link &link) {}

    // The host wrote bytes.
    virtual void on_receive(Link &link, const uint8_t *data, size_t size) = 0;

    // The host set DTR, RTS or break (called on every request, also when
    // the value does not change) or a configure raised DTR and RTS.
    virtual void on_line_change(Link &link, const Lines &lines) {}

    // The host changed the line settings.
    virtual void on_configure(Link &link, const LineSettings &settings) {}

    // A transport-specific request (qv_iostream_ioctl) that the stream does
    // not serve itself; only memory streams deliver these.
    virtual qv_status_t on_ioctl(Link &link, unsigned int request, void *data, size_t size)
    {
        return QV_STATUS_UNSUPPORTED;
    }

    // The host closed the connection (memory stream) or the server stops.
    virtual void on_close(Link &link) {}
};

} // namespace qvsim

#endif
