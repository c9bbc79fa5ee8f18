#include "ringbuffer.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    unsigned int a;
    unsigned int b; // delta for increment and decrement
    unsigned int begin;
    unsigned int end;
    unsigned int expected;
};

TEST(Ringbuffer, Normalize)
{
    const Case cases[] = {
        {0x50, 0, 0x100, 0x200, 0x150},
        {0x200, 0, 0x100, 0x200, 0x100},
        {0x100, 0, 0x100, 0x200, 0x100},
        {0x1FF, 0, 0x100, 0x200, 0x1FF},
        {0x2FF, 0, 0x100, 0x200, 0x1FF},
        {0x0, 0, 0x100, 0x200, 0x100},   // a whole lap below begin
        {0xFF, 0, 0x100, 0x200, 0x1FF},
        {0x12, 0, 0x10, 0x13, 0x12},
        {0xFFFFFFFF, 0, 0x100, 0x200, 0x1FF},
        {5, 0, 0xFFFFFF00, 0xFFFFFFFF, 0xFFFFFF05}, // far below, near the top of the address space
    };
    for (const Case &c : cases)
        EXPECT_EQ(qv_ringbuffer_normalize(c.a, c.begin, c.end), c.expected)
            << std::hex << c.a << " in [" << c.begin << ", " << c.end << ")";
}

TEST(Ringbuffer, Distance)
{
    struct DistanceCase {
        unsigned int a, b;
        qv_ringbuffer_mode_t mode;
        unsigned int expected;
    };
    const DistanceCase cases[] = {
        {0x180, 0x180, QV_RINGBUFFER_FULL, 0x100},
        {0x180, 0x180, QV_RINGBUFFER_EMPTY, 0},
        {0x1F0, 0x110, QV_RINGBUFFER_EMPTY, 0x20},
        {0x1F0, 0x110, QV_RINGBUFFER_FULL, 0x20},
        {0x110, 0x1F0, QV_RINGBUFFER_EMPTY, 0xE0},
        {0x100, 0x1FF, QV_RINGBUFFER_EMPTY, 0xFF},
        {0x1FF, 0x100, QV_RINGBUFFER_EMPTY, 0x01},
        // end is the same position as begin.
        {0x200, 0x100, QV_RINGBUFFER_EMPTY, 0},
        {0x200, 0x100, QV_RINGBUFFER_FULL, 0x100},
        {0x100, 0x200, QV_RINGBUFFER_EMPTY, 0},
        {0x100, 0x200, QV_RINGBUFFER_FULL, 0x100},
    };
    for (const DistanceCase &c : cases)
        EXPECT_EQ(qv_ringbuffer_distance(c.a, c.b, c.mode, 0x100, 0x200), c.expected)
            << std::hex << c.a << " -> " << c.b << " mode " << c.mode;
}

TEST(Ringbuffer, IncrementAndDecrement)
{
    const Case increments[] = {
        {0x1F0, 0x20, 0x100, 0x200, 0x110},
        {0x100, 0x100, 0x100, 0x200, 0x100},
        {0x100, 0x345, 0x100, 0x200, 0x145},
        {0x150, 0, 0x100, 0x200, 0x150},
        {0xFFFFFFEF, 0x20, 0xFFFFFF00, 0xFFFFFFF0, 0xFFFFFF1F},
        {0x1FF, 0xFFFFFFFF, 0x100, 0x200, 0x1FE},
    };
    for (const Case &c : increments)
        EXPECT_EQ(qv_ringbuffer_increment(c.a, c.b, c.begin, c.end), c.expected)
            << std::hex << c.a << " + " << c.b;

    const Case decrements[] = {
        {0x110, 0x20, 0x100, 0x200, 0x1F0},
        {0x100, 0x100, 0x100, 0x200, 0x100},
        {0x100, 1, 0x100, 0x200, 0x1FF},
        {0x145, 0x345, 0x100, 0x200, 0x100},
        {0, 1, 0, 0x10, 0xF},
        {0x1, 0xFFFFFFFF, 0, 0x10, 0x2},
    };
    for (const Case &c : decrements)
        EXPECT_EQ(qv_ringbuffer_decrement(c.a, c.b, c.begin, c.end), c.expected)
            << std::hex << c.a << " - " << c.b;
}

#ifndef NDEBUG
TEST(RingbufferDeathTest, InvertedOrEmptyRegionStopsTheProgram)
{
    EXPECT_DEATH(qv_ringbuffer_normalize(0, 0x200, 0x100), "");
    EXPECT_DEATH(qv_ringbuffer_distance(0, 0, QV_RINGBUFFER_EMPTY, 0x100, 0x100), "");
    EXPECT_DEATH(qv_ringbuffer_increment(0, 1, 0x200, 0x100), "");
    EXPECT_DEATH(qv_ringbuffer_decrement(0, 1, 0x200, 0x100), "");
}
#endif

} // namespace
