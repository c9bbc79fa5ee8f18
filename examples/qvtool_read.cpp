// qvtool read: reads a range of the internal memory of a dive computer.
// This build does not provide the command yet: it answers -h/--help with its
// usage and otherwise fails with a clear message.
#include "common.h"

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

int read_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {"address", required_argument, nullptr, 'a'},
        {"count", required_argument, nullptr, 'c'},
        {"output", required_argument, nullptr, 'o'},
        {nullptr, 0, nullptr, 0},
    };
    return qvtool_command_unavailable(&qvtool_read, argc, argv, "ht:a:c:o:", options);
}

} // namespace
