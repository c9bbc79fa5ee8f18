#include "platform.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>

extern "C" {

qv_status_t qv_platform_sleep(unsigned int milliseconds)
{
    struct timespec remaining = {};
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;

    while (nanosleep(&remaining, &remaining) != 0) {
        if (errno != EINTR)
            return QV_STATUS_IO;
    }
    return QV_STATUS_SUCCESS;
}

int qv_platform_vsnprintf(char *str, size_t size, const char *format, va_list ap)
{
    if (str == nullptr || size == 0)
        return -1;

    int n = std::vsnprintf(str, size, format, ap);
    if (n < 0) {
        // A formatting error leaves the contents undefined: make them empty.
        str[0] = '\0';
        return -1;
    }
    if (static_cast<size_t>(n) >= size) {
        // Cut short; vsnprintf has already terminated the text.
        str[size - 1] = '\0';
        return -1;
    }
    return n;
}

int qv_platform_snprintf(char *str, size_t size, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = qv_platform_vsnprintf(str, size, format, ap);
    va_end(ap);
    return n;
}

} // extern "C"
