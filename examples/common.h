// qvtool: helpers shared by the driver and the commands.
//
// All diagnostics of the tool go through message(), which writes to standard
// error and, while a log file is open, to the log file with a time stamp at
// the start of every line. Help texts, the version line and the device list
// go to standard output.
#ifndef QVTOOL_COMMON_H
#define QVTOOL_COMMON_H

#include <libquivelmarine/buffer.h>
#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/device.h>
#include <libquivelmarine/iostream.h>

#include <getopt.h>

// Reports a failure of the current routine as
// "ERROR: <message> [in <file>:<line> (<function>)]".
#define QVTOOL_ERROR(text) \
    message("ERROR: %s [in %s:%d (%s)]\n", (text), __FILE__, __LINE__, __func__)

// Bit 0 of qvtool_command_t::config: the command needs a device descriptor.
#define QVTOOL_CONFIG_DESCRIPTOR 0x01u

// Entry point of a command: argv[0] is the command name; the descriptor is
// null when neither a device name nor a family was given. Returns the
// process exit code (0 success, 1 failure).
typedef int (*qvtool_command_run_t)(int argc, char *argv[], qv_context_t *context,
                                    qv_descriptor_t *descriptor);

// One sub-command of the tool.
typedef struct qvtool_command_t {
    qvtool_command_run_t run;
    unsigned int config;
    const char *name;
    const char *description;
    const char *usage;
} qvtool_command_t;

// The commands, one record per source file, in the order of the command table.
extern const qvtool_command_t qvtool_help;
extern const qvtool_command_t qvtool_version;
extern const qvtool_command_t qvtool_list;
extern const qvtool_command_t qvtool_scan;
extern const qvtool_command_t qvtool_download;
extern const qvtool_command_t qvtool_dump;
extern const qvtool_command_t qvtool_parse;
extern const qvtool_command_t qvtool_read;
extern const qvtool_command_t qvtool_write;
extern const qvtool_command_t qvtool_timesync;
extern const qvtool_command_t qvtool_fwupdate;

// printf-style diagnostic output: standard error always, plus the log file
// when one is open.
void message(const char *format, ...) QV_ATTR_FORMAT_PRINTF(1, 2);

// With a file name: closes any open log file, opens (truncates) the named one
// and writes its DATETIME and VERSION header lines; when the file cannot be
// opened the tool continues without one. With a null name: closes the log
// file if one is open.
void qvtool_logfile(const char *filename);

// The tool's log handler for the library context (no user data).
void qvtool_logfunc(qv_context_t *context, qv_loglevel_t loglevel, const char *file,
                    unsigned int line, const char *function, const char *msg, void *userdata);

// Text of a status code; "Unknown error" outside -10..0.
const char *qvtool_errmsg(qv_status_t status);

// Family code by its name (exact, case-sensitive); QV_FAMILY_NULL if unknown.
qv_family_t qvtool_family_type(const char *name);
// Name of a family code; null if unknown.
const char *qvtool_family_name(qv_family_t family);
// Model used for a family given without a model number; 0 if unknown.
unsigned int qvtool_family_model(qv_family_t family);

// Transport bit by its name (exact, case-sensitive); QV_TRANSPORT_NONE if unknown.
qv_transport_t qvtool_transport_type(const char *name);
// Name of a single transport bit; null if unknown.
const char *qvtool_transport_name(qv_transport_t transport);
// The first of serial, usb, usbhid, irda, bluetooth, ble that the descriptor
// supports; QV_TRANSPORT_NONE if none or without a descriptor.
qv_transport_t qvtool_transport_default(const qv_descriptor_t *descriptor);

// Finds a model-table row. With a name: the first row whose "vendor product"
// or product alone equals the name, ignoring letter case. Without a name: the
// row of that family and model, else the family's first row. *out is null
// when nothing matches, which is still QV_STATUS_SUCCESS. A failure to create
// or walk the table is reported and returned.
qv_status_t qvtool_descriptor_search(qv_descriptor_t **out, const char *name, qv_family_t family,
                                     unsigned int model);

// Installs the interrupt (SIGINT) handler that raises the cancellation flag.
// Returns 0 on success, -1 when the handler could not be installed.
int qvtool_cancel_install(void);
// Cancel callback for devices: non-zero once the interrupt key was pressed.
int qvtool_cancel_cb(void *userdata);

// Opens the stream for a device command on the transport. name is the
// command's device argument (a port name or an address; null when absent):
//   serial        qv_serial_open on the port name (no name: the open fails
//                 with QV_STATUS_INVALIDARGS, reported by the command);
//   usb, usbhid   these transports find no device in this system: "No dive
//                 computer found." and QV_STATUS_NODEVICE;
//   irda          the name is the device address (unsigned, automatic base),
//                 otherwise the first device discovered;
//   bluetooth     the name is the device address ("00:11:22:33:44:55"),
//   ble           otherwise the first device discovered; a BLE stream gets
//                 the PIN prompt and the access-code file as its handlers.
// An address of 0 reports "No valid device address specified." and
// QV_STATUS_NODEVICE; a discovery that finds nothing "No dive computer
// found." and QV_STATUS_NODEVICE; a failed open the transport's own
// message with its status. Any other transport gives QV_STATUS_UNSUPPORTED
// without a report. On success *out receives the stream (released with
// qv_iostream_close); on failure it is left unchanged.
qv_status_t qvtool_iostream_open(qv_iostream_t **out, qv_context_t *context,
                                 const qv_descriptor_t *descriptor, qv_transport_t transport,
                                 const char *name);

// Prints one device event (waiting, progress, devinfo, clock, vendor) as a
// line through message(). Events with a missing payload are ignored.
void qvtool_event_cb(qv_device_t *device, qv_event_type_t event, const void *data, void *userdata);

// Writes "Enter PIN code: " to standard error and reads one line from
// standard input into buffer (at most size - 1 characters, terminated,
// trailing newline removed; empty when nothing could be read). Always
// QV_STATUS_SUCCESS.
qv_status_t qvtool_auth_get_pincode(void *userdata, char *buffer, size_t size);

// Reads up to size bytes of the access code from "accesscode.bin" in the
// current directory into data. When the file cannot be opened it reports
// "Failed to open the access code file." and leaves data unchanged. Always
// QV_STATUS_SUCCESS: a missing access code never ends the handshake.
qv_status_t qvtool_auth_get_accesscode(void *userdata, unsigned char *data, size_t size);

// Stores the access code (size bytes) in "accesscode.bin" in the current
// directory, replacing it. When the file cannot be written it reports
// "Failed to open the access code file.". Always QV_STATUS_SUCCESS.
qv_status_t qvtool_auth_set_accesscode(void *userdata, const unsigned char *data, size_t size);

// Converts hexadecimal text to bytes, two characters per byte (0-9, A-F,
// a-f; any other character counts as 0; a trailing odd character is
// ignored). Null for a null text or one shorter than two characters, or
// when memory runs out. The caller frees the buffer with qv_buffer_free.
qv_buffer_t *qvtool_convert_hex2bin(const char *text);

// Reads the whole file (standard input, in binary mode, for a null path)
// into a new buffer. Null when the file cannot be opened or read, or when
// memory runs out. The caller frees the buffer with qv_buffer_free.
qv_buffer_t *qvtool_file_read(const char *path);

// Writes the buffer's content to the file path, created or truncated
// (standard output, in binary mode, for a null path), and closes it.
// Reports nothing itself; returns QV_STATUS_SUCCESS, or QV_STATUS_IO when
// the file cannot be created or not all bytes could be written.
qv_status_t qvtool_file_write(const char *path, const qv_buffer_t *buffer);

// Replaces the file path with the buffer's content as one step: the data
// go to a temporary file in the same directory, which is then renamed over
// path, so that an interrupted run leaves either the old or the new file,
// never a truncated one. Returns QV_STATUS_SUCCESS, QV_STATUS_INVALIDARGS
// without a path, or QV_STATUS_IO when the file cannot be written (the
// temporary file is then removed and path left as it was).
qv_status_t qvtool_file_replace(const char *path, const qv_buffer_t *buffer);

// Prints a command's description and usage to standard output, as
// "help <command>" does.
void qvtool_command_help(const qvtool_command_t *command);

// All device events, for the event mask of qvtool_device_connect.
#define QVTOOL_EVENTS_ALL \
    (QV_EVENT_WAITING | QV_EVENT_PROGRESS | QV_EVENT_DEVINFO | QV_EVENT_CLOCK | QV_EVENT_VENDOR)

// The stream and the device a device command works on.
typedef struct qvtool_connection_t {
    qv_iostream_t *iostream;
    qv_device_t *device;
} qvtool_connection_t;

// The connection sequence of the device commands (connection zeroed by the
// caller): opens the stream for the transport on devname (null when the
// command has no device argument) and the device of the descriptor on it,
// then registers qvtool_event_cb (no user data) for the events of the mask
// and qvtool_cancel_cb. Each step is announced through message() ("Opening
// the I/O stream (serial, /dev/ttyUSB0).", "Opening the device (Suunto
// Vyper).", "Registering the event handler.", "Registering the cancellation
// handler."). On failure *failure receives the step's report ("Error opening
// the I/O stream.", "Error opening the device.", "Error registering the
// event handler.", "Error registering the cancellation handler."), which
// the command prints as its own "ERROR:" line, and the status is returned;
// what was opened stays in the connection for qvtool_device_disconnect.
qv_status_t qvtool_device_connect(qvtool_connection_t *connection, qv_context_t *context,
                                  const qv_descriptor_t *descriptor, qv_transport_t transport,
                                  const char *devname, unsigned int events, const char **failure);

// Closes the device, then the stream (either may be missing), and clears
// the connection.
void qvtool_device_disconnect(qvtool_connection_t *connection);

#endif
