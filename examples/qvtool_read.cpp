// qvtool read: reads a range of the internal memory of a dive computer into
// a file, or in binary to standard output.
#include "common.h"

#include <climits>
#include <cstdlib>

namespace {

int read_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);

} // namespace

const qvtool_command_t qvtool_read = {
    read_run,
    QVTOOL_CONFIG_DESCRIPTOR,
    "read",
    "Read data from the internal memory",
    "Usage:\n"
    "   qvtool read [options] <devname>\n"
    "\n"
    "Options:\n"
    "   -h, --help                 Show help message\n"
    "   -t, --transport <name>     Transport type\n"
    "   -a, --address <address>    Memory address\n"
    "   -c, --count <count>        Number of bytes\n"
    "   -o, --output <filename>    Output filename\n",
};

namespace {

// Reads the bytes of buffer (its size is the count) at address from the
// device on the stream of the transport and, once device and stream are
// closed, saves them to the file (standard output without a name).
qv_status_t doread(qv_context_t *context, const qv_descriptor_t *descriptor, qv_transport_t transport,
                   const char *devname, unsigned int address, qv_buffer_t *buffer, const char *filename)
{
    qvtool_connection_t connection = {nullptr, nullptr};
    const char *failure = nullptr;
    qv_status_t status = QV_STATUS_SUCCESS;

    do {
        status = qvtool_device_connect(&connection, context, descriptor, transport, devname,
                                       QVTOOL_EVENTS_ALL, &failure);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR(failure);
            break;
        }

        message("Reading data from the internal memory.\n");
        status = qv_device_read(connection.device, address, qv_buffer_get_data(buffer),
                                qv_buffer_get_size(buffer));
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error reading from the internal memory.");
            break;
        }
    } while (false);

    qvtool_device_disconnect(&connection);

    // Only what was read completely is saved.
    if (status == QV_STATUS_SUCCESS) {
        status = qvtool_file_write(filename, buffer);
        if (status != QV_STATUS_SUCCESS)
            QVTOOL_ERROR("Failed to write the output file.");
    }

    if (status != QV_STATUS_SUCCESS)
        message("ERROR: %s\n", qvtool_errmsg(status));

    return status;
}

int read_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {"address", required_argument, nullptr, 'a'},
        {"count", required_argument, nullptr, 'c'},
        {"output", required_argument, nullptr, 'o'},
        {nullptr, 0, nullptr, 0},
    };

    bool help = false;
    qv_transport_t transport = qvtool_transport_default(descriptor);
    bool have_address = false;
    unsigned long address = 0;
    bool have_count = false;
    unsigned long count = 0;
    const char *filename = nullptr;

    int opt;
    while ((opt = getopt_long(argc, argv, "ht:a:c:o:", options, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case 't':
            transport = qvtool_transport_type(optarg);
            break;
        case 'a':
            address = std::strtoul(optarg, nullptr, 0);
            have_address = true;
            break;
        case 'c':
            count = std::strtoul(optarg, nullptr, 0);
            have_count = true;
            break;
        case 'o':
            filename = optarg;
            break;
        default:
            return 1;
        }
    }

    if (help) {
        qvtool_command_help(&qvtool_read);
        return 0;
    }

    const char *devname = optind < argc ? argv[optind] : nullptr;

    if (transport == QV_TRANSPORT_NONE) {
        message("No valid transport type specified.\n");
        return 1;
    }

    if (!have_address || !have_count) {
        message("No memory address or byte count specified.\n");
        return 1;
    }

    // An address beyond the 32-bit range is not cut down to a smaller one
    // that exists: it stays out of every device's range.
    if (address > UINT_MAX)
        address = UINT_MAX;

    qv_buffer_t *buffer = qv_buffer_new(count);
    if (buffer == nullptr || !qv_buffer_resize(buffer, count)) {
        message("Failed to allocate a memory buffer.\n");
        qv_buffer_free(buffer);
        return 1;
    }

    qv_status_t status = doread(context, descriptor, transport, devname,
                                static_cast<unsigned int>(address), buffer, filename);

    qv_buffer_free(buffer);

    return status == QV_STATUS_SUCCESS ? 0 : 1;
}

} // namespace
