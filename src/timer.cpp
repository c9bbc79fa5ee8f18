#include "timer.h"

#include <ctime>
#include <new>

struct qv_timer_t {
    struct timespec start;
};

namespace {

bool read_clock(struct timespec *ts)
{
    return clock_gettime(CLOCK_MONOTONIC, ts) == 0;
}

} // namespace

qv_status_t qv_timer_new(qv_timer_t **out)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;

    auto *timer = new (std::nothrow) qv_timer_t{};
    if (timer == nullptr)
        return QV_STATUS_NOMEMORY;

    if (!read_clock(&timer->start)) {
        delete timer;
        return QV_STATUS_IO;
    }

    *out = timer;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_timer_now(qv_timer_t *timer, qv_usecs_t *usecs)
{
    qv_usecs_t value = 0;
    qv_status_t status = QV_STATUS_SUCCESS;
    struct timespec now {};

    if (timer == nullptr) {
        status = QV_STATUS_INVALIDARGS;
    } else if (!read_clock(&now)) {
        status = QV_STATUS_IO;
    } else {
        int64_t ns = (static_cast<int64_t>(now.tv_sec) - timer->start.tv_sec) * 1000000000LL +
                     (now.tv_nsec - timer->start.tv_nsec);
        value = ns > 0 ? static_cast<qv_usecs_t>(ns / 1000) : 0;
    }

    if (usecs)
        *usecs = value;
    return status;
}

qv_status_t qv_timer_free(qv_timer_t *timer)
{
    delete timer;
    return QV_STATUS_SUCCESS;
}
