// The simulated Suunto Vyper family (Vyper, Vytec, Cobra, ... and the
// Spyder) behind its half-duplex cable.
//
// The device holds an 8 KiB memory image and answers:
//   0x05 hi lo len xor            memory read: 0x05 hi lo len, len bytes, xor
//   0x07 0xA5 0xA2                write prepare: 0x07 0xA5 0xA2
//   0x06 hi lo len data... xor    memory write (only right after a prepare):
//                                 0x06 hi lo len xor
//   0x08 0xA5 0xAD / 0x09 0xA5 0xAC
//                                 the newest / next older dive: the dive's
//                                 bytes walked backwards through the profile
//                                 ring, in packets "cmd len payload xor" of
//                                 at most 32 payload bytes, then silence (the
//                                 end of a dive); a packet of length 0 when
//                                 the walk met the end of the profile data
//                                 inside a dive (no dive left).
// Every byte the host sends comes back at once as the cable's echo; answers
// follow after the reply delay (600 ms by default), well after the host has
// dropped the echo. Commands with a bad checksum are ignored.
//
// The profile ring (Vyper 0x71-0x1FFF, Spyder 0x4C-0x1FFF) holds the dive
// records one after the other; each record ends with its end-of-dive marker
// 0x80 and trailer (4 bytes on the Vyper, 2 on the Spyder), so a dive starts
// where the byte 5 (Spyder: 3) positions earlier is 0x80. The newest dive is
// followed by the end-of-profile byte 0x82, whose address the end-of-profile
// pointer (Vyper 0x51, Spyder 0x1C, big-endian) holds. Which layout the
// device walks is decided like the host does: the byte at 0x24 is the
// Spyder's sample interval (20, 30 or 60), or else a Vyper model code.
#ifndef QVSIM_SUUNTO_VYPER_H
#define QVSIM_SUUNTO_VYPER_H

#include "device.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qvsim {

class SuuntoVyper : public Device {
public:
    static constexpr size_t MEMORY_SIZE = 0x2000;
    static constexpr uint64_t DEFAULT_REPLY_DELAY_MS = 600;

    enum class Layout { vyper, spyder };

    // What the information block says about the device.
    struct Identity {
        Layout layout = Layout::vyper;
        uint8_t model = 0x0A;       // Vyper 0x0A, Vytec 0x0B, Cobra 0x0C, ...; Spyder 0x01
        uint8_t firmware = 0x1F;
        uint32_t serial = 12345678; // eight decimal digits, stored as four base-100 digits
        uint8_t interval = 20;      // Spyder only: sample interval (20, 30 or 60) at 0x24
    };

    // Answers that go wrong. Each planned fault hits the answer to one
    // command: the occurrence-th (from 0) command with the given first byte.
    enum class Fault {
        bad_checksum,    // the last byte of the answer (or of the packet) is wrong
        silence,         // no answer at all (dives: nothing from that packet on)
        overlong_packet, // dives: the packet claims 33 bytes and carries them;
                         // fixed answers: one byte too many before the checksum
        dropped_byte,    // one byte of the answer (the packet) goes missing
        wrong_start,     // the answer (packet) starts with a wrong byte
        runaway,         // dives only: size ring bytes are streamed backwards
                         // regardless of dive boundaries, then silence
    };

    struct FaultPlan {
        Fault fault = Fault::bad_checksum;
        uint8_t command = 0x05;      // first byte of the command whose answer is spoiled
        unsigned int occurrence = 0; // which such command (0: the first)
        unsigned int packet = 0;     // dive answers: the packet hit
        size_t size = 0;             // runaway: bytes streamed
    };

    // One complete command the device received.
    struct Command {
        std::vector<uint8_t> bytes;
        Lines lines;      // the host's DTR/RTS when it arrived
        uint64_t time_ms; // link time when it arrived
    };

    // One memory write the device carried out.
    struct Write {
        unsigned int address;
        std::vector<uint8_t> data;
    };

    // The memory image of a device that logged the dives (oldest first; each
    // a whole record in forward order, ending with its end-of-dive marker and
    // trailer). The oldest dive starts at start (0: the ring's first
    // address); dives wrap around the ring's end, and when they do not fit
    // the oldest ones are overwritten, as on the real device. The rest of
    // the ring holds 0x82 bytes; the bytes just before the oldest dive are
    // the end of an older, overwritten dive (0x80 and its trailer), so that
    // the oldest dive can be told from the free space.
    // Throws std::invalid_argument for a record that does not end with the
    // marker and trailer of the layout or a start outside the ring.
    static std::vector<uint8_t> build_image(const Identity &identity, const std::vector<std::vector<uint8_t>> &dives,
                                            unsigned int start = 0);

    // A device with the given memory image (8192 bytes, else
    // std::invalid_argument).
    explicit SuuntoVyper(std::vector<uint8_t> memory);

    // A device that logged the dives (see build_image).
    SuuntoVyper(const Identity &identity, const std::vector<std::vector<uint8_t>> &dives, unsigned int start = 0);

    // Plans a fault (several may be planned; each hits once).
    void inject(const FaultPlan &plan);

    // Strict line discipline (for memory streams only, a pseudo-terminal
    // carries no modem lines): the cable only works while DTR powers it and
    // the line is 2400 baud, 8 data bits, odd parity, one stop bit; and an
    // answer is lost when the host still holds RTS (transmit) when it goes
    // out. Off by default.
    void set_strict(bool strict) { strict_ = strict; }

    // Delay between a command and its answer.
    void set_reply_delay(uint64_t ms) { reply_delay_ms_ = ms; }

    const std::vector<uint8_t> &memory() const { return memory_; }
    const std::vector<Command> &commands() const { return commands_; }
    const std::vector<Write> &writes() const { return writes_; }

    // Device
    void on_receive(Link &link, const uint8_t *data, size_t size) override;

private:
    struct RingLayout {
        unsigned int pointer, begin, end, lookback;
    };
    static RingLayout layout_of(Layout layout);
    RingLayout current_layout() const;

    bool line_ok(const Link &link) const;
    void handle(Link &link, const std::vector<uint8_t> &command);
    void answer(Link &link, std::vector<uint8_t> answer, const std::optional<FaultPlan> &fault);
    void answer_dive(Link &link, uint8_t cmd, const std::optional<FaultPlan> &fault);
    std::optional<FaultPlan> take_fault(uint8_t cmd);
    void deliver(Link &link, std::vector<std::vector<uint8_t>> packets);

    std::vector<uint8_t> memory_;
    std::vector<uint8_t> input_;
    std::vector<Command> commands_;
    std::vector<Write> writes_;
    std::vector<FaultPlan> faults_;
    std::vector<unsigned int> counts_ = std::vector<unsigned int>(256); // commands seen, by first byte
    bool prepared_ = false;
    std::optional<unsigned int> walk_; // where the last dive delivered starts
    bool strict_ = false;
    uint64_t reply_delay_ms_ = DEFAULT_REPLY_DELAY_MS;
};

} // namespace qvsim

#endif
