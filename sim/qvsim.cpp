// qvsim: serves a simulated dive computer on a pseudo-terminal, so that
// qvtool (or any program using the library's serial transport) can be tried
// without the real device:
//
//   $ qvsim -d "Suunto Vyper" &
//   /dev/pts/7
//   $ qvtool -d "Suunto Vyper" download -o dives.xml /dev/pts/7
//
// The first line on standard output is the terminal's path; the simulator
// serves until it receives SIGINT or SIGTERM and then exits with 0. Every
// error (bad option, unknown model, unreadable image) is one line on
// standard error and exit code 1.
//
// The model is looked up in the library's model table like qvtool does, and
// the model's family selects the simulator in the table `simulators` below:
// a new family adds one row there.
#include "sim/sim.h"
#include "sim/suunto_vyper.h"
#include "sim/suunto_vyper_dives.h"

#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iterator.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <getopt.h>
#include <pthread.h>
#include <strings.h>

namespace {

// An error that ends the program with its message and exit code 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The model-table row that -d named.
struct Model {
    std::string vendor;
    std::string product;
    qv_family_t family = QV_FAMILY_NULL;
    unsigned int model = 0;

    std::string name() const { return vendor + " " + product; }
};

struct Options {
    std::string device;
    std::optional<std::string> image;
    std::vector<std::string> faults;
    std::optional<unsigned int> model;
};

const char usage[] =
    "Usage:\n"
    "   qvsim -d \"<Vendor Product>\" [options]\n"
    "\n"
    "Serves a simulated dive computer on a pseudo-terminal. The terminal's path\n"
    "is printed on the first line of standard output; give it to qvtool as the\n"
    "device name. The simulator runs until it receives SIGINT (Ctrl-C) or\n"
    "SIGTERM.\n"
    "\n"
    "Options:\n"
    "   -h, --help           Show this help message\n"
    "   -d, --device NAME    Model to simulate: \"Vendor Product\" or the product\n"
    "                        alone, as in qvtool (letter case is ignored)\n"
    "   -i, --image FILE     Serve this memory image instead of the built-in\n"
    "                        logbook (8192 bytes for the Suunto Vyper family,\n"
    "                        e.g. one saved with qvtool dump)\n"
    "   -m, --model N        Model code in the device's identification (default:\n"
    "                        the model's own); not with --image\n"
    "   -f, --fault SPEC     Spoil one answer of the device (may be repeated)\n"
    "\n"
    "Simulated models: the Suunto Vyper family (Spyder, Stinger, Mosquito, D3,\n"
    "Vyper, Vytec, Cobra, Gekko, Zoop). Without --image the device holds a\n"
    "built-in logbook of four dives (serial number 12345678), one of them\n"
    "wrapping around the end of the profile memory; the Spyder stores them in\n"
    "its own format, without the events it cannot log.\n"
    "\n"
    "Fault SPEC (Suunto Vyper family): KIND[:WHERE[,WHERE...]]\n"
    "   KIND    checksum       the answer's (packet's) checksum is wrong\n"
    "           silence        no answer (dives: nothing from that packet on)\n"
    "           overlong       the packet claims and carries 33 payload bytes\n"
    "                          (memory reads: one byte too many)\n"
    "           dropped-byte   one byte of the answer (packet) goes missing\n"
    "           wrong-start    the answer (packet) starts with a wrong byte\n"
    "           runaway        dives only: ring bytes are streamed past the\n"
    "                          dive's start, then silence\n"
    "   WHERE   dive=N         the answer to the request for the N-th dive,\n"
    "                          1 = the newest (default: dive=1)\n"
    "           read=N         the answer to the N-th memory read instead,\n"
    "                          1 = the first (a download's identification)\n"
    "           packet=N       dives: the N-th packet of that dive (default 1)\n"
    "           bytes=N        runaway: how many bytes are streamed (default 256)\n"
    "   Dives and reads are counted from the simulator's start, across\n"
    "   downloads; each fault strikes once.\n"
    "   Examples: checksum:dive=2   silence:dive=1,packet=2   overlong\n"
    "             checksum:read=1   runaway:dive=3,bytes=100\n";

// ---------------------------------------------------------------------------
// Small parsers

// An unsigned number in decimal, hexadecimal (0x) or octal (0); the whole
// text must be the number.
std::optional<unsigned long> parse_number(const std::string &text)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return std::nullopt;
    return value;
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t begin = 0;
    for (;;) {
        size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos)
            return parts;
        begin = end + 1;
    }
}

std::vector<uint8_t> read_image(const std::string &path, size_t expected, const std::string &model)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw Failure("cannot open the image file " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        throw Failure("cannot read the image file " + path + ".");
    if (bytes.size() != expected)
        throw Failure("the image file " + path + " holds " + std::to_string(bytes.size()) + " bytes; a " + model +
                      " memory image holds " + std::to_string(expected) + ".");
    return bytes;
}

// ---------------------------------------------------------------------------
// Model table

// The first row whose "Vendor Product" or product alone equals name,
// ignoring letter case (the rule qvtool's -d follows).
std::optional<Model> find_model(const std::string &name)
{
    qv_iterator_t *iterator = nullptr;
    if (qv_descriptor_iterator_new(&iterator) != QV_STATUS_SUCCESS)
        throw Failure("cannot walk the model table.");

    std::optional<Model> found;
    qv_descriptor_t *descriptor = nullptr;
    while (!found && qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS) {
        if (descriptor == nullptr)
            continue;
        const char *vendor = qv_descriptor_get_vendor(descriptor);
        const char *product = qv_descriptor_get_product(descriptor);
        if (product != nullptr) {
            const std::string full = std::string(vendor ? vendor : "") + " " + product;
            if ((vendor != nullptr && strcasecmp(name.c_str(), full.c_str()) == 0) ||
                strcasecmp(name.c_str(), product) == 0) {
                found = Model{vendor ? vendor : "", product, qv_descriptor_get_type(descriptor),
                              qv_descriptor_get_model(descriptor)};
            }
        }
        qv_descriptor_free(descriptor);
    }
    qv_iterator_free(iterator);
    return found;
}

// ---------------------------------------------------------------------------
// Suunto Vyper family

namespace vyper_sim {

using qvsim::SuuntoVyper;
namespace vyper = qvsim::vyper;

constexpr unsigned int SPYDER_MODEL = 0x01;
constexpr unsigned int VYPER_RING_BEGIN = 0x71;
constexpr unsigned int SPYDER_RING_BEGIN = 0x4C;
constexpr unsigned int RING_END = 0x2000;

// A logbook dive as the Spyder stores it: 11 header bytes (interval at 3,
// start pressure at 5 in units of 2 bar, binary year, month, day, hour and
// minute at 6-10), the profile, the end marker 0x80, the minimum
// temperature and the end pressure. The Spyder knows fewer events than
// later models (0x7D surface, 0x7E deco stop, 0x7F ceiling, 0x81 ascent):
// the others, and gas switches, are left out.
std::vector<uint8_t> spyder_record(const vyper::Dive &dive)
{
    std::vector<uint8_t> record = {
        0,
        0,
        0,
        dive.interval,
        0,
        static_cast<uint8_t>(std::min(dive.start_pressure / 2, 255u)),
        static_cast<uint8_t>(((dive.year % 100) + 100) % 100),
        static_cast<uint8_t>(dive.month),
        static_cast<uint8_t>(dive.day),
        static_cast<uint8_t>(dive.hour),
        static_cast<uint8_t>(dive.minute),
    };
    std::vector<vyper::Step> profile;
    for (const vyper::Step &step : dive.profile) {
        if (step.kind == vyper::Step::Kind::depth) {
            profile.push_back(step);
        } else if (step.kind == vyper::Step::Kind::event) {
            switch (step.value) {
            case vyper::EVENT_ASCENT:
                profile.push_back(vyper::event(0x81));
                break;
            case vyper::EVENT_SURFACE:
            case vyper::EVENT_DECOSTOP:
            case vyper::EVENT_CEILING:
                profile.push_back(step);
                break;
            default:
                break;
            }
        }
    }
    const std::vector<uint8_t> bytes = vyper::encode_profile(profile);
    record.insert(record.end(), bytes.begin(), bytes.end());
    record.push_back(vyper::END_MARKER);
    record.push_back(static_cast<uint8_t>(dive.minimum_temperature));
    record.push_back(static_cast<uint8_t>(std::min(dive.end_pressure / 2, 255u)));
    return record;
}

// The built-in logbook in the model's layout, placed so that the dive
// before the newest one wraps around the end of the profile ring (the
// device's ring is written round and round; most real logbooks wrap).
std::vector<uint8_t> builtin_image(const SuuntoVyper::Identity &identity)
{
    const bool spyder = identity.layout == SuuntoVyper::Layout::spyder;
    std::vector<std::vector<uint8_t>> records;
    for (const vyper::Dive &dive : vyper::builtin_logbook())
        records.push_back(spyder ? spyder_record(dive) : vyper::encode(dive));

    const unsigned int begin = spyder ? SPYDER_RING_BEGIN : VYPER_RING_BEGIN;
    size_t before = 0; // bytes from the oldest dive's start to the middle of the wrapping one
    for (size_t i = 0; i + 2 < records.size(); ++i)
        before += records[i].size();
    if (records.size() >= 2)
        before += records[records.size() - 2].size() / 2;
    unsigned int start = 0;
    if (before > 0 && before + 16 < RING_END - begin)
        start = RING_END - static_cast<unsigned int>(before);
    return SuuntoVyper::build_image(identity, records, start);
}

SuuntoVyper::FaultPlan parse_fault(const std::string &spec)
{
    static const struct {
        const char *name;
        SuuntoVyper::Fault fault;
    } kinds[] = {
        {"checksum", SuuntoVyper::Fault::bad_checksum},     {"silence", SuuntoVyper::Fault::silence},
        {"overlong", SuuntoVyper::Fault::overlong_packet},  {"dropped-byte", SuuntoVyper::Fault::dropped_byte},
        {"wrong-start", SuuntoVyper::Fault::wrong_start},   {"runaway", SuuntoVyper::Fault::runaway},
    };
    const std::string bad = "invalid fault \"" + spec + "\" (see qvsim --help): ";

    const size_t colon = spec.find(':');
    const std::string kind = spec.substr(0, colon);
    std::optional<SuuntoVyper::Fault> fault;
    for (const auto &entry : kinds) {
        if (kind == entry.name)
            fault = entry.fault;
    }
    if (!fault)
        throw Failure(bad + "unknown kind \"" + kind + "\".");

    std::optional<unsigned long> dive, read, packet, bytes;
    if (colon != std::string::npos) {
        for (const std::string &item : split(spec.substr(colon + 1), ',')) {
            const size_t equal = item.find('=');
            const std::string key = item.substr(0, equal);
            std::optional<unsigned long> value;
            if (equal != std::string::npos)
                value = parse_number(item.substr(equal + 1));
            std::optional<unsigned long> *slot = key == "dive"     ? &dive
                                                 : key == "read"   ? &read
                                                 : key == "packet" ? &packet
                                                 : key == "bytes"  ? &bytes
                                                                   : nullptr;
            if (slot == nullptr)
                throw Failure(bad + "unknown place \"" + item + "\".");
            if (!value || *value == 0 || *value > 65535)
                throw Failure(bad + "\"" + item + "\" needs a number from 1 to 65535.");
            if (*slot)
                throw Failure(bad + "\"" + key + "\" given twice.");
            *slot = value;
        }
    }
    if (dive && read)
        throw Failure(bad + "dive= and read= exclude each other.");
    if (read && (packet || bytes))
        throw Failure(bad + "packet= and bytes= apply to dives only.");
    if (*fault == SuuntoVyper::Fault::runaway && read)
        throw Failure(bad + "runaway applies to dives only.");
    if (bytes && *fault != SuuntoVyper::Fault::runaway)
        throw Failure(bad + "bytes= applies to runaway only.");

    SuuntoVyper::FaultPlan plan;
    plan.fault = *fault;
    if (read) {
        plan.command = 0x05;
        plan.occurrence = static_cast<unsigned int>(*read - 1);
    } else {
        // The newest dive is asked for with 0x08, every older one with 0x09.
        const unsigned long n = dive.value_or(1);
        plan.command = n == 1 ? 0x08 : 0x09;
        plan.occurrence = n == 1 ? 0 : static_cast<unsigned int>(n - 2);
        plan.packet = static_cast<unsigned int>(packet.value_or(1) - 1);
        plan.size = bytes.value_or(256);
    }
    return plan;
}

std::unique_ptr<qvsim::Device> make(const Model &model, const Options &options)
{
    std::vector<SuuntoVyper::FaultPlan> plans;
    for (const std::string &spec : options.faults)
        plans.push_back(parse_fault(spec));

    std::unique_ptr<SuuntoVyper> device;
    if (options.image) {
        if (options.model)
            throw Failure("--model cannot be combined with --image (the image holds its own identification).");
        device = std::make_unique<SuuntoVyper>(read_image(*options.image, SuuntoVyper::MEMORY_SIZE, model.name()));
    } else {
        SuuntoVyper::Identity identity;
        identity.layout = model.model == SPYDER_MODEL ? SuuntoVyper::Layout::spyder : SuuntoVyper::Layout::vyper;
        identity.model = static_cast<uint8_t>(model.model);
        if (options.model) {
            if (*options.model > 0xFF)
                throw Failure("the model code must lie between 0 and 255.");
            // On the Vyper layout the model code shares its address with the
            // Spyder's sample interval: 20, 30 and 60 would read as a Spyder.
            if (identity.layout == SuuntoVyper::Layout::vyper &&
                (*options.model == 20 || *options.model == 30 || *options.model == 60))
                throw Failure("model code " + std::to_string(*options.model) +
                              " would read as a Spyder's sample interval.");
            identity.model = static_cast<uint8_t>(*options.model);
        }
        device = std::make_unique<SuuntoVyper>(builtin_image(identity));
    }
    for (const auto &plan : plans)
        device->inject(plan);
    return device;
}

} // namespace vyper_sim

// ---------------------------------------------------------------------------
// Simulators by family: one row per simulated family.

struct Simulator {
    qv_family_t family;
    std::unique_ptr<qvsim::Device> (*make)(const Model &model, const Options &options);
};

const Simulator simulators[] = {
    {QV_FAMILY_SUUNTO_VYPER, vyper_sim::make},
};

// ---------------------------------------------------------------------------

Options parse_options(int argc, char *argv[], bool &help)
{
    static const struct option longopts[] = {
        {"help", no_argument, nullptr, 'h'},         {"device", required_argument, nullptr, 'd'},
        {"image", required_argument, nullptr, 'i'},  {"fault", required_argument, nullptr, 'f'},
        {"model", required_argument, nullptr, 'm'},  {nullptr, 0, nullptr, 0},
    };

    Options options;
    help = false;
    opterr = 0;
    int opt;
    while ((opt = getopt_long(argc, argv, ":hd:i:f:m:", longopts, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            help = true;
            break;
        case 'd':
            options.device = optarg;
            break;
        case 'i':
            options.image = optarg;
            break;
        case 'f':
            options.faults.push_back(optarg);
            break;
        case 'm': {
            std::optional<unsigned long> value = parse_number(optarg);
            if (!value || *value > 0xFF)
                throw Failure(std::string("invalid model code \"") + optarg + "\" (a number from 0 to 255).");
            options.model = static_cast<unsigned int>(*value);
            break;
        }
        case ':':
            throw Failure(std::string("option ") + argv[optind - 1] + " needs an argument.");
        default:
            // optopt names an unknown short option; an unknown long one is
            // the argument just passed.
            throw Failure((optopt != 0 ? std::string("unknown option -") + static_cast<char>(optopt)
                                       : std::string("unknown option ") + argv[optind - 1]) +
                          " (see qvsim --help).");
        }
    }
    if (optind < argc)
        throw Failure(std::string("unexpected argument \"") + argv[optind] + "\" (see qvsim --help).");
    return options;
}

int run(int argc, char *argv[])
{
    bool help = false;
    const Options options = parse_options(argc, argv, help);
    if (help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (options.device.empty())
        throw Failure("no model given: qvsim -d \"<Vendor Product>\" (see qvsim --help).");

    const std::optional<Model> model = find_model(options.device);
    if (!model)
        throw Failure("unknown dive computer \"" + options.device + "\" (qvtool list shows the supported ones).");
    const Simulator *simulator = nullptr;
    for (const auto &row : simulators) {
        if (row.family == model->family)
            simulator = &row;
    }
    if (simulator == nullptr)
        throw Failure("the " + model->name() + " is not simulated yet.");

    std::unique_ptr<qvsim::Device> device;
    try {
        device = simulator->make(*model, options);
    } catch (const std::invalid_argument &e) {
        throw Failure(std::string("cannot set up the simulator: ") + e.what() + ".");
    }

    // The signals that end the simulator are taken synchronously: blocked
    // here, before the server thread starts (it inherits the mask), and
    // waited for below. An interrupt or hangup that was ignored when the
    // program started (a background job of a script) stays ignored: a
    // blocked signal would be queued even though ignored.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    for (int sig : {SIGINT, SIGHUP}) {
        struct sigaction current = {};
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaddset(&stop_signals, sig);
    }
    if (pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr) != 0)
        throw Failure("cannot block the stop signals.");

    qvsim::PtyServer server(*device);
    std::string error;
    if (!server.start(&error))
        throw Failure("cannot open the pseudo-terminal: " + error);

    std::printf("%s\n", server.path().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "qvsim: serving the %s on %s; stop with Ctrl-C.\n", model->name().c_str(),
                 server.path().c_str());

    for (;;) {
        const timespec poll_interval = {0, 200 * 1000 * 1000};
        const int sig = sigtimedwait(&stop_signals, nullptr, &poll_interval);
        if (sig > 0)
            break;
        if (sig < 0 && errno != EAGAIN && errno != EINTR) {
            server.stop();
            throw Failure(std::string("cannot wait for signals: ") + std::strerror(errno));
        }
        const std::string failure = server.failure();
        if (!failure.empty()) {
            server.stop();
            throw Failure("the simulator stopped: " + failure);
        }
    }
    server.stop();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qvsim: %s\n", e.what());
        return 1;
    }
}
