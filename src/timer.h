// A monotonic microsecond timer, used for the time stamps of log lines.
#ifndef QV_TIMER_H
#define QV_TIMER_H

#include <libquivelmarine/common.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qv_timer_t qv_timer_t;
typedef uint64_t qv_usecs_t;

// Creates a timer started now. QV_STATUS_INVALIDARGS without out,
// QV_STATUS_NOMEMORY, or QV_STATUS_IO when the clock cannot be read.
qv_status_t qv_timer_new(qv_timer_t **out);

// Microseconds since the timer was created. On failure (no timer:
// QV_STATUS_INVALIDARGS; clock failure: QV_STATUS_IO) *usecs is 0.
qv_status_t qv_timer_now(qv_timer_t *timer, qv_usecs_t *usecs);

// Releases the timer; NULL is accepted.
qv_status_t qv_timer_free(qv_timer_t *timer);

#ifdef __cplusplus
}
#endif

#endif
