// qvtool timesync: sets the clock of a dive computer.
// This build does not provide the command yet: it answers -h/--help with its
// usage and otherwise fails with a clear message.
#include "common.h"

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

int timesync_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {nullptr, 0, nullptr, 0},
    };
    return qvtool_command_unavailable(&qvtool_timesync, argc, argv, "ht:", options);
}

} // namespace
