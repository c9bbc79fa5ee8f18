#include <libquivelmarine/version.h>

#include "revision.h"

#define QV_STRINGIFY_(x) #x
#define QV_STRINGIFY(x) QV_STRINGIFY_(x)

extern "C" {

const char *qv_version(qv_version_t *version)
{
    static const char text[] = QV_STRINGIFY(QV_VERSION_MAJOR) "." QV_STRINGIFY(
        QV_VERSION_MINOR) "." QV_STRINGIFY(QV_VERSION_MICRO) "-devel (" QV_VERSION_REVISION ")";

    if (version) {
        version->major = QV_VERSION_MAJOR;
        version->minor = QV_VERSION_MINOR;
        version->micro = QV_VERSION_MICRO;
    }
    return text;
}

int qv_version_check(unsigned int major, unsigned int minor, unsigned int micro)
{
    // Compatible with every earlier minor release of major version 0, and
    // with exactly this release.
    if (major != QV_VERSION_MAJOR)
        return 0;
    if (minor < QV_VERSION_MINOR)
        return 1;
    return minor == QV_VERSION_MINOR && micro == QV_VERSION_MICRO;
}

} // extern "C"
