// qvtool: diagnostics, log file, name tables, descriptor search and the
// cancellation flag, shared by the driver and the commands.
#include "common.h"

#include <libquivelmarine/iterator.h>
#include <libquivelmarine/version.h>

#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>

namespace {

struct family_entry {
    const char *name;
    qv_family_t family;
    unsigned int model; // used when the family is given without a model number
};

const family_entry families[] = {
    {"solution", QV_FAMILY_SUUNTO_SOLUTION, 0},
    {"eon", QV_FAMILY_SUUNTO_EON, 0},
    {"vyper", QV_FAMILY_SUUNTO_VYPER, 10},
    {"vyper2", QV_FAMILY_SUUNTO_VYPER2, 16},
    {"d9", QV_FAMILY_SUUNTO_D9, 14},
    {"eonsteel", QV_FAMILY_SUUNTO_EONSTEEL, 0},
    {"aladin", QV_FAMILY_UWATEC_ALADIN, 63},
    {"memomouse", QV_FAMILY_UWATEC_MEMOMOUSE, 0},
    {"smart", QV_FAMILY_UWATEC_SMART, 16},
    {"sensus", QV_FAMILY_REEFNET_SENSUS, 1},
    {"sensuspro", QV_FAMILY_REEFNET_SENSUSPRO, 2},
    {"sensusultra", QV_FAMILY_REEFNET_SENSUSULTRA, 3},
    {"vtpro", QV_FAMILY_OCEANIC_VTPRO, 0x4245},
    {"veo250", QV_FAMILY_OCEANIC_VEO250, 0x424C},
    {"atom2", QV_FAMILY_OCEANIC_ATOM2, 0x4342},
    {"i330r", QV_FAMILY_PELAGIC_I330R, 0x4744},
    {"nemo", QV_FAMILY_MARES_NEMO, 0},
    {"puck", QV_FAMILY_MARES_PUCK, 7},
    {"darwin", QV_FAMILY_MARES_DARWIN, 0},
    {"iconhd", QV_FAMILY_MARES_ICONHD, 20},
    {"ostc", QV_FAMILY_HW_OSTC, 0},
    {"frog", QV_FAMILY_HW_FROG, 0},
    {"ostc3", QV_FAMILY_HW_OSTC3, 0},
    {"edy", QV_FAMILY_CRESSI_EDY, 8},
    {"leonardo", QV_FAMILY_CRESSI_LEONARDO, 1},
    {"goa", QV_FAMILY_CRESSI_GOA, 2},
    {"n2ition3", QV_FAMILY_ZEAGLE_N2ITION3, 0},
    {"cobalt", QV_FAMILY_ATOMICS_COBALT, 0},
    {"predator", QV_FAMILY_SHEARWATER_PREDATOR, 2},
    {"petrel", QV_FAMILY_SHEARWATER_PETREL, 3},
    {"nitekq", QV_FAMILY_DIVERITE_NITEKQ, 0},
    {"aqualand", QV_FAMILY_CITIZEN_AQUALAND, 0},
    {"idive", QV_FAMILY_DIVESYSTEM_IDIVE, 3},
    {"cochran", QV_FAMILY_COCHRAN_COMMANDER, 0},
    {"divecomputereu", QV_FAMILY_TECDIVING_DIVECOMPUTEREU, 0},
    {"extreme", QV_FAMILY_MCLEAN_EXTREME, 0},
    {"lynx", QV_FAMILY_LIQUIVISION_LYNX, 0},
    {"sp2", QV_FAMILY_SPORASUB_SP2, 0},
    {"excursion", QV_FAMILY_DEEPSIX_EXCURSION, 0},
    {"screen", QV_FAMILY_SEAC_SCREEN, 0},
    {"cosmiq", QV_FAMILY_DEEPBLU_COSMIQ, 0},
    {"s1", QV_FAMILY_OCEANS_S1, 0},
    {"freedom", QV_FAMILY_DIVESOFT_FREEDOM, 19},
    {"symbios", QV_FAMILY_HALCYON_SYMBIOS, 1},
};

struct transport_entry {
    const char *name;
    qv_transport_t transport;
};

// Also the order in which a descriptor's default transport is chosen.
const transport_entry transports[] = {
    {"serial", QV_TRANSPORT_SERIAL},
    {"usb", QV_TRANSPORT_USB},
    {"usbhid", QV_TRANSPORT_USBHID},
    {"irda", QV_TRANSPORT_IRDA},
    {"bluetooth", QV_TRANSPORT_BLUETOOTH},
    {"ble", QV_TRANSPORT_BLE},
};

const char *const loglevels[] = {"NONE", "ERROR", "WARNING", "INFO", "DEBUG", "ALL"};

// Raised by the interrupt handler, never lowered.
volatile sig_atomic_t g_cancel = 0;

// Log file state: the open file, whether the next output starts a line, and
// the clock reading taken when the file was opened.
FILE *g_logfile = nullptr;
bool g_newline = true;
std::chrono::steady_clock::time_point g_start;

void sigint_handler(int)
{
    g_cancel = 1;
}

} // namespace

void message(const char *format, ...)
{
    va_list ap;

    if (g_logfile != nullptr) {
        if (g_newline) {
            auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - g_start);
            long long usecs = elapsed.count();
            std::fprintf(g_logfile, "[%lld.%06lld] ", usecs / 1000000, usecs % 1000000);
        }

        size_t length = std::strlen(format);
        g_newline = length > 0 && format[length - 1] == '\n';

        va_start(ap, format);
        std::vfprintf(g_logfile, format, ap);
        va_end(ap);
    }

    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
}

void qvtool_logfile(const char *filename)
{
    if (g_logfile != nullptr) {
        std::fclose(g_logfile);
        g_logfile = nullptr;
    }

    if (filename == nullptr)
        return;

    g_logfile = std::fopen(filename, "w");
    if (g_logfile == nullptr)
        return;

    g_newline = true;
    g_start = std::chrono::steady_clock::now();

    std::time_t now = std::time(nullptr);
    struct tm utc = {};
    gmtime_r(&now, &utc);
    message("DATETIME %u-%02u-%02uT%02u:%02u:%02uZ (%lu)\n",
            static_cast<unsigned int>(utc.tm_year + 1900), static_cast<unsigned int>(utc.tm_mon + 1),
            static_cast<unsigned int>(utc.tm_mday), static_cast<unsigned int>(utc.tm_hour),
            static_cast<unsigned int>(utc.tm_min), static_cast<unsigned int>(utc.tm_sec),
            static_cast<unsigned long>(now));
    message("VERSION %s\n", qv_version(nullptr));
}

void qvtool_logfunc(qv_context_t *, qv_loglevel_t loglevel, const char *file, unsigned int line,
                    const char *function, const char *msg, void *)
{
    const char *level = loglevel < sizeof(loglevels) / sizeof(loglevels[0]) ? loglevels[loglevel]
                                                                            : "UNKNOWN";
    if (loglevel == QV_LOGLEVEL_ERROR || loglevel == QV_LOGLEVEL_WARNING)
        message("%s: %s [in %s:%u (%s)]\n", level, msg, file, line, function);
    else
        message("%s: %s\n", level, msg);
}

const char *qvtool_errmsg(qv_status_t status)
{
    static const char *const texts[] = {
        "Success",
        "Unsupported operation",
        "Invalid arguments",
        "Out of memory",
        "No device found",
        "Access denied",
        "Input/output error",
        "Timeout",
        "Protocol error",
        "Data format error",
        "Cancelled",
    };
    if (status > 0 || status < -static_cast<qv_status_t>(sizeof(texts) / sizeof(texts[0]) - 1))
        return "Unknown error";
    return texts[-status];
}

qv_family_t qvtool_family_type(const char *name)
{
    if (name == nullptr)
        return QV_FAMILY_NULL;
    for (const auto &entry : families) {
        if (std::strcmp(entry.name, name) == 0)
            return entry.family;
    }
    return QV_FAMILY_NULL;
}

const char *qvtool_family_name(qv_family_t family)
{
    for (const auto &entry : families) {
        if (entry.family == family)
            return entry.name;
    }
    return nullptr;
}

unsigned int qvtool_family_model(qv_family_t family)
{
    for (const auto &entry : families) {
        if (entry.family == family)
            return entry.model;
    }
    return 0;
}

qv_transport_t qvtool_transport_type(const char *name)
{
    if (name == nullptr)
        return QV_TRANSPORT_NONE;
    for (const auto &entry : transports) {
        if (std::strcmp(entry.name, name) == 0)
            return entry.transport;
    }
    return QV_TRANSPORT_NONE;
}

const char *qvtool_transport_name(qv_transport_t transport)
{
    for (const auto &entry : transports) {
        if (entry.transport == transport)
            return entry.name;
    }
    return nullptr;
}

qv_transport_t qvtool_transport_default(const qv_descriptor_t *descriptor)
{
    if (descriptor == nullptr)
        return QV_TRANSPORT_NONE;

    qv_transport_t supported = qv_descriptor_get_transports(descriptor);
    for (const auto &entry : transports) {
        if (supported & entry.transport)
            return entry.transport;
    }
    return QV_TRANSPORT_NONE;
}

namespace {

// "Vendor Product" or "Product", ignoring letter case.
bool descriptor_matches(const qv_descriptor_t *descriptor, const char *name)
{
    const char *vendor = qv_descriptor_get_vendor(descriptor);
    const char *product = qv_descriptor_get_product(descriptor);
    if (product == nullptr)
        return false;

    if (vendor != nullptr) {
        size_t n = std::strlen(vendor);
        if (strncasecmp(name, vendor, n) == 0 && name[n] == ' ' &&
            strcasecmp(name + n + 1, product) == 0)
            return true;
    }

    return strcasecmp(name, product) == 0;
}

} // namespace

qv_status_t qvtool_descriptor_search(qv_descriptor_t **out, const char *name, qv_family_t family,
                                     unsigned int model)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;
    *out = nullptr;

    qv_iterator_t *iterator = nullptr;
    qv_status_t status = qv_descriptor_iterator_new(&iterator);
    if (status != QV_STATUS_SUCCESS) {
        QVTOOL_ERROR("Error creating the device descriptor iterator.");
        return status;
    }

    qv_descriptor_t *found = nullptr;
    qv_descriptor_t *descriptor = nullptr;
    while ((status = qv_iterator_next(iterator, &descriptor)) == QV_STATUS_SUCCESS) {
        if (descriptor == nullptr)
            continue;

        if (name != nullptr) {
            if (descriptor_matches(descriptor, name)) {
                found = descriptor;
                break;
            }
        } else if (qv_descriptor_get_type(descriptor) == family) {
            if (qv_descriptor_get_model(descriptor) == model) {
                found = descriptor;
                break;
            }
            // Fall back on the family's first row when no row has the model.
            if (found == nullptr)
                found = descriptor;
        }
    }

    if (status != QV_STATUS_SUCCESS && status != QV_STATUS_DONE) {
        QVTOOL_ERROR("Error iterating the device descriptors.");
        qv_iterator_free(iterator);
        return status;
    }

    qv_iterator_free(iterator);

    *out = found;
    return QV_STATUS_SUCCESS;
}

int qvtool_cancel_install(void)
{
    struct sigaction action = {};
    action.sa_handler = sigint_handler;
    sigemptyset(&action.sa_mask);
    // Interrupted reads and writes resume; the backends notice the flag at
    // their next cancellation poll.
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr);
}

int qvtool_cancel_cb(void *)
{
    return g_cancel;
}

void qvtool_command_help(const qvtool_command_t *command)
{
    std::printf("%s\n\n%s\n", command->description, command->usage);
}

int qvtool_command_unavailable(const qvtool_command_t *command, int argc, char *argv[],
                               const char *optstring, const struct option *longopts)
{
    bool help = false;
    int opt;
    while ((opt = getopt_long(argc, argv, optstring, longopts, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case '?':
        case ':':
            return 1;
        default:
            break;
        }
    }

    if (help) {
        qvtool_command_help(command);
        return 0;
    }

    message("ERROR: The %s command is not available in this build yet.\n", command->name);
    return 1;
}
