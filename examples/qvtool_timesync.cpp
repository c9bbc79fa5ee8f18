// qvtool timesync: sets the clock of a dive computer to the host's local
// time.
#include "common.h"

#include <libquivelmarine/datetime.h>

namespace {

int timesync_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);

} // namespace

const qvtool_command_t qvtool_timesync = {
    timesync_run,
    QVTOOL_CONFIG_DESCRIPTOR,
    "timesync",
    "Synchronize the device clock",
    "Usage:\n"
    "   qvtool timesync [options]\n"
    "\n"
    "Options:\n"
    "   -h, --help               Show help message\n"
    "   -t, --transport <name>   Transport type\n",
};

namespace {

// Sets the clock of the device on the stream of the transport to datetime.
qv_status_t do_timesync(qv_context_t *context, const qv_descriptor_t *descriptor,
                        qv_transport_t transport, const char *devname, const qv_datetime_t *datetime)
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

        message("Synchronize the device clock.\n");
        status = qv_device_timesync(connection.device, datetime);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error synchronizing the device clock.");
            break;
        }
    } while (false);

    qvtool_device_disconnect(&connection);

    if (status != QV_STATUS_SUCCESS)
        message("ERROR: %s\n", qvtool_errmsg(status));

    return status;
}

int timesync_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {nullptr, 0, nullptr, 0},
    };

    bool help = false;
    qv_transport_t transport = qvtool_transport_default(descriptor);

    int opt;
    while ((opt = getopt_long(argc, argv, "ht:", options, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case 't':
            transport = qvtool_transport_type(optarg);
            break;
        default:
            return 1;
        }
    }

    if (help) {
        qvtool_command_help(&qvtool_timesync);
        return 0;
    }

    const char *devname = optind < argc ? argv[optind] : nullptr;

    if (transport == QV_TRANSPORT_NONE) {
        message("No valid transport type specified.\n");
        return 1;
    }

    // The host's time now, in its local time zone with the zone's offset
    // from UTC, taken before connecting.
    qv_datetime_t datetime = {};
    qv_ticks_t now = qv_datetime_now();
    if (now == -1 || qv_datetime_localtime(&datetime, now) == nullptr) {
        message("ERROR: Failed to get the system time.\n");
        return 1;
    }

    qv_status_t status = do_timesync(context, descriptor, transport, devname, &datetime);

    return status == QV_STATUS_SUCCESS ? 0 : 1;
}

} // namespace
