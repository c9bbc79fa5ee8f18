// The Suunto Vyper family over its half-duplex serial cable: Spyder,
// Stinger, Mosquito, D3, Vyper, Vytec, Cobra, Gekko and Zoop.
#ifndef QV_SUUNTO_VYPER_H
#define QV_SUUNTO_VYPER_H

#include <libquivelmarine/context.h>
#include <libquivelmarine/device.h>
#include <libquivelmarine/iostream.h>

// Device memory: 8 KiB.
inline constexpr unsigned int SUUNTO_VYPER_MEMORY_SIZE = 0x2000;

// Largest payload of one memory read or write packet and of one dive packet.
inline constexpr unsigned int SUUNTO_VYPER_PACKET_SIZE = 32;

// The identification block that the download reads first: it covers the
// identification fields of both memory layouts.
inline constexpr unsigned int SUUNTO_VYPER_INFO_ADDRESS = 0x16;
inline constexpr unsigned int SUUNTO_VYPER_INFO_SIZE = 20;

// Vyper layout: model, firmware and 4-byte base-100 serial number.
inline constexpr unsigned int SUUNTO_VYPER_MODEL_ADDRESS = 0x24;
inline constexpr unsigned int SUUNTO_VYPER_FIRMWARE_ADDRESS = 0x25;
inline constexpr unsigned int SUUNTO_VYPER_SERIAL_ADDRESS = 0x26;

// Spyder layout: the same fields lower in memory; the byte at 0x24 holds
// the sample interval (20, 30 or 60 seconds), which tells a Spyder apart.
inline constexpr unsigned int SUUNTO_SPYDER_MODEL_ADDRESS = 0x16;
inline constexpr unsigned int SUUNTO_SPYDER_FIRMWARE_ADDRESS = 0x17;
inline constexpr unsigned int SUUNTO_SPYDER_SERIAL_ADDRESS = 0x18;
inline constexpr unsigned int SUUNTO_SPYDER_INTERVAL_ADDRESS = 0x24;

// Commands.
inline constexpr unsigned char SUUNTO_VYPER_CMD_READ = 0x05;
inline constexpr unsigned char SUUNTO_VYPER_CMD_WRITE = 0x06;
inline constexpr unsigned char SUUNTO_VYPER_CMD_PREPARE = 0x07;
inline constexpr unsigned char SUUNTO_VYPER_CMD_FIRST_DIVE = 0x08;
inline constexpr unsigned char SUUNTO_VYPER_CMD_NEXT_DIVE = 0x09;
inline constexpr unsigned char SUUNTO_VYPER_CMD_MAGIC = 0xA5; // second byte of prepare and dive commands

// True when the byte at 0x24 is one of the Spyder's sample intervals.
constexpr bool suunto_vyper_is_spyder(unsigned char byte_0x24)
{
    return byte_0x24 == 20 || byte_0x24 == 30 || byte_0x24 == 60;
}

// Opens a Vyper family device on stream: 2400 baud 8O1, 1000 ms timeout,
// DTR on (it powers the interface). QV_STATUS_INVALIDARGS without out;
// QV_STATUS_NOMEMORY; otherwise the stream's status of the failed step.
qv_status_t suunto_vyper_device_open(qv_device_t **out, qv_context_t *context, qv_iostream_t *stream);

#endif
