#include <libquivelmarine/context.h>

#include "context-private.h"
#include "timer.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace {

constexpr size_t MESSAGE_SIZE = 16416;

const char *const loglevels[] = {"NONE", "ERROR", "WARNING", "INFO", "DEBUG", "ALL"};

const char *loglevel_name(qv_loglevel_t level)
{
    return level < sizeof(loglevels) / sizeof(loglevels[0]) ? loglevels[level] : "UNKNOWN";
}

struct timer_deleter {
    void operator()(qv_timer_t *timer) const { qv_timer_free(timer); }
};

} // namespace

struct qv_context_t {
    std::mutex lock;
    qv_loglevel_t loglevel = QV_LOGLEVEL_WARNING;
    qv_logfunc_t logfunc = nullptr;
    void *userdata = nullptr;
    std::unique_ptr<qv_timer_t, timer_deleter> timer;
    char msg[MESSAGE_SIZE] = {};
};

namespace {

void default_logfunc(qv_context_t *context, qv_loglevel_t loglevel, const char *file,
                     unsigned int line, const char *function, const char *message, void *)
{
    qv_usecs_t now = 0;
    if (context->timer)
        qv_timer_now(context->timer.get(), &now);

    long seconds = static_cast<long>(now / 1000000);
    long micro = static_cast<long>(now % 1000000);

    if (loglevel == QV_LOGLEVEL_ERROR || loglevel == QV_LOGLEVEL_WARNING) {
        std::fprintf(stderr, "[%li.%06li] %s: %s [in %s:%u (%s)]\n", seconds, micro,
                     loglevel_name(loglevel), message, file, line, function);
    } else {
        std::fprintf(stderr, "[%li.%06li] %s: %s\n", seconds, micro, loglevel_name(loglevel),
                     message);
    }
}

// Whether a message of the given level reaches the handler. Called with the
// lock held.
bool wanted(const qv_context_t *context, qv_loglevel_t loglevel)
{
    return context->logfunc != nullptr && context->loglevel >= loglevel;
}

} // namespace

const char *qv_syserror_clean(char *text)
{
    size_t length = std::strlen(text);
    while (length > 0 &&
           (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) {
        text[--length] = '\0';
    }
    return length ? text : "Unknown system error";
}

extern "C" {

void qv_status_set_error(qv_status_t *status, qv_status_t error)
{
    assert(status != nullptr);
    if (*status == QV_STATUS_SUCCESS)
        *status = error;
}

qv_status_t qv_context_new(qv_context_t **out)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;

    auto context = std::unique_ptr<qv_context_t>(new (std::nothrow) qv_context_t());
    if (!context)
        return QV_STATUS_NOMEMORY;

    context->logfunc = default_logfunc;

    // Without a timer the default handler stamps its lines with 0.000000.
    qv_timer_t *timer = nullptr;
    if (qv_timer_new(&timer) == QV_STATUS_SUCCESS)
        context->timer.reset(timer);

    *out = context.release();
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_context_free(qv_context_t *context)
{
    delete context;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_context_set_loglevel(qv_context_t *context, qv_loglevel_t loglevel)
{
    if (context == nullptr)
        return QV_STATUS_INVALIDARGS;

    std::lock_guard<std::mutex> guard(context->lock);
    context->loglevel = loglevel;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_context_set_logfunc(qv_context_t *context, qv_logfunc_t logfunc, void *userdata)
{
    if (context == nullptr)
        return QV_STATUS_INVALIDARGS;

    std::lock_guard<std::mutex> guard(context->lock);
    context->logfunc = logfunc;
    context->userdata = userdata;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_context_log(qv_context_t *context, qv_loglevel_t loglevel, const char *file,
                           unsigned int line, const char *function, const char *format, ...)
{
    if (context == nullptr)
        return QV_STATUS_INVALIDARGS;

    std::lock_guard<std::mutex> guard(context->lock);
    if (!wanted(context, loglevel))
        return QV_STATUS_SUCCESS;

    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(context->msg, sizeof(context->msg), format ? format : "", ap);
    va_end(ap);
    if (n < 0)
        context->msg[0] = '\0';

    context->logfunc(context, loglevel, file, line, function, context->msg, context->userdata);
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_context_syserror(qv_context_t *context, qv_loglevel_t loglevel, const char *file,
                                unsigned int line, const char *function, int errcode)
{
    if (context == nullptr)
        return QV_STATUS_INVALIDARGS;

    char buffer[256] = {};
    // The GNU strerror_r returns a pointer that may or may not be the buffer.
    const char *text = strerror_r(errcode, buffer, sizeof(buffer));
    char errmsg[256] = {};
    std::snprintf(errmsg, sizeof(errmsg), "%s", text ? text : "");

    return qv_context_log(context, loglevel, file, line, function, "%s (%d)",
                          qv_syserror_clean(errmsg), errcode);
}

qv_status_t qv_context_hexdump(qv_context_t *context, qv_loglevel_t loglevel, const char *file,
                               unsigned int line, const char *function, const char *prefix,
                               const unsigned char *data, unsigned int size)
{
    static const char hex[] = "0123456789ABCDEF";

    if (context == nullptr || prefix == nullptr)
        return QV_STATUS_INVALIDARGS;

    std::lock_guard<std::mutex> guard(context->lock);
    if (!wanted(context, loglevel))
        return QV_STATUS_SUCCESS;

    int head = std::snprintf(context->msg, sizeof(context->msg), "%s: size=%u, data=", prefix, size);
    size_t n = head < 0 ? 0 : static_cast<size_t>(head);
    if (n >= sizeof(context->msg))
        n = sizeof(context->msg) - 1;

    // As many whole bytes as fit together with the head and the terminator.
    size_t room = (sizeof(context->msg) - 1 - n) / 2;
    size_t count = data ? (size < room ? size : room) : 0;
    for (size_t i = 0; i < count; ++i) {
        context->msg[n++] = hex[(data[i] >> 4) & 0x0F];
        context->msg[n++] = hex[data[i] & 0x0F];
    }
    context->msg[n] = '\0';

    context->logfunc(context, loglevel, file, line, function, context->msg, context->userdata);
    return QV_STATUS_SUCCESS;
}

qv_transport_t qv_context_get_transports(qv_context_t *)
{
    return QV_TRANSPORT_SERIAL | QV_TRANSPORT_IRDA | QV_TRANSPORT_BLUETOOTH | QV_TRANSPORT_BLE;
}

} // extern "C"
