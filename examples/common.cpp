// qvtool: diagnostics, log file, name tables, descriptor search and the
// cancellation flag, shared by the driver and the commands; and the helpers
// of the device commands: stream opening per transport, event printing, the
// BLE PIN prompt and access-code file, hexadecimal conversion and files.
#include "common.h"

#include <libquivelmarine/irda.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/serial.h>
#include <libquivelmarine/version.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <strings.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// The file in the current directory that keeps the access code a BLE device
// handed out, for the next connection.
const char accesscode_filename[] = "accesscode.bin";

// ---------------------------------------------------------------------------
// Transports. Each transport has a discovery step (the first device the
// transport's enumerator finds for the descriptor; address 0 when it finds
// none) and a connect step (the transport's open call); the
// qvtool_<transport>_open routines below pick the address and report
// failures.
//
// USB and USB HID have no enumerator in this system; classic Bluetooth and
// Bluetooth Low Energy are not part of this build yet, so their discovery
// and connect steps answer QV_STATUS_UNSUPPORTED.

qv_status_t usb_discover(qv_context_t *, const qv_descriptor_t *)
{
    return QV_STATUS_UNSUPPORTED;
}

qv_status_t usbhid_discover(qv_context_t *, const qv_descriptor_t *)
{
    return QV_STATUS_UNSUPPORTED;
}

// The address of the first infrared device in range that the descriptor
// accepts; 0 when there is none. The enumerator and the device records are
// released before the caller connects.
qv_status_t irda_discover(qv_context_t *context, const qv_descriptor_t *descriptor,
                          unsigned int *address)
{
    *address = 0;

    qv_iterator_t *iterator = nullptr;
    qv_status_t status = qv_irda_iterator_new(&iterator, context, descriptor);
    if (status != QV_STATUS_SUCCESS)
        return status;

    qv_irda_device_t *device = nullptr;
    status = qv_iterator_next(iterator, &device);
    if (status == QV_STATUS_SUCCESS) {
        *address = qv_irda_device_get_address(device);
        qv_irda_device_free(device);
    } else if (status == QV_STATUS_DONE) {
        status = QV_STATUS_SUCCESS;
    }
    qv_iterator_free(iterator);
    return status;
}

qv_status_t bluetooth_discover(qv_context_t *, const qv_descriptor_t *, uint64_t *address)
{
    *address = 0;
    return QV_STATUS_UNSUPPORTED;
}

// Connects to the RFCOMM port of the device at address (port 0: the serial
// port service found by service discovery).
qv_status_t bluetooth_connect(qv_iostream_t **, qv_context_t *, uint64_t, unsigned int)
{
    return QV_STATUS_UNSUPPORTED;
}

qv_status_t ble_discover(qv_context_t *, const qv_descriptor_t *, uint64_t *address)
{
    *address = 0;
    return QV_STATUS_UNSUPPORTED;
}

// Connects to the BLE device at address. Once connected, the stream gets
// the tool's authentication handlers (qvtool_auth_get_pincode,
// qvtool_auth_get_accesscode, qvtool_auth_set_accesscode, no user data).
qv_status_t ble_connect(qv_iostream_t **, qv_context_t *, uint64_t)
{
    return QV_STATUS_UNSUPPORTED;
}

// A Bluetooth address from its text form ("00:11:22:33:44:55"): the
// hexadecimal digits, most significant first, colons skipped. Any other
// character, or no text, gives 0.
uint64_t address_from_text(const char *text)
{
    if (text == nullptr)
        return 0;

    uint64_t address = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        char c = *p;
        unsigned int digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned int>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned int>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned int>(c - 'a' + 10);
        else if (c == ':')
            continue;
        else
            return 0;
        address = (address << 4) | digit;
    }
    return address;
}

qv_status_t qvtool_usb_open(qv_context_t *context, const qv_descriptor_t *descriptor)
{
    // Whatever the enumerator answers, no device can be opened.
    usb_discover(context, descriptor);
    QVTOOL_ERROR("No dive computer found.");
    return QV_STATUS_NODEVICE;
}

qv_status_t qvtool_usbhid_open(qv_context_t *context, const qv_descriptor_t *descriptor)
{
    usbhid_discover(context, descriptor);
    QVTOOL_ERROR("No dive computer found.");
    return QV_STATUS_NODEVICE;
}

qv_status_t qvtool_irda_open(qv_iostream_t **out, qv_context_t *context,
                             const qv_descriptor_t *descriptor, const char *name)
{
    unsigned int address = 0;
    if (name != nullptr) {
        address = static_cast<unsigned int>(std::strtoul(name, nullptr, 0));
        if (address == 0) {
            QVTOOL_ERROR("No valid device address specified.");
            return QV_STATUS_NODEVICE;
        }
    } else {
        qv_status_t status = irda_discover(context, descriptor, &address);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Failed to open the irda socket.");
            return status;
        }
        if (address == 0) {
            QVTOOL_ERROR("No dive computer found.");
            return QV_STATUS_NODEVICE;
        }
    }

    // Dive computers answer on LSAP 1.
    qv_status_t status = qv_irda_open(out, context, address, 1);
    if (status != QV_STATUS_SUCCESS) {
        QVTOOL_ERROR("Failed to open the irda socket.");
        return status;
    }
    return QV_STATUS_SUCCESS;
}

qv_status_t qvtool_bluetooth_open(qv_iostream_t **out, qv_context_t *context,
                                  const qv_descriptor_t *descriptor, const char *name)
{
    uint64_t address = 0;
    if (name != nullptr) {
        address = address_from_text(name);
        if (address == 0) {
            QVTOOL_ERROR("No valid device address specified.");
            return QV_STATUS_NODEVICE;
        }
    } else {
        qv_status_t status = bluetooth_discover(context, descriptor, &address);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Failed to open the bluetooth socket.");
            return status;
        }
        if (address == 0) {
            QVTOOL_ERROR("No dive computer found.");
            return QV_STATUS_NODEVICE;
        }
    }

    qv_status_t status = bluetooth_connect(out, context, address, 0);
    if (status != QV_STATUS_SUCCESS) {
        QVTOOL_ERROR("Failed to open the bluetooth socket.");
        return status;
    }
    return QV_STATUS_SUCCESS;
}

qv_status_t qvtool_ble_open(qv_iostream_t **out, qv_context_t *context,
                            const qv_descriptor_t *descriptor, const char *name)
{
    uint64_t address = 0;
    if (name != nullptr) {
        address = address_from_text(name);
        if (address == 0) {
            QVTOOL_ERROR("No valid device address specified.");
            return QV_STATUS_NODEVICE;
        }
    } else {
        qv_status_t status = ble_discover(context, descriptor, &address);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Failed to open the ble device.");
            return status;
        }
        if (address == 0) {
            QVTOOL_ERROR("No dive computer found.");
            return QV_STATUS_NODEVICE;
        }
    }

    qv_status_t status = ble_connect(out, context, address);
    if (status != QV_STATUS_SUCCESS) {
        QVTOOL_ERROR("Failed to open the ble device.");
        return status;
    }
    return QV_STATUS_SUCCESS;
}

} // namespace

qv_status_t qvtool_iostream_open(qv_iostream_t **out, qv_context_t *context,
                                 const qv_descriptor_t *descriptor, qv_transport_t transport,
                                 const char *name)
{
    switch (transport) {
    case QV_TRANSPORT_SERIAL:
        return qv_serial_open(out, context, name);
    case QV_TRANSPORT_USB:
        return qvtool_usb_open(context, descriptor);
    case QV_TRANSPORT_USBHID:
        return qvtool_usbhid_open(context, descriptor);
    case QV_TRANSPORT_IRDA:
        return qvtool_irda_open(out, context, descriptor, name);
    case QV_TRANSPORT_BLUETOOTH:
        return qvtool_bluetooth_open(out, context, descriptor, name);
    case QV_TRANSPORT_BLE:
        return qvtool_ble_open(out, context, descriptor, name);
    default:
        return QV_STATUS_UNSUPPORTED;
    }
}

void qvtool_event_cb(qv_device_t *, qv_event_type_t event, const void *data, void *)
{
    switch (event) {
    case QV_EVENT_WAITING:
        message("Event: waiting for user action\n");
        break;
    case QV_EVENT_PROGRESS:
        if (data != nullptr) {
            const auto *progress = static_cast<const qv_event_progress_t *>(data);
            message("Event: progress %3.2f%% (%u/%u)\n",
                    progress->current * 100.0 / progress->maximum,
                    static_cast<unsigned int>(progress->current),
                    static_cast<unsigned int>(progress->maximum));
        }
        break;
    case QV_EVENT_DEVINFO:
        if (data != nullptr) {
            const auto *devinfo = static_cast<const qv_event_devinfo_t *>(data);
            unsigned int model = devinfo->model;
            unsigned int firmware = devinfo->firmware;
            unsigned int serial = devinfo->serial;
            message("Event: model=%u (0x%08x), firmware=%u (0x%08x), serial=%u (0x%08x)\n", model,
                    model, firmware, firmware, serial, serial);
        }
        break;
    case QV_EVENT_CLOCK:
        if (data != nullptr) {
            const auto *clock = static_cast<const qv_event_clock_t *>(data);
            message("Event: systime=%" PRId64 ", devtime=%u\n", static_cast<int64_t>(clock->systime),
                    static_cast<unsigned int>(clock->devtime));
        }
        break;
    case QV_EVENT_VENDOR:
        if (data != nullptr) {
            const auto *vendor = static_cast<const qv_event_vendor_t *>(data);
            message("Event: vendor=");
            for (unsigned int i = 0; vendor->data != nullptr && i < vendor->size; ++i)
                message("%02X", vendor->data[i]);
            message("\n");
        }
        break;
    default:
        break;
    }
}

qv_status_t qvtool_auth_get_pincode(void *, char *buffer, size_t size)
{
    std::fputs("Enter PIN code: ", stderr);
    std::fflush(stderr);

    if (buffer == nullptr || size == 0)
        return QV_STATUS_SUCCESS;

    buffer[0] = '\0';
    // fgets takes an int: a larger buffer still gets a line of at most
    // INT_MAX - 1 characters.
    int length = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    if (std::fgets(buffer, length, stdin) == nullptr) {
        buffer[0] = '\0';
        return QV_STATUS_SUCCESS;
    }

    size_t n = std::strlen(buffer);
    if (n > 0 && buffer[n - 1] == '\n')
        buffer[n - 1] = '\0';
    return QV_STATUS_SUCCESS;
}

qv_status_t qvtool_auth_get_accesscode(void *, unsigned char *data, size_t size)
{
    FILE *fp = std::fopen(accesscode_filename, "rb");
    if (fp == nullptr) {
        QVTOOL_ERROR("Failed to open the access code file.");
        return QV_STATUS_SUCCESS;
    }

    if (data != nullptr && size > 0)
        std::fread(data, 1, size, fp);
    std::fclose(fp);
    return QV_STATUS_SUCCESS;
}

qv_status_t qvtool_auth_set_accesscode(void *, const unsigned char *data, size_t size)
{
    FILE *fp = std::fopen(accesscode_filename, "wb");
    if (fp == nullptr) {
        QVTOOL_ERROR("Failed to open the access code file.");
        return QV_STATUS_SUCCESS;
    }

    if (data != nullptr && size > 0)
        std::fwrite(data, 1, size, fp);
    std::fclose(fp);
    return QV_STATUS_SUCCESS;
}

namespace {

unsigned char hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned char>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned char>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned char>(c - 'a' + 10);
    return 0;
}

} // namespace

qv_buffer_t *qvtool_convert_hex2bin(const char *text)
{
    if (text == nullptr)
        return nullptr;

    size_t length = std::strlen(text);
    if (length < 2)
        return nullptr;

    size_t count = length / 2;
    qv_buffer_t *buffer = qv_buffer_new(count);
    if (buffer == nullptr)
        return nullptr;
    if (!qv_buffer_resize(buffer, count)) {
        qv_buffer_free(buffer);
        return nullptr;
    }

    unsigned char *data = qv_buffer_get_data(buffer);
    for (size_t i = 0; i < count; ++i)
        data[i] = static_cast<unsigned char>((hex_value(text[2 * i]) << 4) | hex_value(text[2 * i + 1]));
    return buffer;
}

qv_buffer_t *qvtool_file_read(const char *path)
{
    FILE *fp = path != nullptr ? std::fopen(path, "rb") : stdin;
    if (fp == nullptr)
        return nullptr;

    qv_buffer_t *buffer = qv_buffer_new(0);
    bool ok = buffer != nullptr;
    while (ok) {
        unsigned char chunk[1024];
        size_t n = std::fread(chunk, 1, sizeof(chunk), fp);
        if (n > 0 && !qv_buffer_append(buffer, chunk, n))
            ok = false;
        if (n < sizeof(chunk))
            break;
    }
    // A read error (for instance a directory given as the file) is not an
    // empty file.
    if (std::ferror(fp))
        ok = false;
    std::fclose(fp);

    if (!ok) {
        qv_buffer_free(buffer);
        return nullptr;
    }
    return buffer;
}

qv_status_t qvtool_file_write(const char *path, const qv_buffer_t *buffer)
{
    FILE *fp = path != nullptr ? std::fopen(path, "wb") : stdout;
    if (fp == nullptr)
        return QV_STATUS_IO;

    bool ok = true;
    size_t size = qv_buffer_get_size(buffer);
    if (size > 0 && std::fwrite(qv_buffer_get_data(buffer), 1, size, fp) != size)
        ok = false;
    // A full disk often shows only when the buffered data are flushed.
    if (std::fclose(fp) != 0)
        ok = false;
    return ok ? QV_STATUS_SUCCESS : QV_STATUS_IO;
}

qv_status_t qvtool_file_replace(const char *path, const qv_buffer_t *buffer)
{
    if (path == nullptr || *path == '\0')
        return QV_STATUS_INVALIDARGS;

    std::string temporary;
    try {
        temporary = std::string(path) + ".XXXXXX";
    } catch (...) {
        return QV_STATUS_NOMEMORY;
    }

    int fd = mkstemp(temporary.data());
    if (fd < 0)
        return QV_STATUS_IO;

    // Same permissions as a file created the ordinary way.
    mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0;

    const unsigned char *data = qv_buffer_get_data(buffer);
    size_t size = qv_buffer_get_size(buffer);
    size_t done = 0;
    while (ok && done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (ok && fsync(fd) != 0)
        ok = false;
    if (::close(fd) != 0)
        ok = false;
    if (ok && std::rename(temporary.c_str(), path) != 0)
        ok = false;

    if (!ok) {
        ::unlink(temporary.c_str());
        return QV_STATUS_IO;
    }
    return QV_STATUS_SUCCESS;
}

void qvtool_command_help(const qvtool_command_t *command)
{
    std::printf("%s\n\n%s\n", command->description, command->usage);
}

qv_status_t qvtool_device_connect(qvtool_connection_t *connection, qv_context_t *context,
                                  const qv_descriptor_t *descriptor, qv_transport_t transport,
                                  const char *devname, unsigned int events, const char **failure)
{
    const char *transport_name = qvtool_transport_name(transport);
    message("Opening the I/O stream (%s, %s).\n", transport_name != nullptr ? transport_name : "null",
            devname != nullptr ? devname : "null");
    qv_status_t status = qvtool_iostream_open(&connection->iostream, context, descriptor, transport, devname);
    if (status != QV_STATUS_SUCCESS) {
        *failure = "Error opening the I/O stream.";
        return status;
    }

    message("Opening the device (%s %s).\n", qv_descriptor_get_vendor(descriptor),
            qv_descriptor_get_product(descriptor));
    status = qv_device_open(&connection->device, context, descriptor, connection->iostream);
    if (status != QV_STATUS_SUCCESS) {
        *failure = "Error opening the device.";
        return status;
    }

    message("Registering the event handler.\n");
    status = qv_device_set_events(connection->device, events, qvtool_event_cb, nullptr);
    if (status != QV_STATUS_SUCCESS) {
        *failure = "Error registering the event handler.";
        return status;
    }

    message("Registering the cancellation handler.\n");
    status = qv_device_set_cancel(connection->device, qvtool_cancel_cb, nullptr);
    if (status != QV_STATUS_SUCCESS) {
        *failure = "Error registering the cancellation handler.";
        return status;
    }

    return QV_STATUS_SUCCESS;
}

void qvtool_device_disconnect(qvtool_connection_t *connection)
{
    qv_device_close(connection->device);
    connection->device = nullptr;
    qv_iostream_close(connection->iostream);
    connection->iostream = nullptr;
}
