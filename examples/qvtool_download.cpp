// qvtool download: downloads the dives of a dive computer into an XML file
// or raw per-dive files, optionally keeping a fingerprint cache so that the
// next download stops at the newest dive already fetched.
#include "common.h"
#include "output.h"

#include <libquivelmarine/parser.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

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

// What the event callback needs: the cache directory (null when the cache
// is not to be read) and the identification of the last devinfo event.
struct event_data_t {
    const char *cachedir;
    unsigned int model;
    unsigned int firmware;
    unsigned int serial;
};

// What the dive callback needs.
struct dive_data_t {
    qv_device_t *device;
    qv_buffer_t **fingerprint; // receives a copy of the first (newest) dive's fingerprint
    unsigned int number;       // dives seen so far
    qvtool_output_t *output;
    unsigned int limit;        // 0: no limit
};

// The fingerprint cache file of a device: "<cachedir>/<family>-<SERIAL>.bin".
// False when the path does not fit the buffer.
bool cache_path(char *buffer, size_t size, const char *cachedir, qv_family_t family,
                unsigned int serial)
{
    const char *name = qvtool_family_name(family);
    int n = std::snprintf(buffer, size, "%s/%s-%08X.bin", cachedir, name != nullptr ? name : "",
                          serial);
    return n >= 0 && static_cast<size_t>(n) < size;
}

void event_cb(qv_device_t *device, qv_event_type_t event, const void *data, void *userdata)
{
    auto *eventdata = static_cast<event_data_t *>(userdata);

    qvtool_event_cb(device, event, data, userdata);

    if (event != QV_EVENT_DEVINFO || data == nullptr)
        return;

    const auto *devinfo = static_cast<const qv_event_devinfo_t *>(data);

    if (eventdata->cachedir != nullptr) {
        char path[1024];
        if (!cache_path(path, sizeof(path), eventdata->cachedir, qv_device_get_type(device),
                        devinfo->serial)) {
            QVTOOL_ERROR("The fingerprint cache file name is too long.");
        } else {
            // A missing cache file clears the fingerprint: every dive is new.
            qv_buffer_t *fingerprint = qvtool_file_read(path);
            qv_device_set_fingerprint(device, qv_buffer_get_data(fingerprint),
                                      static_cast<unsigned int>(qv_buffer_get_size(fingerprint)));
            qv_buffer_free(fingerprint);
        }
    }

    eventdata->model = devinfo->model;
    eventdata->firmware = devinfo->firmware;
    eventdata->serial = devinfo->serial;
}

int dive_cb(const unsigned char *data, unsigned int size, const unsigned char *fingerprint,
            unsigned int fsize, void *userdata)
{
    auto *divedata = static_cast<dive_data_t *>(userdata);

    divedata->number++;

    message("Dive: number=%u, size=%u, fingerprint=", divedata->number, size);
    for (unsigned int i = 0; fingerprint != nullptr && i < fsize; ++i)
        message("%02X", fingerprint[i]);
    message("\n");

    // The newest dive's fingerprint goes into the cache after the download.
    if (divedata->number == 1 && divedata->fingerprint != nullptr) {
        qv_buffer_t *copy = qv_buffer_new(fsize);
        if (copy != nullptr && fingerprint != nullptr && !qv_buffer_append(copy, fingerprint, fsize)) {
            qv_buffer_free(copy);
            copy = nullptr;
        }
        *divedata->fingerprint = copy;
    }

    message("Creating the parser.\n");
    qv_parser_t *parser = nullptr;
    qv_status_t status = qv_parser_new(&parser, divedata->device, data, size);
    if (status != QV_STATUS_SUCCESS) {
        QVTOOL_ERROR("Error creating the parser.");
    } else {
        message("Parsing the dive data.\n");
        status = qvtool_output_write(divedata->output, parser, data, size, fingerprint, fsize);
        if (status != QV_STATUS_SUCCESS)
            QVTOOL_ERROR("Error parsing the dive data.");
    }

    qv_parser_destroy(parser);

    return divedata->limit == 0 || divedata->number < divedata->limit;
}

// Downloads the dives of the device on the stream of the transport into the
// output; with a cache directory, keeps the newest dive's fingerprint there.
qv_status_t download(qv_context_t *context, const qv_descriptor_t *descriptor,
                     qv_transport_t transport, const char *devname, const char *cachedir,
                     const qv_buffer_t *fingerprint, qvtool_output_t *output, unsigned int limit)
{
    qv_iostream_t *iostream = nullptr;
    qv_device_t *device = nullptr;
    qv_buffer_t *ofingerprint = nullptr;
    qv_status_t status = QV_STATUS_SUCCESS;

    // The cache is only read when no fingerprint was given.
    event_data_t eventdata = {fingerprint == nullptr ? cachedir : nullptr, 0, 0, 0};
    dive_data_t divedata = {nullptr, &ofingerprint, 0, output, limit};

    do {
        const char *transport_name = qvtool_transport_name(transport);
        message("Opening the I/O stream (%s, %s).\n", transport_name != nullptr ? transport_name : "null",
                devname != nullptr ? devname : "null");
        status = qvtool_iostream_open(&iostream, context, descriptor, transport, devname);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error opening the I/O stream.");
            break;
        }

        message("Opening the device (%s %s).\n", qv_descriptor_get_vendor(descriptor),
                qv_descriptor_get_product(descriptor));
        status = qv_device_open(&device, context, descriptor, iostream);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error opening the device.");
            break;
        }

        message("Registering the event handler.\n");
        unsigned int events =
            QV_EVENT_WAITING | QV_EVENT_PROGRESS | QV_EVENT_DEVINFO | QV_EVENT_CLOCK | QV_EVENT_VENDOR;
        status = qv_device_set_events(device, events, event_cb, &eventdata);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error registering the event handler.");
            break;
        }

        message("Registering the cancellation handler.\n");
        status = qv_device_set_cancel(device, qvtool_cancel_cb, nullptr);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error registering the cancellation handler.");
            break;
        }

        if (fingerprint != nullptr) {
            message("Registering the fingerprint data.\n");
            status = qv_device_set_fingerprint(device, qv_buffer_get_data(fingerprint),
                                               static_cast<unsigned int>(qv_buffer_get_size(fingerprint)));
            if (status != QV_STATUS_SUCCESS) {
                QVTOOL_ERROR("Error registering the fingerprint data.");
                break;
            }
        }

        message("Downloading the dives.\n");
        divedata.device = device;
        status = qv_device_foreach(device, dive_cb, &divedata);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error downloading the dives.");
            break;
        }

        // Only a complete download moves the cache forward. The file is
        // replaced in one step, so that an interrupted write cannot leave a
        // truncated fingerprint behind.
        if (cachedir != nullptr && ofingerprint != nullptr) {
            char path[1024];
            if (!cache_path(path, sizeof(path), cachedir, qv_device_get_type(device), eventdata.serial))
                QVTOOL_ERROR("The fingerprint cache file name is too long.");
            else if (qvtool_file_replace(path, ofingerprint) != QV_STATUS_SUCCESS)
                QVTOOL_ERROR("Failed to write the fingerprint cache file.");
        }
    } while (false);

    qv_buffer_free(ofingerprint);
    qv_device_close(device);
    qv_iostream_close(iostream);

    if (status != QV_STATUS_SUCCESS)
        message("ERROR: %s\n", qvtool_errmsg(status));

    return status;
}

int download_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor)
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

    bool help = false;
    qv_transport_t transport = qvtool_transport_default(descriptor);
    const char *filename = nullptr;
    const char *fphex = nullptr;
    const char *cachedir = nullptr;
    const char *format = "xml";
    qvtool_units_t units = QVTOOL_UNITS_METRIC;
    unsigned int limit = 0;

    int opt;
    while ((opt = getopt_long(argc, argv, "ht:o:p:c:f:u:l:", options, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case 't':
            transport = qvtool_transport_type(optarg);
            break;
        case 'o':
            filename = optarg;
            break;
        case 'p':
            fphex = optarg;
            break;
        case 'c':
            cachedir = optarg;
            break;
        case 'f':
            format = optarg;
            break;
        case 'u':
            if (std::strcmp(optarg, "metric") == 0)
                units = QVTOOL_UNITS_METRIC;
            else if (std::strcmp(optarg, "imperial") == 0)
                units = QVTOOL_UNITS_IMPERIAL;
            break;
        case 'l':
            limit = static_cast<unsigned int>(std::strtoul(optarg, nullptr, 0));
            break;
        default:
            return 1;
        }
    }

    if (help) {
        qvtool_command_help(&qvtool_download);
        return 0;
    }

    const char *devname = optind < argc ? argv[optind] : nullptr;

    if (transport == QV_TRANSPORT_NONE) {
        message("No valid transport type specified.\n");
        return 1;
    }

    qv_buffer_t *fingerprint = qvtool_convert_hex2bin(fphex);

    qvtool_output_t *output = nullptr;
    if (strcasecmp(format, "raw") == 0) {
        output = qvtool_raw_output_new(filename);
    } else if (strcasecmp(format, "xml") == 0) {
        output = qvtool_xml_output_new(filename, units);
    } else {
        message("Unknown output format: %s\n", format);
        qv_buffer_free(fingerprint);
        return 1;
    }
    if (output == nullptr) {
        message("Failed to create the output.\n");
        qv_buffer_free(fingerprint);
        return 1;
    }

    qv_status_t status =
        download(context, descriptor, transport, devname, cachedir, fingerprint, output, limit);

    qvtool_output_free(output);
    qv_buffer_free(fingerprint);

    return status == QV_STATUS_SUCCESS ? 0 : 1;
}

} // namespace
