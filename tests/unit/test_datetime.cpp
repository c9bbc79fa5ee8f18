#include <libquivelmarine/datetime.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

// Found by argument-dependent lookup, so in the namespace of the record.
static bool operator==(const qv_datetime_t &a, const qv_datetime_t &b)
{
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute && a.second == b.second && a.timezone == b.timezone;
}

static std::ostream &operator<<(std::ostream &os, const qv_datetime_t &dt)
{
    return os << dt.year << "-" << dt.month << "-" << dt.day << " " << dt.hour << ":" << dt.minute
              << ":" << dt.second << " tz " << dt.timezone;
}

namespace {

struct Case {
    qv_ticks_t ticks;
    qv_datetime_t utc;
};

const Case CASES[] = {
    {0, {1970, 1, 1, 0, 0, 0, 0}},
    {946684800, {2000, 1, 1, 0, 0, 0, 0}},
    {951782400, {2000, 2, 29, 0, 0, 0, 0}},
    {1709164800, {2024, 2, 29, 0, 0, 0, 0}},
    {2147483647, {2038, 1, 19, 3, 14, 7, 0}},
    {2147483648, {2038, 1, 19, 3, 14, 8, 0}},
    {4107587696, {2100, 3, 1, 12, 34, 56, 0}},
    {253402300799, {9999, 12, 31, 23, 59, 59, 0}},
    {-1, {1969, 12, 31, 23, 59, 59, 0}},
    {-2203891201, {1900, 2, 28, 23, 59, 59, 0}},
    {-11644473600, {1601, 1, 1, 0, 0, 0, 0}},
};

TEST(Datetime, GmtimeBreaksDownUtc)
{
    for (const Case &c : CASES) {
        qv_datetime_t dt = {};
        ASSERT_EQ(qv_datetime_gmtime(&dt, c.ticks), &dt) << c.ticks;
        EXPECT_EQ(dt, c.utc) << c.ticks;
    }
}

TEST(Datetime, MktimeIsTheInverseOfGmtime)
{
    for (const Case &c : CASES)
        EXPECT_EQ(qv_datetime_mktime(&c.utc), c.ticks) << c.utc;

    // Every day over a few centuries, both ways.
    for (qv_ticks_t ticks = -5000000000; ticks < 5000000000; ticks += 86400 + 3607) {
        qv_datetime_t dt = {};
        ASSERT_NE(qv_datetime_gmtime(&dt, ticks), nullptr);
        ASSERT_EQ(qv_datetime_mktime(&dt), ticks) << dt;
    }
}

TEST(Datetime, MktimeAppliesTheTimezone)
{
    qv_datetime_t dt = {2000, 1, 1, 1, 0, 0, 3600};
    EXPECT_EQ(qv_datetime_mktime(&dt), 946684800);
    dt.timezone = QV_TIMEZONE_NONE;
    EXPECT_EQ(qv_datetime_mktime(&dt), 946688400);
    dt.timezone = -18000; // five hours west
    EXPECT_EQ(qv_datetime_mktime(&dt), 946688400 + 18000);
}

TEST(Datetime, MktimeCarriesOverOutOfRangeFields)
{
    const struct {
        qv_datetime_t dt;
        qv_ticks_t expected;
    } cases[] = {
        {{1999, 13, 1, 0, 0, 0, 0}, 946684800},             // month 13
        {{2000, 0, 1, 0, 0, 0, 0}, 946684800 - 31 * 86400}, // month 0 is December before
        {{1999, 12, 32, 0, 0, 0, 0}, 946684800},            // day 32
        {{1999, 12, 31, 23, 59, 60, 0}, 946684800},         // second 60
        {{2000, 1, 1, -1, 0, 0, 0}, 946684800 - 3600},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qv_datetime_mktime(&c.dt), c.expected) << c.dt;
}

TEST(Datetime, ExtremeValuesDoNotOverflow)
{
    const qv_datetime_t max = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, QV_TIMEZONE_NONE};
    const qv_datetime_t min = {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MAX};
    EXPECT_GT(qv_datetime_mktime(&max), 0);
    EXPECT_LT(qv_datetime_mktime(&min), 0);

    // Ticks whose year does not fit the record cannot be converted.
    qv_datetime_t dt = {};
    EXPECT_EQ(qv_datetime_gmtime(&dt, INT64_MAX), nullptr);
    EXPECT_EQ(qv_datetime_gmtime(&dt, INT64_MIN), nullptr);
    EXPECT_EQ(qv_datetime_localtime(&dt, INT64_MAX), nullptr);
    EXPECT_EQ(qv_datetime_localtime(&dt, INT64_MIN), nullptr);
}

TEST(Datetime, MissingArguments)
{
    EXPECT_EQ(qv_datetime_gmtime(nullptr, 0), nullptr);
    EXPECT_EQ(qv_datetime_localtime(nullptr, 0), nullptr);
    EXPECT_EQ(qv_datetime_mktime(nullptr), -1);
}

TEST(Datetime, NowIsTheHostTime)
{
    qv_ticks_t before = static_cast<qv_ticks_t>(std::time(nullptr));
    qv_ticks_t now = qv_datetime_now();
    qv_ticks_t after = static_cast<qv_ticks_t>(std::time(nullptr));
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

// Selects a time zone for one test and restores the previous setting.
class LocalTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char *tz = std::getenv("TZ"))
            saved_ = tz;
    }

    void TearDown() override
    {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    static void select(const char *tz)
    {
        ASSERT_EQ(setenv("TZ", tz, 1), 0);
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(LocalTime, IncludesDaylightSaving)
{
    select("CET-1CEST,M3.5.0,M10.5.0/3");

    const struct {
        qv_ticks_t ticks;
        qv_datetime_t local;
    } cases[] = {
        {1721044800, {2024, 7, 15, 14, 0, 0, 7200}}, // summer
        {1705320000, {2024, 1, 15, 13, 0, 0, 3600}}, // winter
        // Around the switch to summer time on 2024-03-31 at 01:00 UTC.
        {1711846799, {2024, 3, 31, 1, 59, 59, 3600}},
        {1711846800, {2024, 3, 31, 3, 0, 0, 7200}},
        // After 2038 too.
        {4121244000, {2100, 8, 6, 16, 0, 0, 7200}},
    };
    for (const auto &c : cases) {
        qv_datetime_t dt = {};
        ASSERT_EQ(qv_datetime_localtime(&dt, c.ticks), &dt) << c.ticks;
        EXPECT_EQ(dt, c.local) << c.ticks;
        // The offset turns the local fields back into the same ticks.
        EXPECT_EQ(qv_datetime_mktime(&dt), c.ticks) << c.ticks;
    }
}

TEST_F(LocalTime, WestOfUtc)
{
    select("EST5");
    qv_datetime_t dt = {};
    ASSERT_NE(qv_datetime_localtime(&dt, 0), nullptr);
    EXPECT_EQ(dt, (qv_datetime_t{1969, 12, 31, 19, 0, 0, -18000}));
}

TEST_F(LocalTime, FollowsAChangedSetting)
{
    qv_datetime_t dt = {};
    select("UTC0");
    ASSERT_NE(qv_datetime_localtime(&dt, 946684800), nullptr);
    EXPECT_EQ(dt, (qv_datetime_t{2000, 1, 1, 0, 0, 0, 0}));

    // Changed without tzset: the library picks the new zone up itself.
    ASSERT_EQ(setenv("TZ", "JST-9", 1), 0);
    ASSERT_NE(qv_datetime_localtime(&dt, 946684800), nullptr);
    EXPECT_EQ(dt, (qv_datetime_t{2000, 1, 1, 9, 0, 0, 32400}));
}

} // namespace
