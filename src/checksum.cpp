#include <libquivelmarine/checksum.h>

#include <array>
#include <cstdint>

namespace {

// Byte-wise CRC tables, built at compile time from the polynomial.
//
// A normal (most significant bit first) table of width W holds, for every
// byte b, the register after shifting b << (W - 8) through eight steps of the
// polynomial. A reflected table holds the register after shifting b through
// eight least-significant-bit-first steps of the bit-reversed polynomial.

template <typename T, unsigned Width>
constexpr std::array<T, 256> make_normal_table(T polynomial)
{
    constexpr T topbit = static_cast<T>(T{1} << (Width - 1));
    std::array<T, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        T crc = static_cast<T>(static_cast<T>(byte) << (Width - 8));
        for (int bit = 0; bit < 8; ++bit) {
            if (crc & topbit)
                crc = static_cast<T>((crc << 1) ^ polynomial);
            else
                crc = static_cast<T>(crc << 1);
        }
        table[byte] = crc;
    }
    return table;
}

template <typename T>
constexpr std::array<T, 256> make_reflected_table(T polynomial)
{
    std::array<T, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        T crc = static_cast<T>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            if (crc & 1)
                crc = static_cast<T>((crc >> 1) ^ polynomial);
            else
                crc = static_cast<T>(crc >> 1);
        }
        table[byte] = crc;
    }
    return table;
}

constexpr auto crc8_table = make_normal_table<uint8_t, 8>(0x07);
constexpr auto crc16_ccitt_table = make_normal_table<uint16_t, 16>(0x1021);
constexpr auto crc16r_ccitt_table = make_reflected_table<uint16_t>(0x8408);
constexpr auto crc16_ansi_table = make_normal_table<uint16_t, 16>(0x8005);
constexpr auto crc16r_ansi_table = make_reflected_table<uint16_t>(0xA001);
constexpr auto crc32r_table = make_reflected_table<uint32_t>(0xEDB88320u);
constexpr auto crc32_table = make_normal_table<uint32_t, 32>(0x04C11DB7u);

// Well-known entries of the tables, checked while compiling.
static_assert(crc8_table[1] == 0x07);
static_assert(crc16_ccitt_table[1] == 0x1021);
static_assert(crc16r_ccitt_table[128] == 0x8408);
static_assert(crc16_ansi_table[1] == 0x8005);
static_assert(crc16r_ansi_table[128] == 0xA001);
static_assert(crc32r_table[1] == 0x77073096u);
static_assert(crc32_table[1] == 0x04C11DB7u);

template <typename T, unsigned Width>
T crc_normal(const std::array<T, 256> &table, const unsigned char *data, size_t size, T crc)
{
    for (size_t i = 0; i < size; ++i) {
        unsigned index = static_cast<unsigned>((crc >> (Width - 8)) ^ data[i]) & 0xFF;
        if constexpr (Width > 8)
            crc = static_cast<T>(static_cast<T>(crc << 8) ^ table[index]);
        else
            crc = table[index];
    }
    return crc;
}

template <typename T>
T crc_reflected(const std::array<T, 256> &table, const unsigned char *data, size_t size, T crc)
{
    for (size_t i = 0; i < size; ++i) {
        unsigned index = static_cast<unsigned>(crc ^ data[i]) & 0xFF;
        crc = static_cast<T>((crc >> 8) ^ table[index]);
    }
    return crc;
}

} // namespace

extern "C" {

unsigned int qv_checksum_add_nibbles(const unsigned char *data, size_t size, unsigned int init)
{
    unsigned int crc = init;
    for (size_t i = 0; i < size; ++i)
        crc += (data[i] & 0x0Fu) + (data[i] >> 4);
    return crc;
}

unsigned char qv_checksum_add_u8(const unsigned char *data, size_t size, unsigned char init)
{
    unsigned char crc = init;
    for (size_t i = 0; i < size; ++i)
        crc = static_cast<unsigned char>(crc + data[i]);
    return crc;
}

unsigned int qv_checksum_add_u16(const unsigned char *data, size_t size, unsigned int init)
{
    unsigned int crc = init;
    for (size_t i = 0; i < size; ++i)
        crc += data[i];
    return crc;
}

unsigned char qv_checksum_xor_u8(const unsigned char *data, size_t size, unsigned char init)
{
    unsigned char crc = init;
    for (size_t i = 0; i < size; ++i)
        crc ^= data[i];
    return crc;
}

unsigned char qv_checksum_crc8(const unsigned char *data, size_t size, unsigned char init,
                               unsigned char xorout)
{
    return static_cast<unsigned char>(crc_normal<uint8_t, 8>(crc8_table, data, size, init) ^ xorout);
}

unsigned short qv_checksum_crc16_ccitt(const unsigned char *data, size_t size, unsigned short init,
                                       unsigned short xorout)
{
    return static_cast<unsigned short>(
        crc_normal<uint16_t, 16>(crc16_ccitt_table, data, size, init) ^ xorout);
}

unsigned short qv_checksum_crc16r_ccitt(const unsigned char *data, size_t size, unsigned short init,
                                        unsigned short xorout)
{
    return static_cast<unsigned short>(
        crc_reflected<uint16_t>(crc16r_ccitt_table, data, size, init) ^ xorout);
}

unsigned short qv_checksum_crc16_ansi(const unsigned char *data, size_t size, unsigned short init,
                                      unsigned short xorout)
{
    return static_cast<unsigned short>(
        crc_normal<uint16_t, 16>(crc16_ansi_table, data, size, init) ^ xorout);
}

unsigned short qv_checksum_crc16r_ansi(const unsigned char *data, size_t size, unsigned short init,
                                       unsigned short xorout)
{
    return static_cast<unsigned short>(
        crc_reflected<uint16_t>(crc16r_ansi_table, data, size, init) ^ xorout);
}

uint32_t qv_checksum_crc32r(const unsigned char *data, size_t size)
{
    return crc_reflected<uint32_t>(crc32r_table, data, size, 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
}

uint32_t qv_checksum_crc32(const unsigned char *data, size_t size)
{
    return crc_normal<uint32_t, 32>(crc32_table, data, size, 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
}

} // extern "C"
