// Operating-system services used throughout the library: sleeping and
// bounded text formatting.
#ifndef QV_PLATFORM_H
#define QV_PLATFORM_H

#include <libquivelmarine/common.h>

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

// Suspends the calling thread for the given number of milliseconds; an
// interrupted sleep is resumed for the time that remains. Returns
// QV_STATUS_SUCCESS, or QV_STATUS_IO when the system refuses to sleep.
qv_status_t qv_platform_sleep(unsigned int milliseconds);

// Formats into str, which holds size bytes; the text is always terminated
// (when size > 0), and cut short when it does not fit. Returns the number of
// characters written (without the terminator), or -1 when size is 0, str is
// NULL, the text did not fit or could not be formatted.
int qv_platform_snprintf(char *str, size_t size, const char *format, ...) QV_ATTR_FORMAT_PRINTF(3, 4);
int qv_platform_vsnprintf(char *str, size_t size, const char *format, va_list ap) QV_ATTR_FORMAT_PRINTF(3, 0);

#ifdef __cplusplus
}
#endif

#endif
