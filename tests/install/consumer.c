/* A program built against an installed copy of the library. */
#include <libquivelmarine/context.h>
#include <libquivelmarine/version.h>

#include <stdio.h>

int main(void)
{
    qv_context_t *context = NULL;
    if (qv_context_new(&context) != QV_STATUS_SUCCESS)
        return 1;
    printf("%s\n", qv_version(NULL));
    qv_context_free(context);
    return qv_version_check(0, 10, 0) ? 0 : 1;
}
