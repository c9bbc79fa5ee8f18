/* Every public header compiles as C11, and a few calls link against the shared library. */
#include <libquivelmarine/buffer.h>
#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/version.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            failures++;                                                    \
        }                                                                  \
    } while (0)

int main(void)
{
    qv_context_t *context = NULL;
    qv_version_t version;
    const char *text = qv_version(&version);

    CHECK(version.major == 0 && version.minor == 10 && version.micro == 0);
    CHECK(strncmp(text, "0.10.0-devel (", 14) == 0);
    CHECK(qv_version_check(0, 10, 0));
    CHECK(!qv_version_check(0, 11, 0));

    CHECK(qv_context_new(&context) == QV_STATUS_SUCCESS);
    CHECK(qv_context_set_loglevel(context, QV_LOGLEVEL_NONE) == QV_STATUS_SUCCESS);
    CHECK(qv_context_get_transports(context) == 57);
    CHECK(qv_context_free(context) == QV_STATUS_SUCCESS);

    return failures == 0 ? 0 : 1;
}
