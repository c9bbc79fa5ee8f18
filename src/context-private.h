// Logging for library code. Every call site records its source file, line and
// enclosing function, which appear in error and warning lines.
#ifndef QV_CONTEXT_PRIVATE_H
#define QV_CONTEXT_PRIVATE_H

#include <libquivelmarine/context.h>

#define QV_ERROR(context, ...) \
    qv_context_log((context), QV_LOGLEVEL_ERROR, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define QV_WARNING(context, ...) \
    qv_context_log((context), QV_LOGLEVEL_WARNING, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define QV_INFO(context, ...) \
    qv_context_log((context), QV_LOGLEVEL_INFO, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define QV_DEBUG(context, ...) \
    qv_context_log((context), QV_LOGLEVEL_DEBUG, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define QV_SYSERROR(context, errcode) \
    qv_context_syserror((context), QV_LOGLEVEL_ERROR, __FILE__, __LINE__, __func__, (errcode))
#define QV_HEXDUMP(context, loglevel, prefix, data, size) \
    qv_context_hexdump((context), (loglevel), __FILE__, __LINE__, __func__, (prefix), (data), (size))

// Strips trailing newlines, carriage returns and full stops from a system
// error text in place; returns the text, or "Unknown system error" when
// nothing is left.
const char *qv_syserror_clean(char *text);

#endif
