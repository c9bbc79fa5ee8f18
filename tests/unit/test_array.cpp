#include "array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using bytes_t = std::vector<unsigned char>;

const unsigned char *u(const std::string &text)
{
    return reinterpret_cast<const unsigned char *>(text.data());
}

TEST(Array, InPlaceTransforms)
{
    bytes_t data = {0x01, 0x02, 0x03, 0x04, 0x05};
    qv_array_reverse_bytes(data.data(), data.size());
    EXPECT_EQ(data, (bytes_t{0x05, 0x04, 0x03, 0x02, 0x01}));
    qv_array_reverse_bytes(data.data(), 4);
    EXPECT_EQ(data, (bytes_t{0x02, 0x03, 0x04, 0x05, 0x01}));
    qv_array_reverse_bytes(data.data(), 0);
    EXPECT_EQ(data, (bytes_t{0x02, 0x03, 0x04, 0x05, 0x01}));

    bytes_t bits = {0x01, 0x80, 0x12, 0xF0, 0xA5};
    qv_array_reverse_bits(bits.data(), bits.size());
    EXPECT_EQ(bits, (bytes_t{0x80, 0x01, 0x48, 0x0F, 0xA5}));

    bytes_t nibbles = {0x12, 0xF0, 0xAB};
    qv_array_swap_nibbles(nibbles.data(), nibbles.size());
    EXPECT_EQ(nibbles, (bytes_t{0x21, 0x0F, 0xBA}));
}

TEST(Array, IsEqual)
{
    const bytes_t ff = {0xFF, 0xFF, 0xFF};
    const bytes_t mixed = {0xFF, 0xFE, 0xFF};
    EXPECT_TRUE(qv_array_isequal(ff.data(), ff.size(), 0xFF));
    EXPECT_FALSE(qv_array_isequal(ff.data(), ff.size(), 0x00));
    EXPECT_FALSE(qv_array_isequal(mixed.data(), mixed.size(), 0xFF));
    EXPECT_TRUE(qv_array_isequal(mixed.data(), 1, 0xFF));
    EXPECT_TRUE(qv_array_isequal(nullptr, 0, 0x00));
}

struct SearchCase {
    std::string data;
    std::string pattern;
    long forward;  // offset of the first occurrence, or -1
    long backward; // offset just past the last occurrence, or -1
};

TEST(Array, Search)
{
    const SearchCase cases[] = {
        {"abcabc", "bc", 1, 6},
        {"abcabc", "ab", 0, 5},
        {"abcabc", "abcabc", 0, 6},
        {"abcabc", "c", 2, 6},
        {"abcabc", "cb", -1, -1},
        {"abcabc", "abcabcd", -1, -1}, // pattern longer than the data
        {"aaaa", "aa", 0, 4},
        {"", "a", -1, -1},
        {"abc", "", -1, -1}, // an empty pattern is never found
    };
    for (const SearchCase &c : cases) {
        const unsigned char *data = u(c.data);
        const unsigned char *first = qv_array_search_forward(data, c.data.size(), u(c.pattern), c.pattern.size());
        const unsigned char *last = qv_array_search_backward(data, c.data.size(), u(c.pattern), c.pattern.size());
        EXPECT_EQ(first ? first - data : -1, c.forward) << c.data << " / " << c.pattern;
        EXPECT_EQ(last ? last - data : -1, c.backward) << c.data << " / " << c.pattern;
    }

    // Only the given size is searched.
    const std::string text = "xxxab";
    EXPECT_EQ(qv_array_search_forward(u(text), 4, u("ab"), 2), nullptr);
    EXPECT_EQ(qv_array_search_backward(u(text), 4, u("ab"), 2), nullptr);
}

TEST(Array, Bin2Hex)
{
    const bytes_t data = {0x00, 0x1F, 0xA0, 0xFF};
    unsigned char out[8] = {};
    ASSERT_EQ(qv_array_bin2hex(data.data(), data.size(), out, sizeof(out)), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), sizeof(out)), "001FA0FF");

    unsigned char small[9];
    std::fill(std::begin(small), std::end(small), 'z');
    EXPECT_EQ(qv_array_bin2hex(data.data(), data.size(), small, 7), -1);
    EXPECT_EQ(qv_array_bin2hex(data.data(), data.size(), small, 9), -1);
    EXPECT_EQ(small[0], 'z'); // nothing written on failure
    EXPECT_EQ(qv_array_bin2hex(nullptr, 0, small, 0), 0);
}

TEST(Array, Hex2Bin)
{
    struct Case {
        std::string text;
        size_t outsize;
        int result;
        bytes_t expected;
    };
    const Case cases[] = {
        {"001FA0FF", 4, 0, {0x00, 0x1F, 0xA0, 0xFF}},
        {"09afAF", 3, 0, {0x09, 0xAF, 0xAF}},
        {"", 0, 0, {}},
        {"001", 2, -1, {}},   // odd length
        {"001", 1, -1, {}},   // odd length
        {"0011", 1, -1, {}},  // text longer than the output
        {"0G", 1, -1, {}},    // not a digit
        {"g0", 1, -1, {}},
        {"0 ", 1, -1, {}},
        {"-1", 1, -1, {}},
    };
    for (const Case &c : cases) {
        bytes_t out(c.outsize);
        EXPECT_EQ(qv_array_hex2bin(u(c.text), c.text.size(), out.data(), out.size()), c.result) << c.text;
        if (c.result == 0) {
            EXPECT_EQ(out, c.expected) << c.text;
        }
    }
}

TEST(Array, DecimalNumbers)
{
    EXPECT_EQ(qv_array_str2num(u("1234"), 4), 1234u);
    EXPECT_EQ(qv_array_str2num(u("1234"), 2), 12u);
    EXPECT_EQ(qv_array_str2num(u("07x9"), 4), 7u);
    EXPECT_EQ(qv_array_str2num(u(" 12"), 3), 0u);
    EXPECT_EQ(qv_array_str2num(u(""), 0), 0u);

    const bytes_t base100 = {12, 34, 56};
    EXPECT_EQ(qv_array_bin2dec(base100.data(), base100.size()), 123456u);
    EXPECT_EQ(qv_array_bin2dec(base100.data(), 1), 12u);
    EXPECT_EQ(qv_array_bin2dec(base100.data(), 0), 0u);

    const bytes_t bcd = {0x20, 0x24, 0x09};
    EXPECT_EQ(qv_array_bcd2dec(bcd.data(), bcd.size()), 202409u);
    EXPECT_EQ(qv_array_bcd2dec(bcd.data(), 2), 2024u);
}

TEST(Array, Bcd)
{
    EXPECT_EQ(qv_bcd2dec(0x00), 0u);
    EXPECT_EQ(qv_bcd2dec(0x59), 59u);
    EXPECT_EQ(qv_bcd2dec(0x99), 99u);
    EXPECT_EQ(qv_dec2bcd(0), 0x00);
    EXPECT_EQ(qv_dec2bcd(7), 0x07);
    EXPECT_EQ(qv_dec2bcd(42), 0x42);
    EXPECT_EQ(qv_dec2bcd(99), 0x99);
    EXPECT_EQ(qv_dec2bcd(100), 0x00);
    EXPECT_EQ(qv_dec2bcd(12345), 0x00);
    for (unsigned int value = 0; value < 100; ++value)
        EXPECT_EQ(qv_bcd2dec(qv_dec2bcd(value)), value);
}

TEST(Array, EndianReads)
{
    const bytes_t data = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    const unsigned char *p = data.data();

    EXPECT_EQ(qv_array_uint64_be(p), 0x0102030405060708ull);
    EXPECT_EQ(qv_array_uint64_le(p), 0x0807060504030201ull);
    EXPECT_EQ(qv_array_uint32_be(p), 0x01020304u);
    EXPECT_EQ(qv_array_uint32_le(p), 0x04030201u);
    EXPECT_EQ(qv_array_uint24_be(p), 0x010203u);
    EXPECT_EQ(qv_array_uint24_le(p), 0x030201u);
    EXPECT_EQ(qv_array_uint16_be(p), 0x0102u);
    EXPECT_EQ(qv_array_uint16_le(p), 0x0201u);
    EXPECT_EQ(qv_array_uint32_word_be(p), 0x03040102u);

    EXPECT_EQ(qv_array_uint_be(p, 0), 0u);
    EXPECT_EQ(qv_array_uint_be(p, 1), 0x01u);
    EXPECT_EQ(qv_array_uint_be(p, 3), 0x010203u);
    EXPECT_EQ(qv_array_uint_le(p, 1), 0x01u);
    EXPECT_EQ(qv_array_uint_le(p, 3), 0x030201u);
    EXPECT_EQ(qv_array_uint_le(p, 4), 0x04030201u);

    const bytes_t high = {0xFF, 0xFE, 0x80, 0x00};
    EXPECT_EQ(qv_array_uint32_be(high.data()), 0xFFFE8000u);
    EXPECT_EQ(qv_array_uint32_le(high.data()), 0x0080FEFFu);
    EXPECT_EQ(qv_array_uint16_be(high.data()), 0xFFFEu);
}

TEST(Array, FloatLittleEndian)
{
    struct Case {
        bytes_t data;
        float expected;
    };
    const Case cases[] = {
        {{0x00, 0x00, 0x80, 0x3F}, 1.0f},
        {{0x00, 0x00, 0x20, 0xC1}, -10.0f},
        {{0xDB, 0x0F, 0x49, 0x40}, 3.14159274f},
        {{0x00, 0x00, 0x00, 0x00}, 0.0f},
    };
    for (const Case &c : cases)
        EXPECT_EQ(qv_array_float_le(c.data.data()), c.expected);

    const bytes_t nan = {0x00, 0x00, 0xC0, 0x7F};
    EXPECT_TRUE(std::isnan(qv_array_float_le(nan.data())));
}

TEST(Array, EndianWrites)
{
    bytes_t out(10, 0xEE);
    auto reset = [&] { std::fill(out.begin(), out.end(), 0xEE); };

    reset();
    qv_array_uint64_be_set(out.data() + 1, 0x0102030405060708ull);
    EXPECT_EQ(out, (bytes_t{0xEE, 1, 2, 3, 4, 5, 6, 7, 8, 0xEE}));
    reset();
    qv_array_uint64_le_set(out.data() + 1, 0x0102030405060708ull);
    EXPECT_EQ(out, (bytes_t{0xEE, 8, 7, 6, 5, 4, 3, 2, 1, 0xEE}));
    reset();
    qv_array_uint32_be_set(out.data() + 1, 0x01020304u);
    EXPECT_EQ(out, (bytes_t{0xEE, 1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    reset();
    qv_array_uint32_le_set(out.data() + 1, 0x01020304u);
    EXPECT_EQ(out, (bytes_t{0xEE, 4, 3, 2, 1, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    reset();
    qv_array_uint24_be_set(out.data() + 1, 0xFF010203u); // only the low 24 bits
    EXPECT_EQ(out, (bytes_t{0xEE, 1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    reset();
    qv_array_uint24_le_set(out.data() + 1, 0x010203u);
    EXPECT_EQ(out, (bytes_t{0xEE, 3, 2, 1, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    reset();
    qv_array_uint16_be_set(out.data() + 1, 0xFF0102u);
    EXPECT_EQ(out, (bytes_t{0xEE, 1, 2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    reset();
    qv_array_uint16_le_set(out.data() + 1, 0x0102u);
    EXPECT_EQ(out, (bytes_t{0xEE, 2, 1, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));

    // Reading back what was written.
    qv_array_uint32_be_set(out.data(), 0xDEADBEEFu);
    EXPECT_EQ(qv_array_uint32_be(out.data()), 0xDEADBEEFu);
    qv_array_uint24_le_set(out.data(), 0xABCDEFu);
    EXPECT_EQ(qv_array_uint24_le(out.data()), 0xABCDEFu);
}

TEST(Array, SignExtend)
{
    struct Case {
        unsigned int value;
        unsigned int nbits;
        int expected;
    };
    const Case cases[] = {
        {0x80, 8, -128},
        {0x7F, 8, 127},
        {0xFF, 8, -1},
        {0x1FF, 8, -1},   // bits above nbits are ignored
        {0x17F, 8, 127},
        {0x1, 1, -1},
        {0x2, 1, 0},
        {0x800, 12, -2048},
        {0x7FF, 12, 2047},
        {0x8000, 16, -32768},
        {0xFFFFFFFF, 32, -1},
        {0x80000000, 32, std::numeric_limits<int>::min()},
        {0x7FFFFFFF, 32, std::numeric_limits<int>::max()},
        {0x7FFFFFFF, 31, -1},
        {0x80, 0, 0},
        {0x80, 33, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(qv_signextend(c.value, c.nbits), c.expected) << std::hex << c.value << " " << std::dec << c.nbits;
}

TEST(Array, Popcount)
{
    EXPECT_EQ(qv_popcount(0), 0u);
    EXPECT_EQ(qv_popcount(1), 1u);
    EXPECT_EQ(qv_popcount(0xF0F0), 8u);
    EXPECT_EQ(qv_popcount(0x80000001u), 2u);
    EXPECT_EQ(qv_popcount(0xFFFFFFFFu), 32u);
}

} // namespace
