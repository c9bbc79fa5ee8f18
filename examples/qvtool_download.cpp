// qvtool download: downloads the dives of a dive computer.
// This build does not provide the command yet: it answers -h/--help with its
// usage and otherwise fails with a clear message.
#include "common.h"

namespace {

int download_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);

} // namespace

const qvtool_command_t qvtool_download = {
    download_run,
    QVTOOL_CONFIG_DESCRIPTOR,
    "download",
    "Download the dives",
    "Usage:\n"
    "   qvtool download [options] <devname>\n"
    "\n"
    "Options:\n"
    "   -h, --help                 Show help message\n"
    "   -t, --transport <name>     Transport type\n"
    "   -o, --output <filename>    Output filename\n"
    "   -p, --fingerprint <data>   Fingerprint data (hexadecimal)\n"
    "   -c, --cache <directory>    Cache directory\n"
    "   -f, --format <format>      Output format\n"
    "   -u, --units <units>        Set units (metric or imperial)\n"
    "   -l, --limit <number>       Maximum number of dives to download\n"
    "\n"
    "Supported output formats:\n"
    "\n"
    "   XML (default)\n"
    "\n"
    "      All dives are exported to a single xml file.\n"
    "\n"
    "   RAW\n"
    "\n"
    "      Each dive is exported to a raw (binary) file. To output multiple\n"
    "      files, the filename is interpreted as a template and should\n"
    "      contain one or more placeholders.\n"
    "\n"
    "Supported template placeholders:\n"
    "\n"
    "   %f   Fingerprint (hexadecimal format)\n"
    "   %n   Number (4 digits)\n"
    "   %t   Timestamp (basic ISO 8601 date/time format)\n",
};

namespace {

int download_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {"output", required_argument, nullptr, 'o'},
        {"fingerprint", required_argument, nullptr, 'p'},
        {"cache", required_argument, nullptr, 'c'},
        {"format", required_argument, nullptr, 'f'},
        {"units", required_argument, nullptr, 'u'},
        {"limit", required_argument, nullptr, 'l'},
        {nullptr, 0, nullptr, 0},
    };
    return qvtool_command_unavailable(&qvtool_download, argc, argv, "ht:o:p:c:f:u:l:", options);
}

} // namespace
