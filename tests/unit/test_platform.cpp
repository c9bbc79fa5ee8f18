#include "platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <string>

#include <sys/time.h>

namespace {

int format(char *str, size_t size, const char *fmt, ...) QV_ATTR_FORMAT_PRINTF(3, 4);

int format(char *str, size_t size, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = qv_platform_vsnprintf(str, size, fmt, ap);
    va_end(ap);
    return n;
}

TEST(Platform, SnprintfReturnsTheLengthWhenTheTextFits)
{
    char out[16];
    EXPECT_EQ(qv_platform_snprintf(out, sizeof(out), "%s-%02d", "ab", 7), 5);
    EXPECT_STREQ(out, "ab-07");
    // Exactly enough room for the text and its terminator.
    EXPECT_EQ(qv_platform_snprintf(out, 6, "%s-%02d", "ab", 7), 5);
    EXPECT_STREQ(out, "ab-07");
    EXPECT_EQ(qv_platform_snprintf(out, 1, "%s", ""), 0);
    EXPECT_STREQ(out, "");
}

TEST(Platform, SnprintfCutsShortAndTerminates)
{
    struct Case {
        size_t size;
        const char *expected;
    };
    const Case cases[] = {{5, "ab-0"}, {3, "ab"}, {1, ""}};
    for (const Case &c : cases) {
        char out[8];
        std::memset(out, 'z', sizeof(out));
        EXPECT_EQ(qv_platform_snprintf(out, c.size, "%s-%02d", "ab", 7), -1) << c.size;
        EXPECT_STREQ(out, c.expected);
        EXPECT_EQ(out[c.size], 'z') << "wrote past the given size";
    }
}

TEST(Platform, SnprintfWithoutRoom)
{
    char out[4] = {'z', 'z', 'z', 'z'};
    EXPECT_EQ(qv_platform_snprintf(out, 0, "%d", 1), -1);
    EXPECT_EQ(out[0], 'z');
    EXPECT_EQ(qv_platform_snprintf(nullptr, 10, "%d", 1), -1);
}

TEST(Platform, VsnprintfFollowsTheSameRules)
{
    char out[8];
    EXPECT_EQ(format(out, sizeof(out), "%u:%c", 42u, 'x'), 4);
    EXPECT_STREQ(out, "42:x");
    EXPECT_EQ(format(out, 4, "%u:%c", 42u, 'x'), -1);
    EXPECT_STREQ(out, "42:");
    EXPECT_EQ(format(out, 0, "%u", 1u), -1);
}

TEST(Platform, SleepWaitsAtLeastTheGivenTime)
{
    EXPECT_EQ(qv_platform_sleep(0), QV_STATUS_SUCCESS);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qv_platform_sleep(20), QV_STATUS_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

volatile std::sig_atomic_t alarms = 0;

void on_alarm(int)
{
    alarms = alarms + 1;
}

TEST(Platform, SleepResumesAfterASignal)
{
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_handler = on_alarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no automatic restart: the sleep sees EINTR
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);

    struct itimerval timer = {};
    timer.it_value.tv_usec = 10000;
    alarms = 0;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qv_platform_sleep(200), QV_STATUS_SUCCESS);
    auto elapsed = std::chrono::steady_clock::now() - start;

    struct itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);

    EXPECT_EQ(static_cast<int>(alarms), 1);
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
}

} // namespace
