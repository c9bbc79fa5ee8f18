// qvtool parse: decodes previously downloaded raw dives (one dive record
// per file) into an XML file.
#include "common.h"
#include "output.h"

#include <libquivelmarine/parser.h>

#include <cstdlib>
#include <cstring>

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

// Result of parsing one file.
enum class parse_result_t {
    ok,
    no_input, // the file could not be read
    failed,   // the dive could not be decoded (already reported)
};

// Decodes the dive stored in the file with the parser of the descriptor's
// family and model and writes it through the output.
parse_result_t parse(qv_context_t *context, const qv_descriptor_t *descriptor, const char *filename,
                     unsigned int devtime, qv_ticks_t systime, qvtool_output_t *output)
{
    qv_buffer_t *buffer = qvtool_file_read(filename);
    if (buffer == nullptr) {
        message("Failed to open the input file.\n");
        return parse_result_t::no_input;
    }

    const unsigned char *data = qv_buffer_get_data(buffer);
    size_t size = qv_buffer_get_size(buffer);
    qv_parser_t *parser = nullptr;
    qv_status_t status = QV_STATUS_SUCCESS;

    do {
        message("Creating the parser.\n");
        status = qv_parser_new2(&parser, context, descriptor, data, size);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error creating the parser.");
            break;
        }

        message("Setting the clock.\n");
        status = qv_parser_set_clock(parser, devtime, systime);
        if (status != QV_STATUS_SUCCESS && status != QV_STATUS_UNSUPPORTED) {
            QVTOOL_ERROR("Error setting the clock.");
            break;
        }
        status = QV_STATUS_SUCCESS;

        message("Parsing the dive data.\n");
        status = qvtool_output_write(output, parser, data, static_cast<unsigned int>(size), nullptr, 0);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error parsing the dive data.");
            break;
        }
    } while (false);

    qv_parser_destroy(parser);
    qv_buffer_free(buffer);

    if (status != QV_STATUS_SUCCESS) {
        message("ERROR: %s\n", qvtool_errmsg(status));
        return parse_result_t::failed;
    }
    return parse_result_t::ok;
}

int parse_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"output", required_argument, nullptr, 'o'},
        {"devtime", required_argument, nullptr, 'd'},
        {"systime", required_argument, nullptr, 's'},
        {"units", required_argument, nullptr, 'u'},
        {nullptr, 0, nullptr, 0},
    };

    bool help = false;
    const char *filename = nullptr;
    unsigned int devtime = 0;
    qv_ticks_t systime = 0;
    qvtool_units_t units = QVTOOL_UNITS_METRIC;

    int opt;
    while ((opt = getopt_long(argc, argv, "ho:d:s:u:", options, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case 'o':
            filename = optarg;
            break;
        case 'd':
            devtime = static_cast<unsigned int>(std::strtoul(optarg, nullptr, 0));
            break;
        case 's':
            systime = static_cast<qv_ticks_t>(std::strtoll(optarg, nullptr, 0));
            break;
        case 'u':
            if (std::strcmp(optarg, "metric") == 0)
                units = QVTOOL_UNITS_METRIC;
            else if (std::strcmp(optarg, "imperial") == 0)
                units = QVTOOL_UNITS_IMPERIAL;
            break;
        default:
            return 1;
        }
    }

    if (help) {
        qvtool_command_help(&qvtool_parse);
        return 0;
    }

    qvtool_output_t *output = qvtool_xml_output_new(filename, units);
    if (output == nullptr) {
        message("Failed to create the output.\n");
        return 1;
    }

    int exitcode = 0;
    for (int i = optind; i < argc; ++i) {
        if (parse(context, descriptor, argv[i], devtime, systime, output) != parse_result_t::ok) {
            exitcode = 1;
            break;
        }
    }

    qvtool_output_free(output);
    return exitcode;
}

} // namespace
