#include <libquivelmarine/checksum.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::string CHECK = "123456789";
const std::string ABC = "abc";

const unsigned char *bytes(const std::string &text)
{
    return reinterpret_cast<const unsigned char *>(text.data());
}

struct Case {
    const char *name;
    std::function<uint32_t()> compute;
    uint32_t expected;
};

TEST(Checksum, WorkedValues)
{
    const Case cases[] = {
        {"add_nibbles abc", [] { return qv_checksum_add_nibbles(bytes(ABC), 3, 0) & 0xFF; }, 0x18},
        {"add_u8 abc", [] { return uint32_t{qv_checksum_add_u8(bytes(ABC), 3, 0)}; }, 0x26},
        {"add_u16 abc", [] { return qv_checksum_add_u16(bytes(ABC), 3, 0) & 0xFFFF; }, 0x0126},
        {"xor_u8 abc", [] { return uint32_t{qv_checksum_xor_u8(bytes(ABC), 3, 0)}; }, 0x60},
        {"crc8 abc", [] { return uint32_t{qv_checksum_crc8(bytes(ABC), 3, 0, 0)}; }, 0x5F},
        {"crc8 check", [] { return uint32_t{qv_checksum_crc8(bytes(CHECK), 9, 0, 0)}; }, 0xF4},
        {"crc16_ccitt check ffff", [] { return uint32_t{qv_checksum_crc16_ccitt(bytes(CHECK), 9, 0xFFFF, 0)}; }, 0x29B1},
        {"crc16_ccitt check 0", [] { return uint32_t{qv_checksum_crc16_ccitt(bytes(CHECK), 9, 0, 0)}; }, 0x31C3},
        {"crc16_ccitt abc ffff", [] { return uint32_t{qv_checksum_crc16_ccitt(bytes(ABC), 3, 0xFFFF, 0)}; }, 0x514A},
        {"crc16r_ccitt check 0", [] { return uint32_t{qv_checksum_crc16r_ccitt(bytes(CHECK), 9, 0, 0)}; }, 0x2189},
        {"crc16r_ccitt check ffff", [] { return uint32_t{qv_checksum_crc16r_ccitt(bytes(CHECK), 9, 0xFFFF, 0)}; }, 0x6F91},
        {"crc16_ansi check 0", [] { return uint32_t{qv_checksum_crc16_ansi(bytes(CHECK), 9, 0, 0)}; }, 0xFEE8},
        {"crc16r_ansi check 0", [] { return uint32_t{qv_checksum_crc16r_ansi(bytes(CHECK), 9, 0, 0)}; }, 0xBB3D},
        {"crc16r_ansi check ffff", [] { return uint32_t{qv_checksum_crc16r_ansi(bytes(CHECK), 9, 0xFFFF, 0)}; }, 0x4B37},
        {"crc32r check", [] { return qv_checksum_crc32r(bytes(CHECK), 9); }, 0xCBF43926u},
        {"crc32r abc", [] { return qv_checksum_crc32r(bytes(ABC), 3); }, 0x352441C2u},
        {"crc32 check", [] { return qv_checksum_crc32(bytes(CHECK), 9); }, 0xFC891918u},
        {"crc32 abc", [] { return qv_checksum_crc32(bytes(ABC), 3); }, 0x648CBB73u},
        // The final XOR value is applied to the result.
        {"crc8 xorout", [] { return uint32_t{qv_checksum_crc8(bytes(CHECK), 9, 0, 0xFF)}; }, 0x0B},
        {"crc16_ccitt xorout", [] { return uint32_t{qv_checksum_crc16_ccitt(bytes(CHECK), 9, 0xFFFF, 0xFFFF)}; }, 0xD64E},
        {"crc16r_ccitt xorout", [] { return uint32_t{qv_checksum_crc16r_ccitt(bytes(CHECK), 9, 0xFFFF, 0xFFFF)}; }, 0x906E},
        {"crc16_ansi xorout", [] { return uint32_t{qv_checksum_crc16_ansi(bytes(CHECK), 9, 0, 0x00FF)}; }, 0xFE17},
        {"crc16r_ansi xorout", [] { return uint32_t{qv_checksum_crc16r_ansi(bytes(CHECK), 9, 0, 0xFFFF)}; }, 0x44C2},
    };

    for (const Case &c : cases)
        EXPECT_EQ(c.compute(), c.expected) << c.name;
}

TEST(Checksum, EmptyInputGivesTheInitialValue)
{
    EXPECT_EQ(qv_checksum_add_nibbles(nullptr, 0, 0x1234), 0x1234u);
    EXPECT_EQ(qv_checksum_add_u8(nullptr, 0, 0x12), 0x12);
    EXPECT_EQ(qv_checksum_add_u16(nullptr, 0, 0x1234), 0x1234u);
    EXPECT_EQ(qv_checksum_xor_u8(nullptr, 0, 0x5A), 0x5A);
    EXPECT_EQ(qv_checksum_crc8(nullptr, 0, 0x12, 0x01), 0x13);
    EXPECT_EQ(qv_checksum_crc16_ccitt(nullptr, 0, 0xFFFF, 0x00FF), 0xFF00);
    EXPECT_EQ(qv_checksum_crc16r_ccitt(nullptr, 0, 0x1234, 0), 0x1234);
    EXPECT_EQ(qv_checksum_crc16_ansi(nullptr, 0, 0x1234, 0), 0x1234);
    EXPECT_EQ(qv_checksum_crc16r_ansi(nullptr, 0, 0x1234, 0), 0x1234);
    EXPECT_EQ(qv_checksum_crc32r(nullptr, 0), 0u);
    EXPECT_EQ(qv_checksum_crc32(nullptr, 0), 0u);
}

TEST(Checksum, SumsAreNotReducedByTheLibrary)
{
    const std::vector<unsigned char> ff(300, 0xFF);
    // 300 * (15 + 15) = 9000; 300 * 255 = 76500.
    EXPECT_EQ(qv_checksum_add_nibbles(ff.data(), ff.size(), 1), 9001u);
    EXPECT_EQ(qv_checksum_add_u16(ff.data(), ff.size(), 0), 76500u);
    EXPECT_EQ(qv_checksum_add_u8(ff.data(), ff.size(), 0x10), (0x10 + 76500) & 0xFF);
    EXPECT_EQ(qv_checksum_xor_u8(ff.data(), 3, 0x0F), 0xF0);
}

// Bit-at-a-time references, independent of the tables.
uint32_t reference_normal(const std::vector<unsigned char> &data, unsigned width, uint32_t polynomial,
                          uint32_t crc)
{
    const uint32_t mask = width == 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    const uint32_t top = 1u << (width - 1);
    for (unsigned char byte : data) {
        crc ^= static_cast<uint32_t>(byte) << (width - 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = ((crc & top) ? (crc << 1) ^ polynomial : crc << 1) & mask;
    }
    return crc;
}

uint32_t reference_reflected(const std::vector<unsigned char> &data, uint32_t polynomial, uint32_t crc)
{
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ polynomial : crc >> 1;
    }
    return crc;
}

TEST(Checksum, TablesAgreeWithBitwiseComputation)
{
    // Every byte value, in an order that mixes them.
    std::vector<unsigned char> data(512);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>((i * 167 + 13) ^ (i >> 3));
    const unsigned char *p = data.data();
    const size_t n = data.size();

    for (uint32_t init : {0x0000u, 0xFFFFu, 0x1D0Fu}) {
        auto init8 = static_cast<unsigned char>(init);
        auto init16 = static_cast<unsigned short>(init);
        EXPECT_EQ(qv_checksum_crc8(p, n, init8, 0), reference_normal(data, 8, 0x07, init8));
        EXPECT_EQ(qv_checksum_crc16_ccitt(p, n, init16, 0), reference_normal(data, 16, 0x1021, init16));
        EXPECT_EQ(qv_checksum_crc16_ansi(p, n, init16, 0), reference_normal(data, 16, 0x8005, init16));
        EXPECT_EQ(qv_checksum_crc16r_ccitt(p, n, init16, 0), reference_reflected(data, 0x8408, init16));
        EXPECT_EQ(qv_checksum_crc16r_ansi(p, n, init16, 0), reference_reflected(data, 0xA001, init16));
    }
    EXPECT_EQ(qv_checksum_crc32r(p, n), ~reference_reflected(data, 0xEDB88320u, 0xFFFFFFFFu));
    EXPECT_EQ(qv_checksum_crc32(p, n), ~reference_normal(data, 32, 0x04C11DB7u, 0xFFFFFFFFu));
}

TEST(Checksum, Crc16ContinuesFromAPreviousResult)
{
    // With xorout 0, the CRC of a block split in two equals that of the whole.
    const unsigned char *p = bytes(CHECK);
    EXPECT_EQ(qv_checksum_crc16_ccitt(p + 4, 5, qv_checksum_crc16_ccitt(p, 4, 0xFFFF, 0), 0), 0x29B1);
    EXPECT_EQ(qv_checksum_crc16r_ansi(p + 2, 7, qv_checksum_crc16r_ansi(p, 2, 0xFFFF, 0), 0), 0x4B37);
}

} // namespace
