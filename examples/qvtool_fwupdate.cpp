// qvtool fwupdate: loads a firmware file into a dive computer whose backend
// can update its firmware.
#include "common.h"

namespace {

int fwupdate_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);

} // namespace

const qvtool_command_t qvtool_fwupdate = {
    fwupdate_run,
    QVTOOL_CONFIG_DESCRIPTOR,
    "fwupdate",
    "Update the firmware",
    "Usage:\n"
    "   qvtool fwupdate [options]\n"
    "\n"
    "Options:\n"
    "   -h, --help                  Show help message\n"
    "   -t, --transport <name>      Transport type\n"
    "   -f, --firmware <filename>   Firmware filename\n",
};

namespace {

// A backend's firmware update: loads the firmware file into the open device.
typedef qv_status_t (*fwupdate_func_t)(qv_device_t *device, const char *filename);

struct fwupdate_entry {
    qv_family_t family;
    fwupdate_func_t update; // null while the family's backend is not part of this build
};

// The families whose devices take a firmware update. Every other family
// gives QV_STATUS_UNSUPPORTED.
const fwupdate_entry updaters[] = {
    {QV_FAMILY_HW_OSTC, nullptr},          // hw_ostc_device_fwupdate
    {QV_FAMILY_HW_OSTC3, nullptr},         // hw_ostc3_device_fwupdate
    {QV_FAMILY_DIVESYSTEM_IDIVE, nullptr}, // divesystem_idive_device_fwupdate
};

// Loads the firmware file into the device through its family's update.
qv_status_t fwupdate_device(qv_device_t *device, const char *filename)
{
    qv_family_t family = qv_device_get_type(device);
    for (const auto &entry : updaters) {
        if (entry.family == family)
            return entry.update != nullptr ? entry.update(device, filename) : QV_STATUS_UNSUPPORTED;
    }
    return QV_STATUS_UNSUPPORTED;
}

// Updates the firmware of the device on the stream of the transport with the
// firmware file.
qv_status_t fwupdate(qv_context_t *context, const qv_descriptor_t *descriptor, qv_transport_t transport,
                     const char *devname, const char *filename)
{
    qvtool_connection_t connection = {nullptr, nullptr};
    const char *failure = nullptr;
    qv_status_t status = QV_STATUS_SUCCESS;

    do {
        // An update reports its progress only.
        status = qvtool_device_connect(&connection, context, descriptor, transport, devname,
                                       QV_EVENT_PROGRESS, &failure);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR(failure);
            break;
        }

        message("Updating the firmware.\n");
        status = fwupdate_device(connection.device, filename);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error updating the firmware.");
            break;
        }
    } while (false);

    qvtool_device_disconnect(&connection);

    if (status != QV_STATUS_SUCCESS)
        message("ERROR: %s\n", qvtool_errmsg(status));

    return status;
}

int fwupdate_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {"firmware", required_argument, nullptr, 'f'},
        {nullptr, 0, nullptr, 0},
    };

    bool help = false;
    qv_transport_t transport = qvtool_transport_default(descriptor);
    const char *filename = nullptr;

    int opt;
    while ((opt = getopt_long(argc, argv, "ht:f:", options, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case 't':
            transport = qvtool_transport_type(optarg);
            break;
        case 'f':
            filename = optarg;
            break;
        default:
            return 1;
        }
    }

    if (help) {
        qvtool_command_help(&qvtool_fwupdate);
        return 0;
    }

    const char *devname = optind < argc ? argv[optind] : nullptr;

    if (transport == QV_TRANSPORT_NONE) {
        message("No valid transport type specified.\n");
        return 1;
    }

    if (filename == nullptr) {
        message("No firmware file specified.\n");
        return 1;
    }

    qv_status_t status = fwupdate(context, descriptor, transport, devname, filename);

    return status == QV_STATUS_SUCCESS ? 0 : 1;
}

} // namespace
