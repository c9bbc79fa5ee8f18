/*
 * libquivelmarine: version information.
 */
#ifndef QV_VERSION_H
#define QV_VERSION_H

#include <libquivelmarine/common.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QV_VERSION_MAJOR 0
#define QV_VERSION_MINOR 10
#define QV_VERSION_MICRO 0

typedef struct qv_version_t {
    unsigned int major;
    unsigned int minor;
    unsigned int micro;
} qv_version_t;

/*
 * Fills *version (when given) with the library's version numbers and returns
 * the version text "0.10.0-devel (REV)", REV naming the source revision the
 * library was built from. The text is static.
 */
QV_EXPORT const char *qv_version(qv_version_t *version);

/*
 * Non-zero when the library is at least the given version and compatible
 * with it: same major version 0 and a minor version below 10, or exactly
 * 0.10.0.
 */
QV_EXPORT int qv_version_check(unsigned int major, unsigned int minor, unsigned int micro);

#ifdef __cplusplus
}
#endif

#endif /* QV_VERSION_H */
