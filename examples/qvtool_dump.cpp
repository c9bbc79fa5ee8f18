// qvtool dump: downloads a memory dump of a dive computer.
// This build does not provide the command yet: it answers -h/--help with its
// usage and otherwise fails with a clear message.
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

int dump_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {"output", required_argument, nullptr, 'o'},
        {"fingerprint", required_argument, nullptr, 'p'},
        {nullptr, 0, nullptr, 0},
    };
    return qvtool_command_unavailable(&qvtool_dump, argc, argv, "ht:o:p:", options);
}

} // namespace
