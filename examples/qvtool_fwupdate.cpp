// qvtool fwupdate: updates the firmware of a dive computer.
// This build does not provide the command yet: it answers -h/--help with its
// usage and otherwise fails with a clear message.
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

int fwupdate_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {"firmware", required_argument, nullptr, 'f'},
        {nullptr, 0, nullptr, 0},
    };
    return qvtool_command_unavailable(&qvtool_fwupdate, argc, argv, "ht:f:", options);
}

} // namespace
