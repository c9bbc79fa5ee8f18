// qvtool parse: decodes previously downloaded raw dives.
// This build does not provide the command yet: it answers -h/--help with its
// usage and otherwise fails with a clear message.
#include "common.h"

namespace {

int parse_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);

} // namespace

const qvtool_command_t qvtool_parse = {
    parse_run,
    QVTOOL_CONFIG_DESCRIPTOR,
    "parse",
    "Parse previously downloaded dives",
    "Usage:\n"
    "   qvtool parse [options] <filename>\n"
    "\n"
    "Options:\n"
    "   -h, --help                 Show help message\n"
    "   -o, --output <filename>    Output filename\n"
    "   -d, --devtime <timestamp>  Device time\n"
    "   -s, --systime <timestamp>  System time\n"
    "   -u, --units <units>        Set units (metric or imperial)\n",
};

namespace {

int parse_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"output", required_argument, nullptr, 'o'},
        {"devtime", required_argument, nullptr, 'd'},
        {"systime", required_argument, nullptr, 's'},
        {"units", required_argument, nullptr, 'u'},
        {nullptr, 0, nullptr, 0},
    };
    return qvtool_command_unavailable(&qvtool_parse, argc, argv, "ho:d:s:u:", options);
}

} // namespace
