// qvtool: helpers shared by the driver and the commands.
//
// All diagnostics of the tool go through message(), which writes to standard
// error and, while a log file is open, to the log file with a time stamp at
// the start of every line. Help texts, the version line and the device list
// go to standard output.
#ifndef QVTOOL_COMMON_H
#define QVTOOL_COMMON_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>

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

// Prints a command's description and usage to standard output, as
// "help <command>" does.
void qvtool_command_help(const qvtool_command_t *command);

// Entry point shared by the device commands that this build does not provide
// yet: parses the command's options (getopt_long with optstring and longopts;
// an invalid option is exit 1), prints the command's help for -h/--help
// (exit 0), and otherwise reports that the command is not available (exit 1).
int qvtool_command_unavailable(const qvtool_command_t *command, int argc, char *argv[],
                               const char *optstring, const struct option *longopts);

#endif
