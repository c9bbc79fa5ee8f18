#include "memstream.h"

#include "context-private.h"
#include "iostream-private.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <optional>
#include <new>

namespace {

enum class Mode { serial, socket, packet };

struct qvsim_memstream_t;

struct MemLink final : qvsim::Link {
    qvsim_memstream_t *stream = nullptr;

    void send(const uint8_t *data, size_t size) override;
    void call_after(uint64_t delay_ms, std::function<void(qvsim::Link &)> fn) override;
    void cancel_pending() override;
    uint64_t now() const override;
    qvsim::Lines lines() const override;
    qvsim::LineSettings settings() const override;
    void set_modem_lines(unsigned int value) override;
    qv_transport_t transport() const override;
    using qvsim::Link::send;
};

struct qvsim_memstream_t : qv_iostream_t {
    qvsim::Device *device = nullptr;
    qvsim::Clock *clock = nullptr;
    Mode mode = Mode::serial;
    MemLink link;

    int timeout = -1;
    qvsim::Lines lines;
    qvsim::LineSettings settings;
    unsigned int modem_lines = 0;

    // Received data that has arrived: a byte queue, or whole packets.
    std::deque<uint8_t> bytes;
    std::deque<std::vector<uint8_t>> packets;

    // Scheduled device calls by due time; equal times keep their order.
    std::multimap<uint64_t, std::function<void(qvsim::Link &)>> pending;
};

qvsim_memstream_t *self(qv_iostream_t *iostream)
{
    return static_cast<qvsim_memstream_t *>(iostream);
}

void MemLink::send(const uint8_t *data, size_t size)
{
    if (stream->mode == Mode::packet) {
        stream->packets.emplace_back(data, data + size);
    } else {
        stream->bytes.insert(stream->bytes.end(), data, data + size);
    }
}

void MemLink::call_after(uint64_t delay_ms, std::function<void(qvsim::Link &)> fn)
{
    uint64_t now = stream->clock->now();
    uint64_t due = delay_ms > std::numeric_limits<uint64_t>::max() - now ? std::numeric_limits<uint64_t>::max()
                                                                         : now + delay_ms;
    stream->pending.emplace(due, std::move(fn));
}

void MemLink::cancel_pending()
{
    stream->pending.clear();
}

uint64_t MemLink::now() const
{
    return stream->clock->now();
}

qvsim::Lines MemLink::lines() const
{
    return stream->lines;
}

qvsim::LineSettings MemLink::settings() const
{
    return stream->settings;
}

void MemLink::set_modem_lines(unsigned int value)
{
    stream->modem_lines = value;
}

qv_transport_t MemLink::transport() const
{
    return stream->transport;
}

// Runs a piece of simulation, turning an exception thrown by device code
// into a status: nothing may escape through the stream's operations.
template <typename F>
qv_status_t guarded(qvsim_memstream_t *stream, F &&fn)
{
    try {
        return fn();
    } catch (const std::bad_alloc &) {
        QV_ERROR(stream->context, "Failed to allocate memory.");
        return QV_STATUS_NOMEMORY;
    } catch (const std::exception &e) {
        QV_ERROR(stream->context, "Simulated device failed (%s).", e.what());
        return QV_STATUS_IO;
    } catch (...) {
        QV_ERROR(stream->context, "Simulated device failed.");
        return QV_STATUS_IO;
    }
}

// Runs the device calls that are due at or before time t, moving the clock
// to each one's time, and leaves the clock at t.
void run_until(qvsim_memstream_t *stream, uint64_t t)
{
    while (!stream->pending.empty() && stream->pending.begin()->first <= t) {
        auto first = stream->pending.begin();
        stream->clock->advance_to(first->first);
        auto fn = std::move(first->second);
        stream->pending.erase(first);
        fn(stream->link);
    }
    stream->clock->advance_to(t);
}

void run_due(qvsim_memstream_t *stream)
{
    run_until(stream, stream->clock->now());
}

bool has_data(const qvsim_memstream_t *stream)
{
    return stream->mode == Mode::packet ? !stream->packets.empty() : !stream->bytes.empty();
}

// Lets virtual time pass until data has arrived (true) or the deadline
// (none: without limit) passed (false). Without a deadline and without any
// scheduled device call nothing can ever arrive: false at once.
bool wait_for_data(qvsim_memstream_t *stream, std::optional<uint64_t> deadline)
{
    run_due(stream);
    while (!has_data(stream)) {
        if (stream->pending.empty() || (deadline && stream->pending.begin()->first > *deadline)) {
            if (deadline)
                run_until(stream, *deadline);
            return false;
        }
        run_until(stream, stream->pending.begin()->first);
    }
    return true;
}

std::optional<uint64_t> deadline_after(const qvsim_memstream_t *stream, int timeout)
{
    if (timeout < 0)
        return std::nullopt;
    return stream->clock->now() + static_cast<uint64_t>(timeout);
}

qv_status_t memstream_set_timeout(qv_iostream_t *iostream, int timeout)
{
    self(iostream)->timeout = timeout;
    return QV_STATUS_SUCCESS;
}

qv_status_t change_lines(qvsim_memstream_t *stream, qvsim::Lines lines)
{
    stream->lines = lines;
    return guarded(stream, [&] {
        stream->device->on_line_change(stream->link, stream->lines);
        return QV_STATUS_SUCCESS;
    });
}

qv_status_t memstream_set_break(qv_iostream_t *iostream, unsigned int value)
{
    qvsim::Lines lines = self(iostream)->lines;
    lines.brk = value != 0;
    return change_lines(self(iostream), lines);
}

qv_status_t memstream_set_dtr(qv_iostream_t *iostream, unsigned int value)
{
    qvsim::Lines lines = self(iostream)->lines;
    lines.dtr = value != 0;
    return change_lines(self(iostream), lines);
}

qv_status_t memstream_set_rts(qv_iostream_t *iostream, unsigned int value)
{
    qvsim::Lines lines = self(iostream)->lines;
    lines.rts = value != 0;
    return change_lines(self(iostream), lines);
}

qv_status_t memstream_get_lines(qv_iostream_t *iostream, unsigned int *value)
{
    qvsim_memstream_t *stream = self(iostream);
    return guarded(stream, [&] {
        run_due(stream);
        *value = stream->modem_lines;
        return QV_STATUS_SUCCESS;
    });
}

qv_status_t memstream_get_available(qv_iostream_t *iostream, size_t *value)
{
    qvsim_memstream_t *stream = self(iostream);
    return guarded(stream, [&] {
        run_due(stream);
        // A packet stream cannot tell how much is waiting.
        *value = stream->mode == Mode::packet ? 0 : stream->bytes.size();
        return QV_STATUS_SUCCESS;
    });
}

qv_status_t memstream_configure(qv_iostream_t *iostream, unsigned int baudrate, unsigned int databits,
                                qv_parity_t parity, qv_stopbits_t stopbits, qv_flowcontrol_t flowcontrol)
{
    qvsim_memstream_t *stream = self(iostream);

    // The same checks as a real serial port: bad values change nothing.
    if (databits < 5 || databits > 8 || parity > QV_PARITY_SPACE || stopbits > QV_STOPBITS_TWO ||
        flowcontrol > QV_FLOWCONTROL_SOFTWARE)
        return QV_STATUS_INVALIDARGS;

    stream->settings = {baudrate, databits, parity, stopbits, flowcontrol};
    return guarded(stream, [&] {
        stream->device->on_configure(stream->link, stream->settings);
        // Without hardware flow control the port drives DTR and RTS high.
        if (flowcontrol != QV_FLOWCONTROL_HARDWARE && !(stream->lines.dtr && stream->lines.rts)) {
            stream->lines.dtr = true;
            stream->lines.rts = true;
            stream->device->on_line_change(stream->link, stream->lines);
        }
        return QV_STATUS_SUCCESS;
    });
}

qv_status_t memstream_poll(qv_iostream_t *iostream, int timeout)
{
    qvsim_memstream_t *stream = self(iostream);
    if (stream->mode == Mode::packet)
        return QV_STATUS_SUCCESS;

    return guarded(stream, [&] {
        return wait_for_data(stream, deadline_after(stream, timeout)) ? QV_STATUS_SUCCESS : QV_STATUS_TIMEOUT;
    });
}

qv_status_t read_bytes(qvsim_memstream_t *stream, uint8_t *data, size_t size, size_t *actual)
{
    // Serial: one deadline for the whole request; socket: each wait for
    // more data gets the full timeout again.
    std::optional<uint64_t> deadline = deadline_after(stream, stream->timeout);
    size_t nbytes = 0;
    while (nbytes < size) {
        bool arrived = wait_for_data(stream, deadline);
        size_t n = std::min(size - nbytes, stream->bytes.size());
        std::copy_n(stream->bytes.begin(), n, data + nbytes);
        stream->bytes.erase(stream->bytes.begin(), stream->bytes.begin() + static_cast<ptrdiff_t>(n));
        nbytes += n;
        *actual = nbytes;
        if (!arrived)
            break;
        if (stream->mode == Mode::socket)
            deadline = deadline_after(stream, stream->timeout);
    }
    return nbytes == size ? QV_STATUS_SUCCESS : QV_STATUS_TIMEOUT;
}

qv_status_t read_packet(qvsim_memstream_t *stream, uint8_t *data, size_t size, size_t *actual)
{
    if (!wait_for_data(stream, deadline_after(stream, stream->timeout)))
        return QV_STATUS_TIMEOUT;

    std::vector<uint8_t> packet = std::move(stream->packets.front());
    stream->packets.pop_front();
    if (packet.size() > size)
        return QV_STATUS_IO; // lost, like on the real transport

    if (!packet.empty())
        std::memcpy(data, packet.data(), packet.size());
    *actual = packet.size();
    return QV_STATUS_SUCCESS;
}

qv_status_t memstream_read(qv_iostream_t *iostream, void *data, size_t size, size_t *actual)
{
    qvsim_memstream_t *stream = self(iostream);
    if (data == nullptr && size != 0)
        return QV_STATUS_INVALIDARGS;

    return guarded(stream, [&] {
        auto *buffer = static_cast<uint8_t *>(data);
        return stream->mode == Mode::packet ? read_packet(stream, buffer, size, actual)
                                            : read_bytes(stream, buffer, size, actual);
    });
}

qv_status_t memstream_write(qv_iostream_t *iostream, const void *data, size_t size, size_t *actual)
{
    qvsim_memstream_t *stream = self(iostream);
    if (data == nullptr && size != 0)
        return QV_STATUS_INVALIDARGS;

    return guarded(stream, [&] {
        // The device sees the bytes at the current time, after whatever was
        // already due.
        run_due(stream);
        if (size != 0)
            stream->device->on_receive(stream->link, static_cast<const uint8_t *>(data), size);
        *actual = size;
        return QV_STATUS_SUCCESS;
    });
}

constexpr unsigned int SERIAL_IOCTL_NOP = QV_IOCTL(QV_IOCTL_DIR_WRITE, QV_IOCTL_TYPE_SERIAL, 0, 4);

qv_status_t memstream_ioctl(qv_iostream_t *iostream, unsigned int request, void *data, size_t size)
{
    qvsim_memstream_t *stream = self(iostream);
    if (stream->mode == Mode::serial && request == SERIAL_IOCTL_NOP)
        return QV_STATUS_SUCCESS;

    return guarded(stream, [&] { return stream->device->on_ioctl(stream->link, request, data, size); });
}

qv_status_t memstream_flush(qv_iostream_t *iostream)
{
    // Writes reach the device at once: nothing is ever left to transmit.
    return QV_STATUS_SUCCESS;
}

qv_status_t memstream_purge(qv_iostream_t *iostream, qv_direction_t direction)
{
    qvsim_memstream_t *stream = self(iostream);
    if (stream->mode == Mode::serial && (direction < QV_DIRECTION_INPUT || direction > QV_DIRECTION_ALL))
        return QV_STATUS_INVALIDARGS;

    return guarded(stream, [&] {
        run_due(stream);
        // Only what has arrived is dropped; the device's scheduled sends are
        // still on their way. A packet stream empties its queue whatever
        // the direction.
        if ((direction & QV_DIRECTION_INPUT) || stream->mode == Mode::packet) {
            stream->bytes.clear();
            stream->packets.clear();
        }
        return QV_STATUS_SUCCESS;
    });
}

qv_status_t memstream_sleep(qv_iostream_t *iostream, unsigned int milliseconds)
{
    qvsim_memstream_t *stream = self(iostream);
    return guarded(stream, [&] {
        run_until(stream, stream->clock->now() + milliseconds);
        return QV_STATUS_SUCCESS;
    });
}

qv_status_t memstream_close(qv_iostream_t *iostream)
{
    qvsim_memstream_t *stream = self(iostream);
    return guarded(stream, [&] {
        stream->pending.clear();
        stream->device->on_close(stream->link);
        return QV_STATUS_SUCCESS;
    });
}

const qv_iostream_vtable_t serial_vtable = {
    sizeof(qvsim_memstream_t),
    memstream_set_timeout,
    memstream_set_break,
    memstream_set_dtr,
    memstream_set_rts,
    memstream_get_lines,
    memstream_get_available,
    memstream_configure,
    memstream_poll,
    memstream_read,
    memstream_write,
    memstream_ioctl,
    memstream_flush,
    memstream_purge,
    memstream_sleep,
    memstream_close,
};

const qv_iostream_vtable_t socket_vtable = {
    sizeof(qvsim_memstream_t),
    memstream_set_timeout,
    nullptr, // set_break
    nullptr, // set_dtr
    nullptr, // set_rts
    nullptr, // get_lines
    memstream_get_available,
    nullptr, // configure
    memstream_poll,
    memstream_read,
    memstream_write,
    memstream_ioctl,
    nullptr, // flush
    nullptr, // purge
    memstream_sleep,
    memstream_close,
};

const qv_iostream_vtable_t packet_vtable = {
    sizeof(qvsim_memstream_t),
    memstream_set_timeout,
    nullptr, // set_break
    nullptr, // set_dtr
    nullptr, // set_rts
    nullptr, // get_lines
    memstream_get_available,
    nullptr, // configure
    memstream_poll,
    memstream_read,
    memstream_write,
    memstream_ioctl,
    nullptr, // flush
    memstream_purge,
    memstream_sleep,
    memstream_close,
};

bool is_memstream(qv_iostream_t *iostream)
{
    return qv_iostream_isinstance(iostream, &serial_vtable) || qv_iostream_isinstance(iostream, &socket_vtable) ||
           qv_iostream_isinstance(iostream, &packet_vtable);
}

} // namespace

qv_status_t qvsim_memstream_open(qv_iostream_t **out, qv_context_t *context, qvsim::Device &device,
                                 qvsim::Clock &clock, qv_transport_t transport)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;
    *out = nullptr;

    const qv_iostream_vtable_t *vtable = nullptr;
    Mode mode = Mode::serial;
    switch (transport) {
    case QV_TRANSPORT_SERIAL:
        vtable = &serial_vtable;
        mode = Mode::serial;
        break;
    case QV_TRANSPORT_IRDA:
    case QV_TRANSPORT_BLUETOOTH:
    case QV_TRANSPORT_USB:
        vtable = &socket_vtable;
        mode = Mode::socket;
        break;
    case QV_TRANSPORT_BLE:
    case QV_TRANSPORT_USBHID:
        vtable = &packet_vtable;
        mode = Mode::packet;
        break;
    default:
        return QV_STATUS_INVALIDARGS;
    }

    qvsim_memstream_t *stream = qv_iostream_allocate<qvsim_memstream_t>(context, vtable, transport);
    if (stream == nullptr)
        return QV_STATUS_NOMEMORY;

    stream->device = &device;
    stream->clock = &clock;
    stream->mode = mode;
    stream->link.stream = stream;

    qv_status_t status = guarded(stream, [&] {
        device.on_open(stream->link);
        return QV_STATUS_SUCCESS;
    });
    if (status != QV_STATUS_SUCCESS) {
        qv_iostream_deallocate(stream);
        return status;
    }

    *out = stream;
    return QV_STATUS_SUCCESS;
}

qvsim::Link *qvsim_memstream_link(qv_iostream_t *iostream)
{
    return is_memstream(iostream) ? &self(iostream)->link : nullptr;
}

int qvsim_memstream_timeout(qv_iostream_t *iostream)
{
    return is_memstream(iostream) ? self(iostream)->timeout : -1;
}
