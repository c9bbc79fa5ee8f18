/*
 * libquivelmarine: the library context and logging.
 *
 * Every object of the library carries a pointer to one context, through which
 * it writes its diagnostics. The context is created and freed by the caller
 * and must outlive every object made with it. Its lock serialises log output
 * and changes of level and handler, so one context may be shared by objects
 * used on several threads. The log handler runs while that lock is held: it
 * must not log through the same context.
 */
#ifndef QV_CONTEXT_H
#define QV_CONTEXT_H

#include <libquivelmarine/common.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qv_context_t qv_context_t;

/* Log levels: a message of level L is delivered when the context's level >= L. */
typedef uint32_t qv_loglevel_t;

#define QV_LOGLEVEL_NONE    0u
#define QV_LOGLEVEL_ERROR   1u
#define QV_LOGLEVEL_WARNING 2u
#define QV_LOGLEVEL_INFO    3u
#define QV_LOGLEVEL_DEBUG   4u
#define QV_LOGLEVEL_ALL     5u

/*
 * Log handler: called with the context, the message's level, the source file,
 * line and function that logged it, the formatted message and the user data
 * given with qv_context_set_logfunc. The message is valid during the call only.
 */
typedef void (*qv_logfunc_t)(qv_context_t *context, qv_loglevel_t loglevel,
                             const char *file, unsigned int line, const char *function,
                             const char *message, void *userdata);

/*
 * Creates a context with level QV_LOGLEVEL_WARNING and the default handler,
 * which writes time-stamped lines to standard error.
 * Returns QV_STATUS_INVALIDARGS without out, QV_STATUS_NOMEMORY when memory
 * runs out. The caller frees the context with qv_context_free.
 */
QV_EXPORT qv_status_t qv_context_new(qv_context_t **out);

/* Frees the context; NULL is accepted. Always QV_STATUS_SUCCESS. */
QV_EXPORT qv_status_t qv_context_free(qv_context_t *context);

/* Sets the log level. QV_STATUS_INVALIDARGS without a context. */
QV_EXPORT qv_status_t qv_context_set_loglevel(qv_context_t *context, qv_loglevel_t loglevel);

/*
 * Sets the log handler and its user data; a NULL handler silences the context.
 * QV_STATUS_INVALIDARGS without a context.
 */
QV_EXPORT qv_status_t qv_context_set_logfunc(qv_context_t *context, qv_logfunc_t logfunc, void *userdata);

/*
 * Logs a printf-style message at the given level. The level is tested before
 * anything is formatted; a message longer than the context's 16416-byte
 * buffer is cut. QV_STATUS_INVALIDARGS (and nothing logged) without a context.
 */
QV_EXPORT qv_status_t qv_context_log(qv_context_t *context, qv_loglevel_t loglevel,
                                     const char *file, unsigned int line, const char *function,
                                     const char *format, ...) QV_ATTR_FORMAT_PRINTF(6, 7);

/*
 * Logs the operating system's text for the error code errcode (an errno
 * value) as "%s (%d)", with trailing newlines, carriage returns and full
 * stops removed; "Unknown system error" when no text remains.
 */
QV_EXPORT qv_status_t qv_context_syserror(qv_context_t *context, qv_loglevel_t loglevel,
                                          const char *file, unsigned int line, const char *function,
                                          int errcode);

/*
 * Logs "<prefix>: size=<size>, data=" followed by two upper-case hexadecimal
 * digits per byte, cut to fit the message buffer.
 * QV_STATUS_INVALIDARGS without a context or a prefix.
 */
QV_EXPORT qv_status_t qv_context_hexdump(qv_context_t *context, qv_loglevel_t loglevel,
                                         const char *file, unsigned int line, const char *function,
                                         const char *prefix, const unsigned char *data, unsigned int size);

/*
 * The transports this build of the library implements, as a bit set:
 * serial, IrDA, Bluetooth and BLE (57). USB and USB HID are not among them.
 */
QV_EXPORT qv_transport_t qv_context_get_transports(qv_context_t *context);

#ifdef __cplusplus
}
#endif

#endif /* QV_CONTEXT_H */
