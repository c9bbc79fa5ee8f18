#include <libquivelmarine/datetime.h>

#include <climits>
#include <cstdint>
#include <ctime>
#include <limits>

namespace {

int64_t floor_div(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar
// (month 1-12, day 1-31; day may run past the month's end).
int64_t days_from_civil(int64_t year, int64_t month, int64_t day)
{
    // Years counted from March, so that the leap day ends the year.
    if (month <= 2)
        year -= 1;
    int64_t era = floor_div(year, 400);
    int64_t year_of_era = year - era * 400;                                    // 0..399
    int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// The fields read as UTC, with out-of-range values carried over. The
// arithmetic cannot overflow: every field is a 32-bit value, and the result
// stays far below 2^63.
int64_t seconds_from_fields(int64_t year, int64_t month, int64_t day, int64_t hour,
                            int64_t minute, int64_t second)
{
    int64_t months = month - 1;
    year += floor_div(months, 12);
    months -= floor_div(months, 12) * 12;

    int64_t days = days_from_civil(year, months + 1, 1) + (day - 1);
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

// The ticks as the platform's time type, or false when they do not fit.
bool to_time_t(qv_ticks_t ticks, time_t *out)
{
    if constexpr (sizeof(time_t) < sizeof(qv_ticks_t)) {
        if (ticks < std::numeric_limits<time_t>::min() || ticks > std::numeric_limits<time_t>::max())
            return false;
    }
    *out = static_cast<time_t>(ticks);
    return true;
}

// Copies a broken-down time into the record; false when the year does not fit.
bool from_tm(const struct tm &tm, qv_datetime_t *result)
{
    int64_t year = static_cast<int64_t>(tm.tm_year) + 1900;
    if (year > INT32_MAX || year < INT32_MIN)
        return false;

    result->year = static_cast<int32_t>(year);
    result->month = tm.tm_mon + 1;
    result->day = tm.tm_mday;
    result->hour = tm.tm_hour;
    result->minute = tm.tm_min;
    result->second = tm.tm_sec;
    return true;
}

} // namespace

extern "C" {

qv_ticks_t qv_datetime_now(void)
{
    return static_cast<qv_ticks_t>(std::time(nullptr));
}

qv_datetime_t *qv_datetime_localtime(qv_datetime_t *result, qv_ticks_t ticks)
{
    if (result == nullptr)
        return nullptr;

    time_t t = 0;
    if (!to_time_t(ticks, &t))
        return nullptr;

    // Pick up changes of the time-zone setting, as localtime does.
    tzset();

    struct tm tm = {};
    if (localtime_r(&t, &tm) == nullptr)
        return nullptr;

    // The local time read as if it were UTC, minus the ticks: the offset in
    // force at that moment, daylight saving included.
    int64_t local = seconds_from_fields(static_cast<int64_t>(tm.tm_year) + 1900,
                                        static_cast<int64_t>(tm.tm_mon) + 1, tm.tm_mday, tm.tm_hour,
                                        tm.tm_min, tm.tm_sec);
    int64_t offset = local - ticks;
    if (offset > INT32_MAX || offset <= INT32_MIN)
        return nullptr;

    if (!from_tm(tm, result))
        return nullptr;
    result->timezone = static_cast<int32_t>(offset);
    return result;
}

qv_datetime_t *qv_datetime_gmtime(qv_datetime_t *result, qv_ticks_t ticks)
{
    if (result == nullptr)
        return nullptr;

    time_t t = 0;
    if (!to_time_t(ticks, &t))
        return nullptr;

    struct tm tm = {};
    if (gmtime_r(&t, &tm) == nullptr)
        return nullptr;

    if (!from_tm(tm, result))
        return nullptr;
    result->timezone = 0;
    return result;
}

qv_ticks_t qv_datetime_mktime(const qv_datetime_t *datetime)
{
    if (datetime == nullptr)
        return -1;

    int64_t ticks = seconds_from_fields(datetime->year, datetime->month, datetime->day,
                                        datetime->hour, datetime->minute, datetime->second);
    if (datetime->timezone != QV_TIMEZONE_NONE)
        ticks -= datetime->timezone;
    return ticks;
}

} // extern "C"
