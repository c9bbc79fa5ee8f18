/*
 * libquivelmarine: date and time.
 *
 * Host time is counted in ticks, seconds since 1970-01-01 00:00:00 UTC. Dive
 * dates are handed out broken down into a qv_datetime_t. Conversions work on
 * the proleptic Gregorian calendar over the full 64-bit range of ticks, as
 * far as the year fits the record.
 */
#ifndef QV_DATETIME_H
#define QV_DATETIME_H

#include <libquivelmarine/common.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Seconds since 1970-01-01 00:00:00 UTC. */
typedef int64_t qv_ticks_t;

/* The timezone of a date that is local device time in no known zone. */
#define QV_TIMEZONE_NONE INT32_MIN

/* A broken-down date and time. */
typedef struct qv_datetime_t {
    int32_t year;     /* full year, for instance 2024 */
    int32_t month;    /* 1-12 */
    int32_t day;      /* 1-31 */
    int32_t hour;     /* 0-23 */
    int32_t minute;   /* 0-59 */
    int32_t second;   /* 0-59 */
    int32_t timezone; /* offset from UTC in seconds, east positive, or QV_TIMEZONE_NONE */
} qv_datetime_t;

/* The current host time; -1 when the clock cannot be read. */
QV_EXPORT qv_ticks_t qv_datetime_now(void);

/*
 * Breaks ticks down in the host's local time zone (as selected by the TZ
 * environment variable or the system setting). timezone is the offset of the
 * local time from UTC at that moment, daylight saving included. Returns
 * result, or NULL when result is NULL or the time cannot be converted (the
 * year does not fit the record); *result is then unspecified.
 */
QV_EXPORT qv_datetime_t *qv_datetime_localtime(qv_datetime_t *result, qv_ticks_t ticks);

/*
 * Breaks ticks down as UTC, with timezone 0. Returns result, or NULL when
 * result is NULL or the time cannot be converted.
 */
QV_EXPORT qv_datetime_t *qv_datetime_gmtime(qv_datetime_t *result, qv_ticks_t ticks);

/*
 * Converts the fields, read as a UTC calendar time without daylight saving,
 * to ticks, and subtracts timezone unless it is QV_TIMEZONE_NONE. Fields
 * outside their usual ranges carry over (month 13 is January of the next
 * year, second 60 the next minute). Returns -1 when datetime is NULL.
 */
QV_EXPORT qv_ticks_t qv_datetime_mktime(const qv_datetime_t *datetime);

#ifdef __cplusplus
}
#endif

#endif /* QV_DATETIME_H */
