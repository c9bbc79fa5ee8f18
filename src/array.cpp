#include "array.h"

#include <algorithm>
#include <bit>
#include <cstring>

static_assert(sizeof(unsigned int) == 4, "32-bit unsigned int expected");

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// Value of one hexadecimal digit, or -1.
int hex_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

unsigned char reverse_bits(unsigned char byte)
{
    byte = static_cast<unsigned char>(((byte & 0xF0) >> 4) | ((byte & 0x0F) << 4));
    byte = static_cast<unsigned char>(((byte & 0xCC) >> 2) | ((byte & 0x33) << 2));
    byte = static_cast<unsigned char>(((byte & 0xAA) >> 1) | ((byte & 0x55) << 1));
    return byte;
}

} // namespace

extern "C" {

void qv_array_reverse_bytes(unsigned char data[], size_t size)
{
    if (size > 1)
        std::reverse(data, data + size);
}

void qv_array_reverse_bits(unsigned char data[], size_t size)
{
    for (size_t i = 0; i < size; ++i)
        data[i] = reverse_bits(data[i]);
}

void qv_array_swap_nibbles(unsigned char data[], size_t size)
{
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<unsigned char>((data[i] >> 4) | (data[i] << 4));
}

int qv_array_isequal(const unsigned char data[], size_t size, unsigned char value)
{
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != value)
            return 0;
    }
    return 1;
}

const unsigned char *qv_array_search_forward(const unsigned char data[], size_t size,
                                             const unsigned char pattern[], size_t pattern_size)
{
    if (data == nullptr || pattern == nullptr || pattern_size == 0 || size < pattern_size)
        return nullptr;

    for (size_t i = 0; i <= size - pattern_size; ++i) {
        if (std::memcmp(data + i, pattern, pattern_size) == 0)
            return data + i;
    }
    return nullptr;
}

const unsigned char *qv_array_search_backward(const unsigned char data[], size_t size,
                                              const unsigned char pattern[], size_t pattern_size)
{
    if (data == nullptr || pattern == nullptr || pattern_size == 0 || size < pattern_size)
        return nullptr;

    // end is the position just past the candidate occurrence.
    for (size_t end = size; end >= pattern_size; --end) {
        if (std::memcmp(data + end - pattern_size, pattern, pattern_size) == 0)
            return data + end;
    }
    return nullptr;
}

int qv_array_bin2hex(const unsigned char data[], size_t size, unsigned char out[], size_t outsize)
{
    if (size > SIZE_MAX / 2 || outsize != 2 * size)
        return -1;

    for (size_t i = 0; i < size; ++i) {
        out[2 * i] = static_cast<unsigned char>(HEX_DIGITS[data[i] >> 4]);
        out[2 * i + 1] = static_cast<unsigned char>(HEX_DIGITS[data[i] & 0x0F]);
    }
    return 0;
}

int qv_array_hex2bin(const unsigned char text[], size_t textsize, unsigned char out[], size_t outsize)
{
    if (outsize > SIZE_MAX / 2 || textsize != 2 * outsize)
        return -1;

    for (size_t i = 0; i < outsize; ++i) {
        int high = hex_value(text[2 * i]);
        int low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return -1;
        out[i] = static_cast<unsigned char>((high << 4) | low);
    }
    return 0;
}

unsigned int qv_array_str2num(const unsigned char data[], size_t size)
{
    unsigned int value = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] < '0' || data[i] > '9')
            break;
        value = value * 10 + (data[i] - '0');
    }
    return value;
}

unsigned int qv_array_bin2dec(const unsigned char data[], size_t size)
{
    unsigned int value = 0;
    for (size_t i = 0; i < size; ++i)
        value = value * 100 + data[i];
    return value;
}

unsigned int qv_array_bcd2dec(const unsigned char data[], size_t size)
{
    unsigned int value = 0;
    for (size_t i = 0; i < size; ++i)
        value = value * 100 + qv_bcd2dec(data[i]);
    return value;
}

unsigned int qv_array_uint_be(const unsigned char data[], size_t size)
{
    unsigned int value = 0;
    for (size_t i = 0; i < size; ++i)
        value = (value << 8) | data[i];
    return value;
}

unsigned int qv_array_uint_le(const unsigned char data[], size_t size)
{
    // Only the four least significant bytes contribute to a 32-bit result.
    size_t n = std::min<size_t>(size, 4);
    unsigned int value = 0;
    for (size_t i = n; i > 0; --i)
        value = (value << 8) | data[i - 1];
    return value;
}

uint64_t qv_array_uint64_be(const unsigned char data[])
{
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i)
        value = (value << 8) | data[i];
    return value;
}

uint64_t qv_array_uint64_le(const unsigned char data[])
{
    uint64_t value = 0;
    for (size_t i = 8; i > 0; --i)
        value = (value << 8) | data[i - 1];
    return value;
}

unsigned int qv_array_uint32_be(const unsigned char data[])
{
    return qv_array_uint_be(data, 4);
}

unsigned int qv_array_uint32_le(const unsigned char data[])
{
    return qv_array_uint_le(data, 4);
}

unsigned int qv_array_uint24_be(const unsigned char data[])
{
    return qv_array_uint_be(data, 3);
}

unsigned int qv_array_uint24_le(const unsigned char data[])
{
    return qv_array_uint_le(data, 3);
}

unsigned int qv_array_uint16_be(const unsigned char data[])
{
    return qv_array_uint_be(data, 2);
}

unsigned int qv_array_uint16_le(const unsigned char data[])
{
    return qv_array_uint_le(data, 2);
}

unsigned int qv_array_uint32_word_be(const unsigned char data[])
{
    return (qv_array_uint16_be(data + 2) << 16) | qv_array_uint16_be(data);
}

float qv_array_float_le(const unsigned char data[])
{
    static_assert(sizeof(float) == sizeof(uint32_t));
    return std::bit_cast<float>(static_cast<uint32_t>(qv_array_uint32_le(data)));
}

void qv_array_uint64_be_set(unsigned char data[], uint64_t value)
{
    for (size_t i = 8; i > 0; --i) {
        data[i - 1] = static_cast<unsigned char>(value & 0xFF);
        value >>= 8;
    }
}

void qv_array_uint64_le_set(unsigned char data[], uint64_t value)
{
    for (size_t i = 0; i < 8; ++i) {
        data[i] = static_cast<unsigned char>(value & 0xFF);
        value >>= 8;
    }
}

void qv_array_uint32_be_set(unsigned char data[], unsigned int value)
{
    data[0] = static_cast<unsigned char>((value >> 24) & 0xFF);
    data[1] = static_cast<unsigned char>((value >> 16) & 0xFF);
    data[2] = static_cast<unsigned char>((value >> 8) & 0xFF);
    data[3] = static_cast<unsigned char>(value & 0xFF);
}

void qv_array_uint32_le_set(unsigned char data[], unsigned int value)
{
    data[0] = static_cast<unsigned char>(value & 0xFF);
    data[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
    data[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
    data[3] = static_cast<unsigned char>((value >> 24) & 0xFF);
}

void qv_array_uint24_be_set(unsigned char data[], unsigned int value)
{
    data[0] = static_cast<unsigned char>((value >> 16) & 0xFF);
    data[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
    data[2] = static_cast<unsigned char>(value & 0xFF);
}

void qv_array_uint24_le_set(unsigned char data[], unsigned int value)
{
    data[0] = static_cast<unsigned char>(value & 0xFF);
    data[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
    data[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
}

void qv_array_uint16_be_set(unsigned char data[], unsigned int value)
{
    data[0] = static_cast<unsigned char>((value >> 8) & 0xFF);
    data[1] = static_cast<unsigned char>(value & 0xFF);
}

void qv_array_uint16_le_set(unsigned char data[], unsigned int value)
{
    data[0] = static_cast<unsigned char>(value & 0xFF);
    data[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

unsigned int qv_bcd2dec(unsigned char value)
{
    return static_cast<unsigned int>((value >> 4) * 10 + (value & 0x0F));
}

unsigned char qv_dec2bcd(unsigned int value)
{
    if (value >= 100)
        return 0;
    return static_cast<unsigned char>(((value / 10) << 4) | (value % 10));
}

int qv_signextend(unsigned int value, unsigned int nbits)
{
    if (nbits == 0 || nbits > 32)
        return 0;
    if (nbits == 32)
        return static_cast<int>(value);

    unsigned int mask = (1u << nbits) - 1;
    unsigned int signbit = 1u << (nbits - 1);
    if (value & signbit)
        value |= ~mask;
    else
        value &= mask;
    // Conversion to int is modular: the set high bits make it negative.
    return static_cast<int>(value);
}

unsigned int qv_popcount(unsigned int value)
{
    return static_cast<unsigned int>(std::popcount(value));
}

} // extern "C"
