#include <libquivelmarine/context.h>
#include <libquivelmarine/version.h>

#include "context-private.h"
#include "timer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Logged {
    qv_loglevel_t level;
    std::string file;
    unsigned int line;
    std::string function;
    std::string message;
};

void capture(qv_context_t *, qv_loglevel_t level, const char *file, unsigned int line,
             const char *function, const char *message, void *userdata)
{
    static_cast<std::vector<Logged> *>(userdata)->push_back({level, file, line, function, message});
}

class ContextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
        ASSERT_EQ(qv_context_set_logfunc(context, capture, &logged), QV_STATUS_SUCCESS);
    }
    void TearDown() override { qv_context_free(context); }

    qv_context_t *context = nullptr;
    std::vector<Logged> logged;
};

TEST(Status, SetErrorKeepsTheFirstFailure)
{
    qv_status_t status = QV_STATUS_SUCCESS;
    qv_status_set_error(&status, QV_STATUS_IO);
    qv_status_set_error(&status, QV_STATUS_TIMEOUT);
    qv_status_set_error(&status, QV_STATUS_SUCCESS);
    EXPECT_EQ(status, QV_STATUS_IO);
}

TEST(Context, MissingArguments)
{
    EXPECT_EQ(qv_context_new(nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_context_free(nullptr), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_context_set_loglevel(nullptr, QV_LOGLEVEL_ALL), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qv_context_set_logfunc(nullptr, nullptr, nullptr), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(QV_ERROR(nullptr, "x"), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(QV_HEXDUMP(nullptr, QV_LOGLEVEL_ERROR, "Read", nullptr, 0), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(QV_SYSERROR(nullptr, EIO), QV_STATUS_INVALIDARGS);
}

TEST_F(ContextTest, LevelFiltersMessages)
{
    struct Case {
        qv_loglevel_t context_level;
        size_t delivered; // of ERROR, WARNING, INFO, DEBUG messages and an INFO hex dump
    };
    const Case cases[] = {
        {QV_LOGLEVEL_NONE, 0},
        {QV_LOGLEVEL_ERROR, 1},
        {QV_LOGLEVEL_WARNING, 2},
        {QV_LOGLEVEL_INFO, 4},
        {QV_LOGLEVEL_DEBUG, 5},
        {QV_LOGLEVEL_ALL, 5},
    };
    const unsigned char bytes[] = {0x01, 0xAB};
    for (const auto &c : cases) {
        logged.clear();
        qv_context_set_loglevel(context, c.context_level);
        QV_ERROR(context, "error %d", 1);
        QV_WARNING(context, "warning");
        QV_INFO(context, "info");
        QV_DEBUG(context, "debug");
        QV_HEXDUMP(context, QV_LOGLEVEL_INFO, "Read", bytes, sizeof(bytes));
        EXPECT_EQ(logged.size(), c.delivered) << "level " << c.context_level;
    }
}

TEST_F(ContextTest, CallSiteAndFormatting)
{
    QV_ERROR(context, "Failed to send the command (%u).", 7u);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, QV_LOGLEVEL_ERROR);
    EXPECT_EQ(logged[0].message, "Failed to send the command (7).");
    EXPECT_EQ(logged[0].file, "tests/unit/test_context.cpp");
    EXPECT_EQ(logged[0].function, "TestBody");
    EXPECT_GT(logged[0].line, 0u);
}

TEST_F(ContextTest, LongMessageIsCut)
{
    std::string text(20000, 'x');
    QV_ERROR(context, "%s", text.c_str());
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].message.size(), 16415u);
}

TEST_F(ContextTest, HexDump)
{
    qv_context_set_loglevel(context, QV_LOGLEVEL_INFO);
    const unsigned char bytes[] = {0x00, 0x1F, 0xA0, 0xFF};
    QV_HEXDUMP(context, QV_LOGLEVEL_INFO, "Write", bytes, sizeof(bytes));
    QV_HEXDUMP(context, QV_LOGLEVEL_INFO, "Read", bytes, 0);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0].message, "Write: size=4, data=001FA0FF");
    EXPECT_EQ(logged[1].message, "Read: size=0, data=");
}

TEST_F(ContextTest, HexDumpIsCutToWholeBytes)
{
    qv_context_set_loglevel(context, QV_LOGLEVEL_INFO);
    std::vector<unsigned char> bytes(10000, 0x5A);
    QV_HEXDUMP(context, QV_LOGLEVEL_INFO, "Read", bytes.data(), bytes.size());
    ASSERT_EQ(logged.size(), 1u);
    const std::string head = "Read: size=10000, data=";
    const std::string &m = logged[0].message;
    ASSERT_EQ(m.compare(0, head.size(), head), 0);
    // The whole line with its terminator fits the 16416-byte buffer, in whole bytes.
    EXPECT_LE(m.size() + 1, 16416u);
    EXPECT_GE(m.size() + 1, 16416u - 1);
    EXPECT_EQ((m.size() - head.size()) % 2, 0u);
    EXPECT_EQ(m.substr(head.size(), 4), "5A5A");
}

TEST_F(ContextTest, SystemError)
{
    QV_SYSERROR(context, ENOENT);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, QV_LOGLEVEL_ERROR);
    EXPECT_EQ(logged[0].message, std::string(std::strerror(ENOENT)) + " (" + std::to_string(ENOENT) + ")");
}

TEST(SystemErrorText, TrailingCharactersAreStripped)
{
    struct Case {
        const char *raw;
        const char *clean;
    };
    const Case cases[] = {
        {"Access is denied.\r\n", "Access is denied"},
        {"No such file", "No such file"},
        {"\r\n.", "Unknown system error"},
        {"", "Unknown system error"},
        {"a.b.", "a.b"},
    };
    for (const auto &c : cases) {
        char text[64];
        std::snprintf(text, sizeof(text), "%s", c.raw);
        EXPECT_STREQ(qv_syserror_clean(text), c.clean) << c.raw;
    }
}

TEST(Context, Transports)
{
    EXPECT_EQ(qv_context_get_transports(nullptr), 57u);
}

TEST(Timer, StartsNearZero)
{
    qv_timer_t *timer = nullptr;
    ASSERT_EQ(qv_timer_new(&timer), QV_STATUS_SUCCESS);
    qv_usecs_t first = 0, second = 0;
    EXPECT_EQ(qv_timer_now(timer, &first), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_timer_now(timer, &second), QV_STATUS_SUCCESS);
    EXPECT_LT(first, 1000000u);
    EXPECT_GE(second, first);
    qv_timer_free(timer);

    qv_usecs_t value = 42;
    EXPECT_EQ(qv_timer_now(nullptr, &value), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(qv_timer_new(nullptr), QV_STATUS_INVALIDARGS);
}

TEST(Version, NumbersAndText)
{
    qv_version_t version{};
    std::string text = qv_version(&version);
    EXPECT_EQ(version.major, 0u);
    EXPECT_EQ(version.minor, 10u);
    EXPECT_EQ(version.micro, 0u);
    EXPECT_EQ(text.rfind("0.10.0-devel (", 0), 0u);
    EXPECT_EQ(text.back(), ')');
    EXPECT_EQ(qv_version(nullptr), text);
}

TEST(Version, Check)
{
    struct Case {
        unsigned int major, minor, micro;
        bool expected;
    };
    const Case cases[] = {
        {0, 9, 99, true}, {0, 0, 0, true}, {0, 10, 0, true}, {0, 10, 1, false},
        {0, 11, 0, false}, {1, 0, 0, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qv_version_check(c.major, c.minor, c.micro) != 0, c.expected)
            << c.major << "." << c.minor << "." << c.micro;
}

} // namespace
