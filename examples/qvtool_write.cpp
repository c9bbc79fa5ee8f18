// qvtool write: writes the content of a file (or of standard input) to the
// internal memory of a dive computer.
#include "common.h"

#include <climits>
#include <cstdlib>

namespace {

int write_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);

} // namespace

const qvtool_command_t qvtool_write = {
    write_run,
    QVTOOL_CONFIG_DESCRIPTOR,
    "write",
    "Write data to the internal memory",
    "Usage:\n"
    "   qvtool write [options] <devname>\n"
    "\n"
    "Options:\n"
    "   -h, --help                Show help message\n"
    "   -t, --transport <name>    Transport type\n"
    "   -a, --address <address>   Memory address\n"
    "   -c, --count <count>       Number of bytes\n"
    "   -i, --input <filename>    Input filename\n",
};

namespace {

// Writes the content of buffer at address to the device on the stream of
// the transport.
qv_status_t dowrite(qv_context_t *context, const qv_descriptor_t *descriptor, qv_transport_t transport,
                    const char *devname, unsigned int address, const qv_buffer_t *buffer)
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

        message("Writing data to the internal memory.\n");
        status = qv_device_write(connection.device, address, qv_buffer_get_data(buffer),
                                 qv_buffer_get_size(buffer));
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error writing to the internal memory.");
            break;
        }
    } while (false);

    qvtool_device_disconnect(&connection);

    if (status != QV_STATUS_SUCCESS)
        message("ERROR: %s\n", qvtool_errmsg(status));

    return status;
}

int write_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {"address", required_argument, nullptr, 'a'},
        {"count", required_argument, nullptr, 'c'},
        {"input", required_argument, nullptr, 'i'},
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
    while ((opt = getopt_long(argc, argv, "ht:a:c:i:", options, nullptr)) != -1) {
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
        case 'i':
            filename = optarg;
            break;
        default:
            return 1;
        }
    }

    if (help) {
        qvtool_command_help(&qvtool_write);
        return 0;
    }

    const char *devname = optind < argc ? argv[optind] : nullptr;

    if (transport == QV_TRANSPORT_NONE) {
        message("No valid transport type specified.\n");
        return 1;
    }

    if (!have_address) {
        message("No memory address specified.\n");
        return 1;
    }

    // An address beyond the 32-bit range is not cut down to a smaller one
    // that exists: it stays out of every device's range.
    if (address > UINT_MAX)
        address = UINT_MAX;

    // Without -i the data come from standard input.
    qv_buffer_t *buffer = qvtool_file_read(filename);
    if (buffer == nullptr) {
        message("Failed to read the input file.\n");
        return 1;
    }

    if (have_count && count != qv_buffer_get_size(buffer)) {
        message("Number of bytes doesn't match file length.\n");
        qv_buffer_free(buffer);
        return 1;
    }

    qv_status_t status = dowrite(context, descriptor, transport, devname,
                                 static_cast<unsigned int>(address), buffer);

    qv_buffer_free(buffer);

    return status == QV_STATUS_SUCCESS ? 0 : 1;
}

} // namespace
