/* Every public header compiles as C11, and a few calls link against the shared library. */
#include <libquivelmarine/buffer.h>
#include <libquivelmarine/checksum.h>
#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/datetime.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/device.h>
#include <libquivelmarine/iostream.h>
#include <libquivelmarine/irda.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/parser.h>
#include <libquivelmarine/serial.h>
#include <libquivelmarine/version.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            failures++;                                                              \
        }                                                                            \
    } while (0)

int main(void)
{
    qv_context_t *context = NULL;
    qv_version_t version;
    const char *text = qv_version(&version);
    qv_iterator_t *iterator = NULL;
    qv_descriptor_t *descriptor = NULL;
    unsigned int rows = 0;
    qv_buffer_t *buffer = NULL;
    const unsigned char digits[] = "123456789";
    qv_datetime_t datetime;
    qv_iostream_t *stream = NULL;
    qv_device_t *device = NULL;

    CHECK(version.major == 0 && version.minor == 10 && version.micro == 0);
    CHECK(strncmp(text, "0.10.0-devel (", 14) == 0);
    CHECK(qv_version_check(0, 10, 0));
    CHECK(!qv_version_check(0, 11, 0));

    CHECK(qv_context_new(&context) == QV_STATUS_SUCCESS);
    CHECK(qv_context_set_loglevel(context, QV_LOGLEVEL_NONE) == QV_STATUS_SUCCESS);
    CHECK(qv_context_get_transports(context) == 57);

    CHECK(qv_descriptor_iterator_new(&iterator) == QV_STATUS_SUCCESS);
    while (qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS)
        rows++;
    CHECK(rows == 358);
    CHECK(qv_iterator_free(iterator) == QV_STATUS_SUCCESS);

    buffer = qv_buffer_new(0);
    CHECK(buffer != NULL);
    CHECK(qv_buffer_append(buffer, digits, 9));
    CHECK(qv_buffer_get_size(buffer) == 9);
    CHECK(qv_checksum_crc32r(qv_buffer_get_data(buffer), qv_buffer_get_size(buffer)) == 0xCBF43926u);
    qv_buffer_free(buffer);

    CHECK(qv_datetime_gmtime(&datetime, 0) == &datetime);
    CHECK(datetime.year == 1970 && datetime.timezone == 0);
    CHECK(qv_datetime_mktime(&datetime) == 0);

    CHECK(qv_serial_open(&stream, context, "/dev/qv-no-such-port") == QV_STATUS_NODEVICE);
    CHECK(qv_device_open(&device, context, NULL, NULL) == QV_STATUS_INVALIDARGS);
    CHECK(qv_iostream_close(NULL) == QV_STATUS_SUCCESS);
    CHECK(qv_irda_device_get_name(NULL) == NULL);

    CHECK(qv_context_free(context) == QV_STATUS_SUCCESS);

    return failures == 0 ? 0 : 1;
}
