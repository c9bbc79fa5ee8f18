#include "suunto_vyper.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace qvsim {

namespace {

constexpr uint8_t CMD_READ = 0x05;
constexpr uint8_t CMD_WRITE = 0x06;
constexpr uint8_t CMD_PREPARE = 0x07;
constexpr uint8_t CMD_FIRST_DIVE = 0x08;
constexpr uint8_t CMD_NEXT_DIVE = 0x09;
constexpr uint8_t MAGIC = 0xA5;

constexpr uint8_t END_OF_DIVE = 0x80;
constexpr uint8_t END_OF_PROFILE = 0x82;

constexpr size_t PACKET_SIZE = 32;

uint8_t xor_of(const uint8_t *data, size_t size)
{
    uint8_t x = 0;
    for (size_t i = 0; i < size; ++i)
        x ^= data[i];
    return x;
}

// Ring arithmetic on [begin, end).
unsigned int ring_dec(unsigned int a, unsigned int delta, unsigned int begin, unsigned int end)
{
    const unsigned int len = end - begin;
    return begin + (a - begin + len - delta % len) % len;
}

unsigned int ring_inc(unsigned int a, unsigned int delta, unsigned int begin, unsigned int end)
{
    const unsigned int len = end - begin;
    return begin + (a - begin + delta % len) % len;
}

// One dive packet: the command byte, the length, the payload, the XOR.
std::vector<uint8_t> dive_packet(uint8_t cmd, const uint8_t *payload, size_t size)
{
    std::vector<uint8_t> packet = {cmd, static_cast<uint8_t>(size)};
    packet.insert(packet.end(), payload, payload + size);
    packet.push_back(xor_of(packet.data(), packet.size()));
    return packet;
}

} // namespace

SuuntoVyper::RingLayout SuuntoVyper::layout_of(Layout layout)
{
    if (layout == Layout::spyder)
        return {0x1C, 0x4C, 0x2000, 3};
    return {0x51, 0x71, 0x2000, 5};
}

SuuntoVyper::RingLayout SuuntoVyper::current_layout() const
{
    const uint8_t b = memory_[0x24];
    return layout_of(b == 20 || b == 30 || b == 60 ? Layout::spyder : Layout::vyper);
}

std::vector<uint8_t> SuuntoVyper::build_image(const Identity &identity, const std::vector<std::vector<uint8_t>> &dives,
                                              unsigned int start)
{
    const RingLayout ring = layout_of(identity.layout);
    if (start == 0)
        start = ring.begin;
    if (start < ring.begin || start >= ring.end)
        throw std::invalid_argument("dive start outside the profile ring");

    std::vector<uint8_t> memory(MEMORY_SIZE, 0x00);

    // Identification: model, firmware and the serial number as base-100 digits.
    const uint8_t serial[4] = {
        static_cast<uint8_t>(identity.serial / 1000000 % 100), static_cast<uint8_t>(identity.serial / 10000 % 100),
        static_cast<uint8_t>(identity.serial / 100 % 100), static_cast<uint8_t>(identity.serial % 100)};
    if (identity.layout == Layout::spyder) {
        memory[0x16] = identity.model;
        memory[0x17] = identity.firmware;
        std::copy(serial, serial + 4, memory.begin() + 0x18);
        memory[0x24] = identity.interval;
    } else {
        memory[0x24] = identity.model;
        memory[0x25] = identity.firmware;
        std::copy(serial, serial + 4, memory.begin() + 0x26);
    }

    std::fill(memory.begin() + ring.begin, memory.begin() + ring.end, END_OF_PROFILE);

    for (const auto &dive : dives) {
        if (dive.size() < ring.lookback || dive[dive.size() - ring.lookback] != END_OF_DIVE)
            throw std::invalid_argument("dive record without its end-of-dive marker and trailer");
    }

    // What is left of an older dive: its end marker and trailer.
    if (!dives.empty()) {
        unsigned int p = ring_dec(start, ring.lookback, ring.begin, ring.end);
        memory[p] = END_OF_DIVE;
        for (unsigned int i = 1; i < ring.lookback; ++i)
            memory[ring_inc(p, i, ring.begin, ring.end)] = 0x00;
    }

    unsigned int pos = start;
    for (const auto &dive : dives) {
        for (uint8_t byte : dive) {
            memory[pos] = byte;
            pos = ring_inc(pos, 1, ring.begin, ring.end);
        }
    }
    memory[pos] = END_OF_PROFILE;
    memory[ring.pointer] = static_cast<uint8_t>(pos >> 8);
    memory[ring.pointer + 1] = static_cast<uint8_t>(pos & 0xFF);

    return memory;
}

SuuntoVyper::SuuntoVyper(std::vector<uint8_t> memory) : memory_(std::move(memory))
{
    if (memory_.size() != MEMORY_SIZE)
        throw std::invalid_argument("the memory image must hold 8192 bytes");
}

SuuntoVyper::SuuntoVyper(const Identity &identity, const std::vector<std::vector<uint8_t>> &dives, unsigned int start)
    : SuuntoVyper(build_image(identity, dives, start))
{
}

void SuuntoVyper::inject(const FaultPlan &plan)
{
    faults_.push_back(plan);
}

bool SuuntoVyper::line_ok(const Link &link) const
{
    const LineSettings settings = link.settings();
    return link.lines().dtr && settings.baudrate == 2400 && settings.databits == 8 &&
           settings.parity == QV_PARITY_ODD && settings.stopbits == QV_STOPBITS_ONE &&
           settings.flowcontrol == QV_FLOWCONTROL_NONE;
}

void SuuntoVyper::on_receive(Link &link, const uint8_t *data, size_t size)
{
    // Without power (or at the wrong line settings) nothing gets through,
    // not even the echo.
    if (strict_ && !line_ok(link))
        return;

    // The cable echoes whatever the host sends.
    link.send(data, size);

    input_.insert(input_.end(), data, data + size);
    while (!input_.empty()) {
        size_t need = 0;
        switch (input_[0]) {
        case CMD_READ:
            need = 5;
            break;
        case CMD_WRITE:
            if (input_.size() < 4)
                return;
            need = 5 + static_cast<size_t>(input_[3]);
            break;
        case CMD_PREPARE:
        case CMD_FIRST_DIVE:
        case CMD_NEXT_DIVE:
            need = 3;
            break;
        default:
            // Not the start of a command: skip it.
            input_.erase(input_.begin());
            continue;
        }
        if (input_.size() < need)
            return;

        std::vector<uint8_t> command(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(need));
        input_.erase(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(need));
        handle(link, command);
    }
}

std::optional<SuuntoVyper::FaultPlan> SuuntoVyper::take_fault(uint8_t cmd)
{
    const unsigned int occurrence = counts_[cmd]++;
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->command == cmd && it->occurrence == occurrence) {
            FaultPlan plan = *it;
            faults_.erase(it);
            return plan;
        }
    }
    return std::nullopt;
}

void SuuntoVyper::handle(Link &link, const std::vector<uint8_t> &command)
{
    // A garbled command is ignored.
    if (xor_of(command.data(), command.size() - 1) != command.back())
        return;

    commands_.push_back({command, link.lines(), link.now()});
    const uint8_t cmd = command[0];
    std::optional<FaultPlan> fault = take_fault(cmd);

    switch (cmd) {
    case CMD_READ: {
        prepared_ = false;
        const unsigned int address = static_cast<unsigned int>(command[1]) << 8 | command[2];
        const unsigned int len = command[3];
        std::vector<uint8_t> reply(command.begin(), command.begin() + 4);
        for (unsigned int i = 0; i < len; ++i)
            reply.push_back(memory_[(address + i) % MEMORY_SIZE]);
        reply.push_back(xor_of(reply.data(), reply.size()));
        answer(link, std::move(reply), fault);
        break;
    }
    case CMD_PREPARE:
        if (command[1] != MAGIC)
            return;
        prepared_ = true;
        answer(link, command, fault);
        break;
    case CMD_WRITE: {
        // A write is refused without its prepare exchange.
        if (!prepared_)
            return;
        prepared_ = false;
        const unsigned int address = static_cast<unsigned int>(command[1]) << 8 | command[2];
        const unsigned int len = command[3];
        Write write = {address, std::vector<uint8_t>(command.begin() + 4, command.begin() + 4 + len)};
        for (unsigned int i = 0; i < len; ++i)
            memory_[(address + i) % MEMORY_SIZE] = write.data[i];
        writes_.push_back(std::move(write));
        std::vector<uint8_t> reply(command.begin(), command.begin() + 4);
        reply.push_back(xor_of(reply.data(), reply.size()));
        answer(link, std::move(reply), fault);
        break;
    }
    case CMD_FIRST_DIVE:
    case CMD_NEXT_DIVE:
        prepared_ = false;
        if (command[1] != MAGIC)
            return;
        answer_dive(link, cmd, fault);
        break;
    default:
        break;
    }
}

void SuuntoVyper::answer(Link &link, std::vector<uint8_t> reply, const std::optional<FaultPlan> &fault)
{
    if (fault) {
        switch (fault->fault) {
        case Fault::bad_checksum:
            reply.back() ^= 0xFF;
            break;
        case Fault::silence:
            return;
        case Fault::overlong_packet: {
            // One byte too many, chosen so that the byte where the checksum
            // should be is never the checksum.
            uint8_t extra = static_cast<uint8_t>(~xor_of(reply.data(), reply.size() - 1));
            reply.insert(reply.end() - 1, extra);
            reply.back() = xor_of(reply.data(), reply.size() - 1);
            break;
        }
        case Fault::dropped_byte:
            reply.erase(reply.begin() + static_cast<ptrdiff_t>(std::min<size_t>(2, reply.size() - 1)));
            break;
        case Fault::wrong_start:
            reply[0] ^= 0x01;
            break;
        case Fault::runaway:
            break;
        }
    }
    deliver(link, {std::move(reply)});
}

void SuuntoVyper::answer_dive(Link &link, uint8_t cmd, const std::optional<FaultPlan> &fault)
{
    const RingLayout ring = current_layout();
    const unsigned int eop = static_cast<unsigned int>(memory_[ring.pointer]) << 8 | memory_[ring.pointer + 1];
    const bool valid = eop >= ring.begin && eop < ring.end && memory_[eop] == END_OF_PROFILE;
    const unsigned int from = cmd == CMD_FIRST_DIVE || !walk_ ? eop : *walk_;

    // The dive's bytes, newest (last) byte first.
    std::vector<uint8_t> bytes;
    bool ended = true;

    if (fault && fault->fault == Fault::runaway) {
        // A confused device streams ring bytes regardless of the dive
        // boundaries, then falls silent.
        unsigned int p = valid ? from : ring.begin;
        for (size_t i = 0; i < fault->size; ++i) {
            p = ring_dec(p, 1, ring.begin, ring.end);
            bytes.push_back(memory_[p]);
        }
        ended = false;
    } else if (valid) {
        unsigned int p = from;
        for (unsigned int i = 0; i < ring.end - ring.begin; ++i) {
            p = ring_dec(p, 1, ring.begin, ring.end);
            if (memory_[p] == END_OF_PROFILE)
                break; // the profile data ends inside this dive
            bytes.push_back(memory_[p]);
            if (memory_[ring_dec(p, ring.lookback, ring.begin, ring.end)] == END_OF_DIVE) {
                walk_ = p; // the dive starts here
                ended = false;
                break;
            }
        }
        if (cmd == CMD_FIRST_DIVE && ended)
            walk_ = from;
    }

    // The device sends a packet whenever 32 bytes are gathered and the rest
    // at the dive's start; when the walk ends inside a dive, the bytes of the
    // unfinished packet are dropped and an empty packet follows.
    std::vector<std::vector<uint8_t>> packets;
    size_t offset = 0;
    while (offset < bytes.size()) {
        size_t len = std::min(PACKET_SIZE, bytes.size() - offset);
        if (ended && len < PACKET_SIZE)
            break;
        packets.push_back(dive_packet(cmd, bytes.data() + offset, len));
        offset += len;
    }
    if (ended)
        packets.push_back(dive_packet(cmd, nullptr, 0));

    if (fault && fault->fault != Fault::runaway && !packets.empty()) {
        const size_t k = std::min<size_t>(fault->packet, packets.size() - 1);
        std::vector<uint8_t> &packet = packets[k];
        switch (fault->fault) {
        case Fault::bad_checksum:
            packet.back() ^= 0xFF;
            break;
        case Fault::silence:
            packets.resize(std::min<size_t>(fault->packet, packets.size()));
            break;
        case Fault::overlong_packet: {
            // A length above 32, with a payload and checksum to match.
            std::vector<uint8_t> payload(packet.begin() + 2, packet.end() - 1);
            payload.resize(PACKET_SIZE + 1, 0x00);
            packet = dive_packet(cmd, payload.data(), payload.size());
            break;
        }
        case Fault::dropped_byte:
            packet.erase(packet.begin() + static_cast<ptrdiff_t>(std::min<size_t>(2, packet.size() - 1)));
            break;
        case Fault::wrong_start:
            packet[0] ^= 0x01;
            break;
        case Fault::runaway:
            break;
        }
    }

    deliver(link, std::move(packets));
}

void SuuntoVyper::deliver(Link &link, std::vector<std::vector<uint8_t>> packets)
{
    if (packets.empty())
        return;
    link.call_after(reply_delay_ms_, [this, packets = std::move(packets)](Link &l) {
        // While the host still transmits (RTS), the answer is lost.
        if (strict_ && l.lines().rts)
            return;
        for (const auto &packet : packets)
            l.send(packet);
    });
}

} // namespace qvsim
