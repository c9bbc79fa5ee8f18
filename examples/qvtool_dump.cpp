// qvtool dump: downloads the whole memory image of a dive computer into a
// file, or in binary to standard output.
#include "common.h"

namespace {

int dump_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);

} // namespace

const qvtool_command_t qvtool_dump = {
    dump_run,
    QVTOOL_CONFIG_DESCRIPTOR,
    "dump",
    "Download a memory dump",
    "Usage:\n"
    "   qvtool dump [options] <devname>\n"
    "\n"
    "Options:\n"
    "   -h, --help                 Show help message\n"
    "   -t, --transport <name>     Transport type\n"
    "   -o, --output <filename>    Output filename\n"
    "   -p, --fingerprint <data>   Fingerprint data (hexadecimal)\n",
};

namespace {

// Reads the memory image of the device on the stream of the transport into
// buffer and, once device and stream are closed, saves it to the file
// (standard output without a name).
qv_status_t dump(qv_context_t *context, const qv_descriptor_t *descriptor, qv_transport_t transport,
                 const char *devname, const qv_buffer_t *fingerprint, qv_buffer_t *buffer,
                 const char *filename)
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

        if (fingerprint != nullptr) {
            message("Registering the fingerprint data.\n");
            status = qv_device_set_fingerprint(connection.device, qv_buffer_get_data(fingerprint),
                                               static_cast<unsigned int>(qv_buffer_get_size(fingerprint)));
            if (status != QV_STATUS_SUCCESS) {
                QVTOOL_ERROR("Error registering the fingerprint data.");
                break;
            }
        }

        message("Downloading the memory dump.\n");
        status = qv_device_dump(connection.device, buffer);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error downloading the memory dump.");
            break;
        }
    } while (false);

    qvtool_device_disconnect(&connection);

    // Only a complete image is saved.
    if (status == QV_STATUS_SUCCESS) {
        status = qvtool_file_write(filename, buffer);
        if (status != QV_STATUS_SUCCESS)
            QVTOOL_ERROR("Failed to write the output file.");
    }

    if (status != QV_STATUS_SUCCESS)
        message("ERROR: %s\n", qvtool_errmsg(status));

    return status;
}

int dump_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {"output", required_argument, nullptr, 'o'},
        {"fingerprint", required_argument, nullptr, 'p'},
        {nullptr, 0, nullptr, 0},
    };

    bool help = false;
    qv_transport_t transport = qvtool_transport_default(descriptor);
    const char *filename = nullptr;
    const char *fphex = nullptr;

    int opt;
    while ((opt = getopt_long(argc, argv, "ht:o:p:", options, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case 't':
            transport = qvtool_transport_type(optarg);
            break;
        case 'o':
            filename = optarg;
            break;
        case 'p':
            fphex = optarg;
            break;
        default:
            return 1;
        }
    }

    if (help) {
        qvtool_command_help(&qvtool_dump);
        return 0;
    }

    const char *devname = optind < argc ? argv[optind] : nullptr;

    if (transport == QV_TRANSPORT_NONE) {
        message("No valid transport type specified.\n");
        return 1;
    }

    qv_buffer_t *fingerprint = qvtool_convert_hex2bin(fphex);

    qv_buffer_t *buffer = qv_buffer_new(0);
    if (buffer == nullptr) {
        message("Failed to allocate a memory buffer.\n");
        qv_buffer_free(fingerprint);
        return 1;
    }

    qv_status_t status = dump(context, descriptor, transport, devname, fingerprint, buffer, filename);

    qv_buffer_free(buffer);
    qv_buffer_free(fingerprint);

    return status == QV_STATUS_SUCCESS ? 0 : 1;
}

} // namespace
