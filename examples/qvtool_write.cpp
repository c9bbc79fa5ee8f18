// qvtool write: writes a range of the internal memory of a dive computer.
// This build does not provide the command yet: it answers -h/--help with its
// usage and otherwise fails with a clear message.
#include "common.h"

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

int write_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {"address", required_argument, nullptr, 'a'},
        {"count", required_argument, nullptr, 'c'},
        {"input", required_argument, nullptr, 'i'},
        {nullptr, 0, nullptr, 0},
    };
    return qvtool_command_unavailable(&qvtool_write, argc, argv, "ht:a:c:i:", options);
}

} // namespace
