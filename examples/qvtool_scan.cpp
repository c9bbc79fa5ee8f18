// qvtool scan: lists the devices that a transport can see, filtered by the
// model when one was given.
#include "common.h"

#include <libquivelmarine/irda.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/serial.h>

#include <cstdio>

namespace {

int scan_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);

} // namespace

const qvtool_command_t qvtool_scan = {
    scan_run,
    0,
    "scan",
    "Scan for supported devices",
    "Usage:\n"
    "   qvtool scan [options]\n"
    "\n"
    "Options:\n"
    "   -h, --help               Show help message\n"
    "   -t, --transport <name>   Transport type\n",
};

namespace {

// ---------------------------------------------------------------------------
// Enumerators, one per transport: creating the iterator (with the
// descriptor as filter; none for all devices) and printing one device it
// handed out, which the printer then releases.

typedef qv_status_t (*iterator_new_t)(qv_iterator_t **out, qv_context_t *context,
                                      const qv_descriptor_t *descriptor);
typedef void (*device_print_t)(void *device);

// USB and USB HID have no enumerator in this system.
qv_status_t usb_iterator_new(qv_iterator_t **, qv_context_t *, const qv_descriptor_t *)
{
    return QV_STATUS_UNSUPPORTED;
}

qv_status_t usbhid_iterator_new(qv_iterator_t **, qv_context_t *, const qv_descriptor_t *)
{
    return QV_STATUS_UNSUPPORTED;
}

// Classic Bluetooth and Bluetooth Low Energy discovery are not part of this
// build yet.
qv_status_t bluetooth_iterator_new(qv_iterator_t **, qv_context_t *, const qv_descriptor_t *)
{
    return QV_STATUS_UNSUPPORTED;
}

qv_status_t ble_iterator_new(qv_iterator_t **, qv_context_t *, const qv_descriptor_t *)
{
    return QV_STATUS_UNSUPPORTED;
}

// A serial port: its name on a line of its own.
void serial_print(void *item)
{
    auto *device = static_cast<qv_serial_device_t *>(item);
    const char *name = qv_serial_device_get_name(device);
    std::printf("%s\n", name != nullptr ? name : "");
    qv_serial_device_free(device);
}

// An infrared device: its address (eight hexadecimal digits), a tab and its
// name.
void irda_print(void *item)
{
    auto *device = static_cast<qv_irda_device_t *>(item);
    const char *name = qv_irda_device_get_name(device);
    std::printf("%08x\t%s\n", qv_irda_device_get_address(device), name != nullptr ? name : "");
    qv_irda_device_free(device);
}

struct enumerator {
    qv_transport_t transport;
    iterator_new_t iterator_new;
    // Null for the transports whose enumerator never hands out a device in
    // this build. USB devices print as "%04x:%04x" (vendor and product id),
    // Bluetooth and BLE devices as "%s\t%s" (address as text, name).
    device_print_t print;
};

const enumerator enumerators[] = {
    {QV_TRANSPORT_SERIAL, qv_serial_iterator_new, serial_print},
    {QV_TRANSPORT_USB, usb_iterator_new, nullptr},
    {QV_TRANSPORT_USBHID, usbhid_iterator_new, nullptr},
    {QV_TRANSPORT_IRDA, qv_irda_iterator_new, irda_print},
    {QV_TRANSPORT_BLUETOOTH, bluetooth_iterator_new, nullptr},
    {QV_TRANSPORT_BLE, ble_iterator_new, nullptr},
};

// Prints the devices the transport finds for the descriptor (null: all) on
// standard output, one line each.
qv_status_t scan(qv_context_t *context, const qv_descriptor_t *descriptor, qv_transport_t transport)
{
    const enumerator *found = nullptr;
    for (const auto &entry : enumerators) {
        if (entry.transport == transport)
            found = &entry;
    }

    qv_iterator_t *iterator = nullptr;
    qv_status_t status =
        found != nullptr ? found->iterator_new(&iterator, context, descriptor) : QV_STATUS_UNSUPPORTED;
    if (status != QV_STATUS_SUCCESS) {
        QVTOOL_ERROR("Failed to create the device iterator.");
        message("ERROR: %s\n", qvtool_errmsg(status));
        return status;
    }

    void *device = nullptr;
    while ((status = qv_iterator_next(iterator, &device)) == QV_STATUS_SUCCESS) {
        if (found->print != nullptr)
            found->print(device);
        device = nullptr;
    }
    qv_iterator_free(iterator);

    if (status != QV_STATUS_DONE) {
        QVTOOL_ERROR("Failed to enumerate the devices.");
        message("ERROR: %s\n", qvtool_errmsg(status));
        return status;
    }

    return QV_STATUS_SUCCESS;
}

int scan_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor)
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"transport", required_argument, nullptr, 't'},
        {nullptr, 0, nullptr, 0},
    };

    bool help = false;
    qv_transport_t transport = qvtool_transport_default(descriptor);

    int opt;
    while ((opt = getopt_long(argc, argv, "ht:", options, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case 't':
            transport = qvtool_transport_type(optarg);
            break;
        default:
            return 1;
        }
    }

    if (help) {
        qvtool_command_help(&qvtool_scan);
        return 0;
    }

    // Without a model the transport has to be named.
    if (transport == QV_TRANSPORT_NONE) {
        message("No valid transport type specified.\n");
        return 1;
    }

    qv_status_t status = scan(context, descriptor, transport);

    return status == QV_STATUS_SUCCESS ? 0 : 1;
}

} // namespace
