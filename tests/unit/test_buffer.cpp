#include <libquivelmarine/buffer.h>

#include "buffer-private.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

// Requests that cannot be satisfied must fail softly under the address
// sanitizer too, as they do with the system allocator.
extern "C" __attribute__((used)) const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

struct buffer_deleter {
    void operator()(qv_buffer_t *buffer) const { qv_buffer_free(buffer); }
};
using buffer_ptr = std::unique_ptr<qv_buffer_t, buffer_deleter>;

buffer_ptr make_buffer(size_t capacity)
{
    buffer_ptr buffer(qv_buffer_new(capacity));
    EXPECT_NE(buffer, nullptr);
    return buffer;
}

const unsigned char *bytes(const std::string &text)
{
    return reinterpret_cast<const unsigned char *>(text.data());
}

int append(qv_buffer_t *buffer, const std::string &text)
{
    return qv_buffer_append(buffer, bytes(text), text.size());
}

std::string contents(const qv_buffer_t *buffer)
{
    const unsigned char *data = qv_buffer_get_data(buffer);
    if (data == nullptr)
        return {};
    return std::string(reinterpret_cast<const char *>(data), qv_buffer_get_size(buffer));
}

// The observable state: content, block size and where the content starts.
struct State {
    std::string content;
    size_t capacity;
    size_t offset;

    bool operator==(const State &) const = default;
};

std::ostream &operator<<(std::ostream &os, const State &state)
{
    return os << "{\"" << state.content << "\", capacity " << state.capacity << ", offset "
              << state.offset << "}";
}

State state(const qv_buffer_t *buffer)
{
    return {contents(buffer), qv_buffer_get_capacity(buffer), qv_buffer_get_offset(buffer)};
}

// A buffer with a block of capacity bytes holding content at offset: the
// block is filled with filler bytes and then sliced.
buffer_ptr make_buffer_at(size_t capacity, size_t offset, const std::string &content)
{
    buffer_ptr buffer = make_buffer(capacity);
    std::string filled = std::string(offset, '.') + content;
    EXPECT_TRUE(append(buffer.get(), filled));
    EXPECT_TRUE(qv_buffer_slice(buffer.get(), offset, content.size()));
    EXPECT_EQ(qv_buffer_get_capacity(buffer.get()), capacity);
    EXPECT_EQ(qv_buffer_get_offset(buffer.get()), offset);
    return buffer;
}

TEST(Buffer, NewWithoutCapacityHasNoBlock)
{
    buffer_ptr buffer = make_buffer(0);
    EXPECT_EQ(state(buffer.get()), (State{"", 0, 0}));
    EXPECT_EQ(qv_buffer_get_size(buffer.get()), 0u);
    EXPECT_EQ(qv_buffer_get_data(buffer.get()), nullptr);
}

TEST(Buffer, NewAllocatesExactCapacity)
{
    buffer_ptr buffer = make_buffer(7);
    EXPECT_EQ(state(buffer.get()), (State{"", 7, 0}));
    // A block exists, but an empty buffer has no data.
    EXPECT_EQ(qv_buffer_get_data(buffer.get()), nullptr);
}

TEST(Buffer, AppendAllocatesExactlyThenDoubles)
{
    buffer_ptr buffer = make_buffer(0);
    ASSERT_TRUE(append(buffer.get(), "abcde"));
    EXPECT_EQ(state(buffer.get()), (State{"abcde", 5, 0}));
    ASSERT_TRUE(append(buffer.get(), "f"));
    EXPECT_EQ(state(buffer.get()), (State{"abcdef", 10, 0}));
    ASSERT_TRUE(append(buffer.get(), "ghij"));
    EXPECT_EQ(state(buffer.get()), (State{"abcdefghij", 10, 0}));
}

TEST(Buffer, AppendDoublesAsOftenAsNeeded)
{
    buffer_ptr buffer = make_buffer(3);
    ASSERT_TRUE(append(buffer.get(), std::string(20, 'x')));
    EXPECT_EQ(state(buffer.get()), (State{std::string(20, 'x'), 24, 0}));
}

TEST(Buffer, AppendMovesLateContentToTheStart)
{
    // Enough block, but the content starts too late: moved, not reallocated.
    buffer_ptr buffer = make_buffer_at(6, 4, "ab");
    ASSERT_TRUE(append(buffer.get(), "cde"));
    EXPECT_EQ(state(buffer.get()), (State{"abcde", 6, 0}));
}

TEST(Buffer, AppendGrowingLateContentCopiesItToTheStart)
{
    buffer_ptr buffer = make_buffer_at(6, 4, "ab");
    ASSERT_TRUE(append(buffer.get(), "cdefg"));
    EXPECT_EQ(state(buffer.get()), (State{"abcdefg", 12, 0}));
}

TEST(Buffer, AppendNothingSucceedsWithoutChange)
{
    buffer_ptr buffer = make_buffer(0);
    EXPECT_TRUE(qv_buffer_append(buffer.get(), nullptr, 0));
    EXPECT_EQ(state(buffer.get()), (State{"", 0, 0}));
    EXPECT_FALSE(qv_buffer_append(buffer.get(), nullptr, 3));
    EXPECT_EQ(state(buffer.get()), (State{"", 0, 0}));
}

TEST(Buffer, AppendItsOwnContent)
{
    buffer_ptr buffer = make_buffer(0);
    ASSERT_TRUE(append(buffer.get(), "abcd"));
    ASSERT_TRUE(qv_buffer_append(buffer.get(), qv_buffer_get_data(buffer.get()), 4));
    EXPECT_EQ(state(buffer.get()), (State{"abcdabcd", 8, 0}));

    // Moving the content within the block must not spoil the source either.
    buffer_ptr late = make_buffer_at(8, 5, "xyz");
    ASSERT_TRUE(qv_buffer_append(late.get(), qv_buffer_get_data(late.get()), 3));
    EXPECT_EQ(state(late.get()), (State{"xyzxyz", 8, 0}));
}

TEST(Buffer, SliceNarrowsWithoutCopying)
{
    buffer_ptr buffer = make_buffer(0);
    ASSERT_TRUE(append(buffer.get(), "01234"));
    const unsigned char *before = qv_buffer_get_data(buffer.get());

    ASSERT_TRUE(qv_buffer_slice(buffer.get(), 2, 3));
    EXPECT_EQ(state(buffer.get()), (State{"234", 5, 2}));
    EXPECT_EQ(qv_buffer_get_data(buffer.get()), before + 2);

    ASSERT_TRUE(qv_buffer_slice(buffer.get(), 1, 1));
    EXPECT_EQ(state(buffer.get()), (State{"3", 5, 3}));
}

TEST(Buffer, SliceBeyondTheContentFails)
{
    struct Case {
        size_t offset;
        size_t size;
    };
    const Case cases[] = {{3, 3}, {6, 0}, {0, 6}, {1, SIZE_MAX}, {SIZE_MAX, 2}};
    for (const Case &c : cases) {
        buffer_ptr buffer = make_buffer(0);
        ASSERT_TRUE(append(buffer.get(), "01234"));
        EXPECT_FALSE(qv_buffer_slice(buffer.get(), c.offset, c.size)) << c.offset << "," << c.size;
        EXPECT_EQ(state(buffer.get()), (State{"01234", 5, 0}));
    }
}

TEST(Buffer, SliceToTheEmptyEnd)
{
    buffer_ptr buffer = make_buffer(0);
    ASSERT_TRUE(append(buffer.get(), "01234"));
    ASSERT_TRUE(qv_buffer_slice(buffer.get(), 5, 0));
    EXPECT_EQ(qv_buffer_get_size(buffer.get()), 0u);
    EXPECT_EQ(qv_buffer_get_data(buffer.get()), nullptr);
}

struct PrependCase {
    const char *name;
    size_t capacity;
    size_t offset;
    std::string content;
    std::string prepended;
    State expected;
};

class BufferPrepend : public ::testing::TestWithParam<PrependCase> {};

TEST_P(BufferPrepend, FollowsTheGrowthRules)
{
    const PrependCase &c = GetParam();
    buffer_ptr buffer = c.capacity == 0 ? make_buffer(0) : make_buffer_at(c.capacity, c.offset, c.content);
    ASSERT_TRUE(qv_buffer_prepend(buffer.get(), bytes(c.prepended), c.prepended.size()));
    EXPECT_EQ(state(buffer.get()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BufferPrepend,
    ::testing::Values(
        // No block yet: exactly the bytes prepended.
        PrependCase{"no_block", 0, 0, "", "abc", {"abc", 3, 0}},
        // Content at offset 0: it moves to the end of the block first.
        PrependCase{"content_at_start", 10, 0, "abc", "xy", {"xyabc", 10, 5}},
        // Enough room before the content: nothing moves.
        PrependCase{"room_before", 10, 4, "abc", "xy", {"xyabc", 10, 2}},
        PrependCase{"exact_room_before", 10, 2, "abc", "xy", {"xyabc", 10, 0}},
        // Too little block: doubled, content copied to the end of the new block.
        PrependCase{"grows", 4, 0, "abcd", "x", {"xabcd", 8, 3}},
        PrependCase{"grows_twice", 2, 0, "ab", "wxyz", {"wxyzab", 8, 2}}),
    [](const auto &test) { return std::string(test.param.name); });

TEST(Buffer, PrependItsOwnContent)
{
    buffer_ptr buffer = make_buffer(0);
    ASSERT_TRUE(append(buffer.get(), "abc"));
    ASSERT_TRUE(qv_buffer_prepend(buffer.get(), qv_buffer_get_data(buffer.get()) + 1, 2));
    EXPECT_EQ(state(buffer.get()), (State{"bcabc", 6, 1}));
}

struct InsertCase {
    const char *name;
    size_t capacity;
    size_t offset;
    std::string content;
    size_t position;
    std::string inserted;
    State expected;
};

class BufferInsert : public ::testing::TestWithParam<InsertCase> {};

TEST_P(BufferInsert, KeepsTheOrderAroundTheInsertedBytes)
{
    const InsertCase &c = GetParam();
    buffer_ptr buffer = c.capacity == 0 ? make_buffer(0) : make_buffer_at(c.capacity, c.offset, c.content);
    ASSERT_TRUE(qv_buffer_insert(buffer.get(), c.position, bytes(c.inserted), c.inserted.size()));
    EXPECT_EQ(state(buffer.get()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BufferInsert,
    ::testing::Values(
        // Room before the content: the head moves towards the start.
        InsertCase{"room_before", 10, 2, "abcd", 2, "XY", {"abXYcd", 10, 0}},
        InsertCase{"room_before_at_start", 10, 3, "abcd", 0, "XY", {"XYabcd", 10, 1}},
        // Room only after the content: the tail moves back.
        InsertCase{"room_after", 10, 0, "abcd", 1, "XY", {"aXYbcd", 10, 0}},
        InsertCase{"room_after_at_end", 10, 1, "abcd", 4, "XY", {"abcdXY", 10, 1}},
        // Neither side alone has room but the block does: redistributed.
        InsertCase{"redistributed", 8, 2, "abcd", 2, "XYZ", {"abXYZcd", 8, 0}},
        // Too small a block: doubled.
        InsertCase{"grows", 4, 0, "abcd", 2, "XYZ", {"abXYZcd", 8, 0}},
        InsertCase{"grows_from_late_content", 6, 3, "abc", 3, "XYZW", {"abcXYZW", 12, 0}},
        // No block yet: exactly the bytes inserted.
        InsertCase{"no_block", 0, 0, "", 0, "abc", {"abc", 3, 0}}),
    [](const auto &test) { return std::string(test.param.name); });

TEST(Buffer, InsertPastTheContentFails)
{
    buffer_ptr buffer = make_buffer(0);
    ASSERT_TRUE(append(buffer.get(), "abc"));
    EXPECT_FALSE(qv_buffer_insert(buffer.get(), 4, bytes("X"), 1));
    EXPECT_EQ(state(buffer.get()), (State{"abc", 3, 0}));
    EXPECT_FALSE(qv_buffer_insert(buffer.get(), 1, nullptr, 1));
    EXPECT_EQ(state(buffer.get()), (State{"abc", 3, 0}));
    EXPECT_TRUE(qv_buffer_insert(buffer.get(), 3, nullptr, 0));
    EXPECT_EQ(state(buffer.get()), (State{"abc", 3, 0}));
}

TEST(Buffer, InsertItsOwnContent)
{
    buffer_ptr buffer = make_buffer(0);
    ASSERT_TRUE(append(buffer.get(), "abcd"));
    ASSERT_TRUE(qv_buffer_insert(buffer.get(), 2, qv_buffer_get_data(buffer.get()), 4));
    EXPECT_EQ(state(buffer.get()), (State{"ababcdcd", 8, 0}));
}

TEST(Buffer, ResizeZeroFillsAndTruncates)
{
    buffer_ptr buffer = make_buffer(0);
    ASSERT_TRUE(qv_buffer_resize(buffer.get(), 3));
    EXPECT_EQ(state(buffer.get()), (State{std::string(3, '\0'), 3, 0}));

    ASSERT_TRUE(qv_buffer_clear(buffer.get()));
    ASSERT_TRUE(append(buffer.get(), "ab"));
    ASSERT_TRUE(qv_buffer_resize(buffer.get(), 5));
    EXPECT_EQ(state(buffer.get()), (State{std::string("ab\0\0\0", 5), 6, 0}));

    ASSERT_TRUE(qv_buffer_resize(buffer.get(), 1));
    EXPECT_EQ(state(buffer.get()), (State{"a", 6, 0}));
    ASSERT_TRUE(qv_buffer_resize(buffer.get(), 0));
    EXPECT_EQ(qv_buffer_get_data(buffer.get()), nullptr);
}

TEST(Buffer, ResizeMovesLateContent)
{
    buffer_ptr buffer = make_buffer_at(8, 5, "abc");
    ASSERT_TRUE(qv_buffer_resize(buffer.get(), 4));
    EXPECT_EQ(state(buffer.get()), (State{std::string("abc\0", 4), 8, 0}));
}

TEST(Buffer, ReserveGrowsToExactlyTheRequest)
{
    buffer_ptr buffer = make_buffer(0);
    ASSERT_TRUE(append(buffer.get(), "abc"));
    ASSERT_TRUE(qv_buffer_reserve(buffer.get(), 2));
    EXPECT_EQ(state(buffer.get()), (State{"abc", 3, 0}));
    ASSERT_TRUE(qv_buffer_reserve(buffer.get(), 11));
    EXPECT_EQ(state(buffer.get()), (State{"abc", 11, 0}));

    buffer_ptr late = make_buffer_at(4, 1, "abc");
    ASSERT_TRUE(qv_buffer_reserve(late.get(), 9));
    EXPECT_EQ(contents(late.get()), "abc");
    EXPECT_EQ(qv_buffer_get_capacity(late.get()), 9u);
}

TEST(Buffer, ClearKeepsTheBlock)
{
    buffer_ptr buffer = make_buffer_at(8, 2, "abc");
    ASSERT_TRUE(qv_buffer_clear(buffer.get()));
    EXPECT_EQ(state(buffer.get()), (State{"", 8, 0}));
    EXPECT_EQ(qv_buffer_get_size(buffer.get()), 0u);
    EXPECT_EQ(qv_buffer_get_data(buffer.get()), nullptr);
}

TEST(Buffer, MissingBuffer)
{
    const unsigned char byte = 0;
    qv_buffer_free(nullptr);
    EXPECT_FALSE(qv_buffer_clear(nullptr));
    EXPECT_FALSE(qv_buffer_reserve(nullptr, 1));
    EXPECT_FALSE(qv_buffer_resize(nullptr, 1));
    EXPECT_FALSE(qv_buffer_append(nullptr, &byte, 1));
    EXPECT_FALSE(qv_buffer_prepend(nullptr, &byte, 1));
    EXPECT_FALSE(qv_buffer_insert(nullptr, 0, &byte, 1));
    EXPECT_FALSE(qv_buffer_slice(nullptr, 0, 0));
    EXPECT_EQ(qv_buffer_get_size(nullptr), 0u);
    EXPECT_EQ(qv_buffer_get_data(nullptr), nullptr);
}

TEST(Buffer, FailedAllocationLeavesTheBufferUnchanged)
{
    EXPECT_EQ(qv_buffer_new(SIZE_MAX), nullptr);

    buffer_ptr buffer = make_buffer_at(8, 2, "abc");
    EXPECT_FALSE(qv_buffer_reserve(buffer.get(), SIZE_MAX));
    EXPECT_EQ(state(buffer.get()), (State{"abc", 8, 2}));
    // Doubling would overflow: the exact size is tried, and fails too.
    EXPECT_FALSE(qv_buffer_resize(buffer.get(), SIZE_MAX - 1));
    EXPECT_EQ(state(buffer.get()), (State{"abc", 8, 2}));
    EXPECT_FALSE(qv_buffer_resize(buffer.get(), SIZE_MAX / 2 + 1));
    EXPECT_EQ(state(buffer.get()), (State{"abc", 8, 2}));
}

} // namespace
