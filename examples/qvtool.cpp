// qvtool: the command-line driver. Parses the global options, picks the
// command, opens the log file, creates the library context, finds the model
// descriptor and runs the command. Also holds the commands that need no
// device: help, version and list.
#include "common.h"

#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/version.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int help_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);
int version_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);
int list_run(int argc, char *argv[], qv_context_t *context, qv_descriptor_t *descriptor);

} // namespace

const qvtool_command_t qvtool_help = {
    help_run,
    0,
    "help",
    "Show basic help instructions",
    "Usage:\n"
    "   qvtool help [options] [<command>]\n"
    "\n"
    "Options:\n"
    "   -h, --help   Show help message\n",
};

const qvtool_command_t qvtool_version = {
    version_run,
    0,
    "version",
    "Show version information",
    "Usage:\n"
    "   qvtool version [options]\n"
    "\n"
    "Options:\n"
    "   -h, --help   Show help message\n",
};

const qvtool_command_t qvtool_list = {
    list_run,
    0,
    "list",
    "List supported devices",
    "Usage:\n"
    "   qvtool list [options]\n"
    "\n"
    "Options:\n"
    "   -h, --help   Show help message\n",
};

namespace {

const qvtool_command_t *const commands[] = {
    &qvtool_help,
    &qvtool_version,
    &qvtool_list,
    &qvtool_scan,
    &qvtool_download,
    &qvtool_dump,
    &qvtool_parse,
    &qvtool_read,
    &qvtool_write,
    &qvtool_timesync,
    &qvtool_fwupdate,
};

const qvtool_command_t *command_find(const char *name)
{
    for (const auto *command : commands) {
        if (std::strcmp(command->name, name) == 0)
            return command;
    }
    return nullptr;
}

// Parses the only option of help, version and list. Returns 1 for -h/--help,
// 0 without it, -1 for an invalid option (already reported by getopt).
int parse_help_option(int argc, char *argv[])
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };

    int help = 0;
    int opt;
    while ((opt = getopt_long(argc, argv, "h", options, nullptr)) != -1) {
        if (opt == 'h')
            help = 1;
        else
            return -1;
    }
    return help;
}

int help_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    int help = parse_help_option(argc, argv);
    if (help < 0)
        return 1;
    if (help) {
        qvtool_command_help(&qvtool_help);
        return 0;
    }

    if (optind < argc) {
        const qvtool_command_t *command = command_find(argv[optind]);
        if (command == nullptr) {
            message("Unknown command %s.\n", argv[optind]);
            return 1;
        }
        qvtool_command_help(command);
        return 0;
    }

    int width = 0;
    for (const auto *command : commands) {
        int length = static_cast<int>(std::strlen(command->name));
        if (length > width)
            width = length;
    }
    width += 3;

    std::printf("A simple command line interface for the libquivelmarine library\n"
                "\n"
                "Usage:\n"
                "   qvtool [options] <command> [<args>]\n"
                "\n"
                "Options:\n"
                "   -h, --help                Show help message\n"
                "   -d, --device <device>     Device name\n"
                "   -f, --family <family>     Device family type\n"
                "   -m, --model <model>       Device model number\n"
                "   -l, --logfile <logfile>   Logfile\n"
                "   -q, --quiet               Quiet mode\n"
                "   -v, --verbose             Verbose mode\n"
                "\n"
                "Available commands:\n");
    for (const auto *command : commands)
        std::printf("   %-*s%s\n", width, command->name, command->description);
    std::printf("\nSee 'qvtool help <command>' for more information on a specific command.\n\n");
    return 0;
}

int version_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    int help = parse_help_option(argc, argv);
    if (help < 0)
        return 1;
    if (help) {
        qvtool_command_help(&qvtool_version);
        return 0;
    }

    std::printf("libquivelmarine version %s\n", qv_version(nullptr));
    return 0;
}

int list_run(int argc, char *argv[], qv_context_t *, qv_descriptor_t *)
{
    int help = parse_help_option(argc, argv);
    if (help < 0)
        return 1;
    if (help) {
        qvtool_command_help(&qvtool_list);
        return 0;
    }

    qv_iterator_t *iterator = nullptr;
    qv_status_t status = qv_descriptor_iterator_new(&iterator);
    if (status != QV_STATUS_SUCCESS) {
        QVTOOL_ERROR("Error creating the device descriptor iterator.");
        return 1;
    }

    qv_descriptor_t *descriptor = nullptr;
    while ((status = qv_iterator_next(iterator, &descriptor)) == QV_STATUS_SUCCESS) {
        const char *vendor = qv_descriptor_get_vendor(descriptor);
        const char *product = qv_descriptor_get_product(descriptor);
        std::printf("%s %s\n", vendor ? vendor : "", product ? product : "");
        qv_descriptor_free(descriptor);
    }
    qv_iterator_free(iterator);

    if (status != QV_STATUS_DONE) {
        QVTOOL_ERROR("Error iterating the device descriptors.");
        return 1;
    }
    return 0;
}

// A model number with automatic base (decimal, 0x hexadecimal, leading-0
// octal). Values beyond the 32-bit range saturate at the largest one.
unsigned int parse_model(const char *text)
{
    unsigned long value = std::strtoul(text, nullptr, 0);
    if (value > UINT_MAX)
        value = UINT_MAX;
    return static_cast<unsigned int>(value);
}

// Finds the descriptor the command works with and runs the command. The
// descriptor found is left in *descriptor for the caller to release.
int run_command(const qvtool_command_t *command, int argc, char *argv[], qv_context_t *context,
                const char *devname, qv_family_t family, unsigned int model,
                qv_descriptor_t **descriptor)
{
    if (devname != nullptr || family != QV_FAMILY_NULL) {
        if (qvtool_descriptor_search(descriptor, devname, family, model) != QV_STATUS_SUCCESS)
            return 1;

        if (*descriptor == nullptr) {
            if (devname != nullptr) {
                message("No supported device found: %s\n", devname);
            } else {
                const char *name = qvtool_family_name(family);
                message("No supported device found: %s, 0x%X\n", name ? name : "", model);
            }
            return 1;
        }
    } else if (command->config & QVTOOL_CONFIG_DESCRIPTOR) {
        message("No device name or family type specified.\n");
        return 1;
    }

    return command->run(argc, argv, context, *descriptor);
}

} // namespace

int main(int argc, char *argv[])
{
    static const struct option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"device", required_argument, nullptr, 'd'},
        {"family", required_argument, nullptr, 'f'},
        {"model", required_argument, nullptr, 'm'},
        {"logfile", required_argument, nullptr, 'l'},
        {"quiet", no_argument, nullptr, 'q'},
        {"verbose", no_argument, nullptr, 'v'},
        {nullptr, 0, nullptr, 0},
    };

    bool help = false;
    const char *devname = nullptr;
    const char *logfile = nullptr;
    qv_family_t family = QV_FAMILY_NULL;
    bool have_family = false;
    unsigned int model = 0;
    bool have_model = false;
    qv_loglevel_t loglevel = QV_LOGLEVEL_WARNING;

    // Option parsing stops at the first argument that is not an option, so
    // that the command's own options are left alone.
    int opt;
    while ((opt = getopt_long(argc, argv, "+hd:f:m:l:qv", options, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case 'd':
            devname = optarg;
            break;
        case 'f':
            family = qvtool_family_type(optarg);
            have_family = true;
            break;
        case 'm':
            model = parse_model(optarg);
            have_model = true;
            break;
        case 'l':
            logfile = optarg;
            break;
        case 'q':
            loglevel = QV_LOGLEVEL_NONE;
            break;
        case 'v':
            loglevel++;
            break;
        default:
            return 1;
        }
    }

    if (have_family && !have_model)
        model = qvtool_family_model(family);

    // The command's argument vector; its first element is the command name.
    static char help_word[] = "help";
    char *help_argv[] = {help_word, nullptr, nullptr};
    int cmd_argc = argc - optind;
    char **cmd_argv = argv + optind;
    if (help) {
        if (cmd_argc > 0)
            help_argv[1] = cmd_argv[0];
        cmd_argc = cmd_argc > 0 ? 2 : 1;
        cmd_argv = help_argv;
    } else if (cmd_argc == 0) {
        cmd_argc = 1;
        cmd_argv = help_argv;
    }

    // Let the command parse its own options from the start of its vector.
    optind = 0;

    const qvtool_command_t *command = command_find(cmd_argv[0]);
    if (command == nullptr) {
        message("Unknown command %s.\n", cmd_argv[0]);
        return 1;
    }

    qvtool_cancel_install();

    if (logfile != nullptr)
        qvtool_logfile(logfile);

    qv_context_t *context = nullptr;
    if (qv_context_new(&context) != QV_STATUS_SUCCESS) {
        qvtool_logfile(nullptr);
        return 1;
    }
    qv_context_set_loglevel(context, loglevel);
    qv_context_set_logfunc(context, qvtool_logfunc, nullptr);

    qv_descriptor_t *descriptor = nullptr;
    int exitcode = run_command(command, cmd_argc, cmd_argv, context, devname, family, model,
                               &descriptor);

    qv_descriptor_free(descriptor);
    qv_context_free(context);
    qvtool_logfile(nullptr);
    return exitcode;
}
