#include "suunto_vyper.h"

#include <libquivelmarine/buffer.h>
#include <libquivelmarine/checksum.h>

#include "array.h"
#include "context-private.h"
#include "device-private.h"
#include "suunto_common.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>

namespace {

// Address space of the read and write commands (16-bit addresses).
constexpr unsigned int ADDRESS_SPACE = 0x10000;

// The cable's half-duplex timing: quiet time before each command, and the
// time after it by which the echo has arrived (the device's answer takes
// about 600 ms, the echo about 40 ms).
constexpr unsigned int DELAY_BEFORE_COMMAND_MS = 500;
constexpr unsigned int DELAY_ECHO_MS = 200;

struct suunto_vyper_device_t : suunto_common_device_t {
    qv_iostream_t *iostream = nullptr; // not owned
};

qv_status_t suunto_vyper_device_read(qv_device_t *abstract, unsigned int address, unsigned char *data,
                                     size_t size);
qv_status_t suunto_vyper_device_write(qv_device_t *abstract, unsigned int address, const unsigned char *data,
                                      size_t size);
qv_status_t suunto_vyper_device_dump(qv_device_t *abstract, qv_buffer_t *buffer);
qv_status_t suunto_vyper_device_foreach(qv_device_t *abstract, qv_dive_callback_t callback, void *userdata);

const qv_device_vtable_t suunto_vyper_device_vtable = {
    sizeof(suunto_vyper_device_t),
    QV_FAMILY_SUUNTO_VYPER,
    suunto_common_device_set_fingerprint, // set_fingerprint
    suunto_vyper_device_read,             // read
    suunto_vyper_device_write,            // write
    suunto_vyper_device_dump,             // dump
    suunto_vyper_device_foreach,          // foreach
    nullptr,                              // timesync
    nullptr,                              // close
};

suunto_vyper_device_t *vyper(qv_device_t *abstract)
{
    return static_cast<suunto_vyper_device_t *>(abstract);
}

struct device_deleter {
    void operator()(qv_device_t *device) const { qv_device_deallocate(device); }
};

struct buffer_deleter {
    void operator()(qv_buffer_t *buffer) const { qv_buffer_free(buffer); }
};

// Model, firmware and serial number from the identification fields of
// either layout; info points at the device's address 0x16.
qv_event_devinfo_t identify(const unsigned char *info)
{
    auto at = [info](unsigned int address) { return info + (address - SUUNTO_VYPER_INFO_ADDRESS); };

    qv_event_devinfo_t devinfo = {};
    if (suunto_vyper_is_spyder(*at(SUUNTO_SPYDER_INTERVAL_ADDRESS))) {
        devinfo.model = *at(SUUNTO_SPYDER_MODEL_ADDRESS);
        devinfo.firmware = *at(SUUNTO_SPYDER_FIRMWARE_ADDRESS);
        devinfo.serial = qv_array_bin2dec(at(SUUNTO_SPYDER_SERIAL_ADDRESS), 4);
    } else {
        devinfo.model = *at(SUUNTO_VYPER_MODEL_ADDRESS);
        devinfo.firmware = *at(SUUNTO_VYPER_FIRMWARE_ADDRESS);
        devinfo.serial = qv_array_bin2dec(at(SUUNTO_VYPER_SERIAL_ADDRESS), 4);
    }
    return devinfo;
}

qv_status_t suunto_vyper_send(suunto_vyper_device_t *device, const unsigned char command[], size_t size);
qv_status_t suunto_vyper_transfer(suunto_vyper_device_t *device, const unsigned char command[], size_t csize,
                                  unsigned char answer[], size_t asize, size_t size);
qv_status_t suunto_vyper_read_dive(suunto_vyper_device_t *device, qv_buffer_t *buffer, bool init,
                                   qv_event_progress_t *progress);

} // namespace

qv_status_t suunto_vyper_device_open(qv_device_t **out, qv_context_t *context, qv_iostream_t *stream)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;
    *out = nullptr;

    std::unique_ptr<suunto_vyper_device_t, device_deleter> device(
        qv_device_allocate<suunto_vyper_device_t>(context, &suunto_vyper_device_vtable));
    if (device == nullptr)
        return QV_STATUS_NOMEMORY;

    suunto_common_device_init(device.get());
    device->iostream = stream;

    // 2400 baud, 8 data bits, odd parity, one stop bit.
    qv_status_t status = qv_iostream_configure(stream, 2400, 8, QV_PARITY_ODD, QV_STOPBITS_ONE, QV_FLOWCONTROL_NONE);
    if (status != QV_STATUS_SUCCESS) {
        QV_ERROR(context, "Failed to set the terminal attributes.");
        return status;
    }

    status = qv_iostream_set_timeout(stream, 1000);
    if (status != QV_STATUS_SUCCESS) {
        QV_ERROR(context, "Failed to set the timeout.");
        return status;
    }

    // DTR powers the interface.
    status = qv_iostream_set_dtr(stream, 1);
    if (status != QV_STATUS_SUCCESS) {
        QV_ERROR(context, "Failed to set the DTR line.");
        return status;
    }

    // Let the interface settle and drop whatever noise powering it produced.
    qv_iostream_sleep(stream, 100);
    qv_iostream_purge(stream, QV_DIRECTION_ALL);

    *out = device.release();
    return QV_STATUS_SUCCESS;
}

namespace {

qv_status_t suunto_vyper_device_read(qv_device_t *abstract, unsigned int address, unsigned char *data, size_t size)
{
    suunto_vyper_device_t *device = vyper(abstract);

    // The command carries a 16-bit address: a range beyond it cannot be
    // asked for (it would silently wrap to the start of memory).
    if (address > ADDRESS_SPACE || size > ADDRESS_SPACE - address) {
        QV_ERROR(abstract->context, "Invalid address range (0x%x, %zu bytes).", address, size);
        return QV_STATUS_INVALIDARGS;
    }

    size_t nbytes = 0;
    while (nbytes < size) {
        const unsigned int len = static_cast<unsigned int>(std::min<size_t>(size - nbytes, SUUNTO_VYPER_PACKET_SIZE));

        unsigned char command[5] = {SUUNTO_VYPER_CMD_READ, static_cast<unsigned char>((address >> 8) & 0xFF),
                                    static_cast<unsigned char>(address & 0xFF), static_cast<unsigned char>(len), 0};
        command[4] = qv_checksum_xor_u8(command, 4, 0x00);

        unsigned char answer[SUUNTO_VYPER_PACKET_SIZE + 5] = {};
        qv_status_t status = suunto_vyper_transfer(device, command, sizeof(command), answer, len + 5, len);
        if (status != QV_STATUS_SUCCESS)
            return status;

        std::memcpy(data + nbytes, answer + 4, len);

        nbytes += len;
        address += len;
    }

    return QV_STATUS_SUCCESS;
}

qv_status_t suunto_vyper_device_write(qv_device_t *abstract, unsigned int address, const unsigned char *data,
                                      size_t size)
{
    suunto_vyper_device_t *device = vyper(abstract);

    if (address > ADDRESS_SPACE || size > ADDRESS_SPACE - address) {
        QV_ERROR(abstract->context, "Invalid address range (0x%x, %zu bytes).", address, size);
        return QV_STATUS_INVALIDARGS;
    }

    size_t nbytes = 0;
    while (nbytes < size) {
        const unsigned int len = static_cast<unsigned int>(std::min<size_t>(size - nbytes, SUUNTO_VYPER_PACKET_SIZE));

        // Every write packet needs its own prepare exchange.
        const unsigned char prepare[3] = {SUUNTO_VYPER_CMD_PREPARE, SUUNTO_VYPER_CMD_MAGIC,
                                          SUUNTO_VYPER_CMD_PREPARE ^ SUUNTO_VYPER_CMD_MAGIC};
        unsigned char panswer[3] = {};
        qv_status_t status = suunto_vyper_transfer(device, prepare, sizeof(prepare), panswer, sizeof(panswer), 0);
        if (status != QV_STATUS_SUCCESS)
            return status;

        unsigned char command[SUUNTO_VYPER_PACKET_SIZE + 5] = {
            SUUNTO_VYPER_CMD_WRITE, static_cast<unsigned char>((address >> 8) & 0xFF),
            static_cast<unsigned char>(address & 0xFF), static_cast<unsigned char>(len)};
        std::memcpy(command + 4, data + nbytes, len);
        command[len + 4] = qv_checksum_xor_u8(command, len + 4, 0x00);

        unsigned char wanswer[5] = {};
        status = suunto_vyper_transfer(device, command, len + 5, wanswer, sizeof(wanswer), 0);
        if (status != QV_STATUS_SUCCESS)
            return status;

        nbytes += len;
        address += len;
    }

    return QV_STATUS_SUCCESS;
}

qv_status_t suunto_vyper_device_dump(qv_device_t *abstract, qv_buffer_t *buffer)
{
    if (!qv_buffer_resize(buffer, SUUNTO_VYPER_MEMORY_SIZE)) {
        QV_ERROR(abstract->context, "Insufficient buffer space available.");
        return QV_STATUS_NOMEMORY;
    }

    unsigned char *data = qv_buffer_get_data(buffer);
    qv_status_t status = qv_device_dump_read(abstract, 0, data, SUUNTO_VYPER_MEMORY_SIZE, SUUNTO_VYPER_PACKET_SIZE);
    if (status != QV_STATUS_SUCCESS)
        return status;

    qv_event_devinfo_t devinfo = identify(data + SUUNTO_VYPER_INFO_ADDRESS);
    qv_device_event(abstract, QV_EVENT_DEVINFO, &devinfo);

    return QV_STATUS_SUCCESS;
}

qv_status_t suunto_vyper_device_foreach(qv_device_t *abstract, qv_dive_callback_t callback, void *userdata)
{
    suunto_vyper_device_t *device = vyper(abstract);

    // The real total is known once the model is: until then the whole memory.
    qv_event_progress_t progress = {0, SUUNTO_VYPER_MEMORY_SIZE};
    qv_device_event(abstract, QV_EVENT_PROGRESS, &progress);

    unsigned char info[SUUNTO_VYPER_INFO_SIZE] = {};
    qv_status_t status = suunto_vyper_device_read(abstract, SUUNTO_VYPER_INFO_ADDRESS, info, sizeof(info));
    if (status != QV_STATUS_SUCCESS)
        return status;

    const bool spyder = suunto_vyper_is_spyder(info[SUUNTO_SPYDER_INTERVAL_ADDRESS - SUUNTO_VYPER_INFO_ADDRESS]);
    const suunto_common_layout_t &layout = spyder ? suunto_spyder_layout : suunto_vyper_layout;
    const unsigned int rb_size = layout.rb_end - layout.rb_begin;

    progress.maximum = rb_size + SUUNTO_VYPER_INFO_SIZE;
    progress.current += SUUNTO_VYPER_INFO_SIZE;
    qv_device_event(abstract, QV_EVENT_PROGRESS, &progress);

    qv_event_devinfo_t devinfo = identify(info);
    qv_device_event(abstract, QV_EVENT_DEVINFO, &devinfo);

    std::unique_ptr<qv_buffer_t, buffer_deleter> buffer(qv_buffer_new(rb_size));
    if (buffer == nullptr) {
        QV_ERROR(abstract->context, "Failed to allocate memory.");
        return QV_STATUS_NOMEMORY;
    }

    unsigned int remaining = rb_size;
    bool init = true;
    while ((status = suunto_vyper_read_dive(device, buffer.get(), init, &progress)) == QV_STATUS_SUCCESS) {
        const unsigned char *data = qv_buffer_get_data(buffer.get());
        const size_t size = qv_buffer_get_size(buffer.get());

        if (size > remaining) {
            QV_ERROR(abstract->context, "Unexpected number of bytes received.");
            return QV_STATUS_DATAFORMAT;
        }

        // The device ran out of dives.
        if (size == 0)
            return QV_STATUS_SUCCESS;

        // The fingerprint is cut from the dive itself: a dive too short to
        // hold it is not a record of this family.
        if (size < layout.fp_offset + SUUNTO_COMMON_FINGERPRINT_SIZE) {
            QV_ERROR(abstract->context, "Unexpected number of bytes received.");
            return QV_STATUS_DATAFORMAT;
        }

        const unsigned char *fingerprint = data + layout.fp_offset;
        if (std::memcmp(fingerprint, device->fingerprint.data(), SUUNTO_COMMON_FINGERPRINT_SIZE) == 0)
            return QV_STATUS_SUCCESS;

        if (!callback(data, static_cast<unsigned int>(size), fingerprint, SUUNTO_COMMON_FINGERPRINT_SIZE, userdata))
            return QV_STATUS_SUCCESS;

        remaining -= static_cast<unsigned int>(size);
        init = false;
    }

    return status;
}

// Sends one command over the half-duplex cable: RTS switches the interface
// to transmit while the command goes out; the echo of the command that many
// interfaces produce is dropped before the device's answer arrives.
qv_status_t suunto_vyper_send(suunto_vyper_device_t *device, const unsigned char command[], size_t size)
{
    qv_iostream_t *stream = device->iostream;

    qv_iostream_sleep(stream, DELAY_BEFORE_COMMAND_MS);

    qv_status_t status = qv_iostream_set_rts(stream, 1);
    if (status != QV_STATUS_SUCCESS) {
        QV_ERROR(device->context, "Failed to set RTS.");
        return status;
    }

    status = qv_iostream_write(stream, command, size, nullptr);
    if (status != QV_STATUS_SUCCESS) {
        QV_ERROR(device->context, "Failed to send the command.");
        return status;
    }

    qv_iostream_sleep(stream, DELAY_ECHO_MS);
    qv_iostream_purge(stream, QV_DIRECTION_INPUT);

    status = qv_iostream_set_rts(stream, 0);
    if (status != QV_STATUS_SUCCESS) {
        QV_ERROR(device->context, "Failed to clear RTS.");
        return status;
    }

    return QV_STATUS_SUCCESS;
}

// One command and its fixed-size answer: the answer starts with the first
// asize - size - 1 bytes of the command, carries size payload bytes and ends
// with the XOR of all its preceding bytes.
qv_status_t suunto_vyper_transfer(suunto_vyper_device_t *device, const unsigned char command[], size_t csize,
                                  unsigned char answer[], size_t asize, size_t size)
{
    assert(asize >= size + 2);
    assert(asize - size - 1 <= csize);

    if (qv_device_is_cancelled(device))
        return QV_STATUS_CANCELLED;

    qv_status_t status = suunto_vyper_send(device, command, csize);
    if (status != QV_STATUS_SUCCESS) {
        QV_ERROR(device->context, "Failed to send the command.");
        return status;
    }

    status = qv_iostream_read(device->iostream, answer, asize, nullptr);
    if (status != QV_STATUS_SUCCESS) {
        QV_ERROR(device->context, "Failed to receive the answer.");
        return status;
    }

    if (std::memcmp(command, answer, asize - size - 1) != 0) {
        QV_ERROR(device->context, "Unexpected answer start byte(s).");
        return QV_STATUS_PROTOCOL;
    }

    unsigned char crc = answer[asize - 1];
    unsigned char ccrc = qv_checksum_xor_u8(answer, asize - 1, 0x00);
    if (crc != ccrc) {
        QV_ERROR(device->context, "Unexpected answer checksum.");
        return QV_STATUS_PROTOCOL;
    }

    return QV_STATUS_SUCCESS;
}

// Reads the next dive (the newest one when init is set) into buffer. The
// device sends the dive's bytes backwards in packets and then falls silent;
// a packet without payload means that it met the end of its ring buffer
// inside the dive, which leaves buffer empty.
qv_status_t suunto_vyper_read_dive(suunto_vyper_device_t *device, qv_buffer_t *buffer, bool init,
                                   qv_event_progress_t *progress)
{
    if (qv_device_is_cancelled(device))
        return QV_STATUS_CANCELLED;

    if (!qv_buffer_clear(buffer)) {
        QV_ERROR(device->context, "Insufficient buffer space available.");
        return QV_STATUS_NOMEMORY;
    }

    const unsigned char cmd = init ? SUUNTO_VYPER_CMD_FIRST_DIVE : SUUNTO_VYPER_CMD_NEXT_DIVE;
    const unsigned char command[3] = {cmd, SUUNTO_VYPER_CMD_MAGIC,
                                      static_cast<unsigned char>(cmd ^ SUUNTO_VYPER_CMD_MAGIC)};
    qv_status_t status = suunto_vyper_send(device, command, sizeof(command));
    if (status != QV_STATUS_SUCCESS) {
        QV_ERROR(device->context, "Failed to send the command.");
        return status;
    }

    size_t nbytes = 0;
    for (unsigned int npackages = 0;; ++npackages) {
        // Packet: the command byte, the payload length, the payload and the
        // XOR of all of them.
        unsigned char answer[SUUNTO_VYPER_PACKET_SIZE + 3] = {};

        size_t n = 0;
        status = qv_iostream_read(device->iostream, answer, 2, &n);
        if (status != QV_STATUS_SUCCESS) {
            // Silence after at least one packet is the end of the dive.
            if (n == 0 && npackages != 0)
                break;
            QV_ERROR(device->context, "Failed to receive the answer.");
            return status;
        }

        if (answer[0] != cmd || answer[1] > SUUNTO_VYPER_PACKET_SIZE) {
            QV_ERROR(device->context, "Unexpected answer start byte(s).");
            return QV_STATUS_PROTOCOL;
        }

        const unsigned int len = answer[1];
        status = qv_iostream_read(device->iostream, answer + 2, len + 1, nullptr);
        if (status != QV_STATUS_SUCCESS) {
            QV_ERROR(device->context, "Failed to receive the answer.");
            return status;
        }

        unsigned char crc = answer[len + 2];
        unsigned char ccrc = qv_checksum_xor_u8(answer, len + 2, 0x00);
        if (crc != ccrc) {
            QV_ERROR(device->context, "Unexpected answer checksum.");
            return QV_STATUS_PROTOCOL;
        }

        // The ring buffer ended inside this dive: it was overwritten.
        if (len == 0) {
            qv_buffer_clear(buffer);
            return QV_STATUS_SUCCESS;
        }

        if (progress != nullptr) {
            progress->current = std::min(progress->current + len, progress->maximum);
            qv_device_event(device, QV_EVENT_PROGRESS, progress);
        }

        // An append that fails is noticed after the loop, so that the rest
        // of the dive is still read from the line.
        qv_buffer_append(buffer, answer + 2, len);
        nbytes += len;
    }

    if (qv_buffer_get_size(buffer) != nbytes) {
        QV_ERROR(device->context, "Insufficient buffer space available.");
        return QV_STATUS_NOMEMORY;
    }

    qv_array_reverse_bytes(qv_buffer_get_data(buffer), qv_buffer_get_size(buffer));

    return QV_STATUS_SUCCESS;
}

} // namespace
