// Unit tests of the qvtool helpers: status texts, family and transport
// names, descriptor search, log handler, message() with its log file, the
// cancellation flag, stream opening per transport, event printing, the PIN
// prompt and access-code file, hexadecimal conversion and file helpers.
#include "common.h"
#include "process.h"

#include <libquivelmarine/buffer.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iostream.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/version.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Row {
    std::string vendor;
    std::string product;
    qv_family_t family;
    unsigned int model;
};

Row row_of(const qv_descriptor_t *descriptor)
{
    const char *vendor = qv_descriptor_get_vendor(descriptor);
    const char *product = qv_descriptor_get_product(descriptor);
    return {vendor ? vendor : "", product ? product : "", qv_descriptor_get_type(descriptor),
            qv_descriptor_get_model(descriptor)};
}

// The first model-table row with this vendor and product.
qv_descriptor_t *table_row(const std::string &vendor, const std::string &product)
{
    qv_iterator_t *iterator = nullptr;
    if (qv_descriptor_iterator_new(&iterator) != QV_STATUS_SUCCESS)
        return nullptr;
    qv_descriptor_t *descriptor = nullptr;
    qv_descriptor_t *found = nullptr;
    while (found == nullptr && qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS) {
        Row row = row_of(descriptor);
        if (row.vendor == vendor && row.product == product)
            found = descriptor;
    }
    qv_iterator_free(iterator);
    return found;
}

TEST(QvtoolErrmsg, StatusTexts)
{
    const struct {
        qv_status_t status;
        const char *text;
    } cases[] = {
        {QV_STATUS_SUCCESS, "Success"},
        {QV_STATUS_UNSUPPORTED, "Unsupported operation"},
        {QV_STATUS_INVALIDARGS, "Invalid arguments"},
        {QV_STATUS_NOMEMORY, "Out of memory"},
        {QV_STATUS_NODEVICE, "No device found"},
        {QV_STATUS_NOACCESS, "Access denied"},
        {QV_STATUS_IO, "Input/output error"},
        {QV_STATUS_TIMEOUT, "Timeout"},
        {QV_STATUS_PROTOCOL, "Protocol error"},
        {QV_STATUS_DATAFORMAT, "Data format error"},
        {QV_STATUS_CANCELLED, "Cancelled"},
        {QV_STATUS_DONE, "Unknown error"},
        {-11, "Unknown error"},
        {INT32_MIN, "Unknown error"},
        {INT32_MAX, "Unknown error"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(qvtool_errmsg(c.status), c.text) << c.status;
}

TEST(QvtoolLookups, FamilyTable)
{
    const struct {
        const char *name;
        qv_family_t family;
        unsigned int model;
    } families[] = {
        {"solution", 0x10000, 0},      {"eon", 0x10001, 0},
        {"vyper", 0x10002, 10},        {"vyper2", 0x10003, 16},
        {"d9", 0x10004, 14},           {"eonsteel", 0x10005, 0},
        {"aladin", 0x30000, 63},       {"memomouse", 0x30001, 0},
        {"smart", 0x30002, 16},        {"sensus", 0x20000, 1},
        {"sensuspro", 0x20001, 2},     {"sensusultra", 0x20002, 3},
        {"vtpro", 0x40000, 0x4245},    {"veo250", 0x40001, 0x424C},
        {"atom2", 0x40002, 0x4342},    {"i330r", 0x40003, 0x4744},
        {"nemo", 0x50000, 0},          {"puck", 0x50001, 7},
        {"darwin", 0x50002, 0},        {"iconhd", 0x50003, 20},
        {"ostc", 0x60000, 0},          {"frog", 0x60001, 0},
        {"ostc3", 0x60002, 0},         {"edy", 0x70000, 8},
        {"leonardo", 0x70001, 1},      {"goa", 0x70002, 2},
        {"n2ition3", 0x80000, 0},      {"cobalt", 0x90000, 0},
        {"predator", 0xA0000, 2},      {"petrel", 0xA0001, 3},
        {"nitekq", 0xB0000, 0},        {"aqualand", 0xC0000, 0},
        {"idive", 0xD0000, 3},         {"cochran", 0xE0000, 0},
        {"divecomputereu", 0xF0000, 0}, {"extreme", 0x100000, 0},
        {"lynx", 0x110000, 0},         {"sp2", 0x120000, 0},
        {"excursion", 0x130000, 0},    {"screen", 0x140000, 0},
        {"cosmiq", 0x150000, 0},       {"s1", 0x160000, 0},
        {"freedom", 0x170000, 19},     {"symbios", 0x180000, 1},
    };
    static_assert(sizeof(families) / sizeof(families[0]) == 44);

    for (const auto &f : families) {
        EXPECT_EQ(qvtool_family_type(f.name), f.family) << f.name;
        EXPECT_STREQ(qvtool_family_name(f.family), f.name);
        EXPECT_EQ(qvtool_family_model(f.family), f.model) << f.name;

        // Every family of the name table has a row in the model table, and
        // the family's default model picks one of its rows.
        qv_descriptor_t *descriptor = nullptr;
        ASSERT_EQ(qvtool_descriptor_search(&descriptor, nullptr, f.family, f.model),
                  QV_STATUS_SUCCESS);
        ASSERT_NE(descriptor, nullptr) << f.name;
        EXPECT_EQ(qv_descriptor_get_type(descriptor), f.family) << f.name;
    }

    for (const char *unknown : {"", "Vyper", "VYPER", "vyper ", " vyper", "vyper3", "suunto"})
        EXPECT_EQ(qvtool_family_type(unknown), QV_FAMILY_NULL) << '"' << unknown << '"';
    EXPECT_EQ(qvtool_family_type(nullptr), QV_FAMILY_NULL);
    EXPECT_EQ(qvtool_family_name(QV_FAMILY_NULL), nullptr);
    EXPECT_EQ(qvtool_family_name(0x10006), nullptr);
    EXPECT_EQ(qvtool_family_model(0x999999), 0u);
}

TEST(QvtoolLookups, TransportTable)
{
    const struct {
        const char *name;
        qv_transport_t transport;
    } transports[] = {
        {"serial", QV_TRANSPORT_SERIAL}, {"usb", QV_TRANSPORT_USB},
        {"usbhid", QV_TRANSPORT_USBHID}, {"irda", QV_TRANSPORT_IRDA},
        {"bluetooth", QV_TRANSPORT_BLUETOOTH}, {"ble", QV_TRANSPORT_BLE},
    };
    for (const auto &t : transports) {
        EXPECT_EQ(qvtool_transport_type(t.name), t.transport) << t.name;
        EXPECT_STREQ(qvtool_transport_name(t.transport), t.name);
    }
    for (const char *unknown : {"", "Serial", "BLE", "usb ", "rfcomm"})
        EXPECT_EQ(qvtool_transport_type(unknown), QV_TRANSPORT_NONE) << '"' << unknown << '"';
    EXPECT_EQ(qvtool_transport_type(nullptr), QV_TRANSPORT_NONE);
    EXPECT_EQ(qvtool_transport_name(QV_TRANSPORT_NONE), nullptr);
    EXPECT_EQ(qvtool_transport_name(QV_TRANSPORT_SERIAL | QV_TRANSPORT_BLE), nullptr);
    EXPECT_EQ(qvtool_transport_name(64), nullptr);
}

TEST(QvtoolLookups, DefaultTransportIsTheFirstSupportedOne)
{
    const struct {
        const char *vendor;
        const char *product;
        qv_transport_t expected;
    } cases[] = {
        {"Shearwater", "Petrel", QV_TRANSPORT_SERIAL},        // serial and bluetooth
        {"Shearwater", "Tern", QV_TRANSPORT_BLE},             // ble only
        {"Suunto", "EON Steel", QV_TRANSPORT_USBHID},         // usbhid and ble
        {"Atomic Aquatics", "Cobalt", QV_TRANSPORT_USB},      // usb only
        {"Uwatec", "Smart Pro", QV_TRANSPORT_IRDA},           // irda only
        {"Scubapro", "G2", QV_TRANSPORT_USBHID},              // usbhid and ble
        {"Heinrichs Weikamp", "OSTC Nano", QV_TRANSPORT_SERIAL}, // serial and ble
    };
    for (const auto &c : cases) {
        qv_descriptor_t *descriptor = table_row(c.vendor, c.product);
        ASSERT_NE(descriptor, nullptr) << c.vendor << " " << c.product;
        EXPECT_EQ(qvtool_transport_default(descriptor), c.expected) << c.vendor << " " << c.product;
    }
    EXPECT_EQ(qvtool_transport_default(nullptr), QV_TRANSPORT_NONE);
}

TEST(QvtoolDescriptorSearch, ByName)
{
    const struct {
        const char *name;
        const char *vendor; // nullptr: nothing found
        const char *product;
        qv_family_t family;
        unsigned int model;
    } cases[] = {
        {"Suunto Vyper", "Suunto", "Vyper", QV_FAMILY_SUUNTO_VYPER, 0x0A},
        {"suunto vyper", "Suunto", "Vyper", QV_FAMILY_SUUNTO_VYPER, 0x0A},
        {"Vyper", "Suunto", "Vyper", QV_FAMILY_SUUNTO_VYPER, 0x0A},
        {"vyper 2", "Suunto", "Vyper 2", QV_FAMILY_SUUNTO_VYPER2, 0x10},
        {"shearwater petrel", "Shearwater", "Petrel", QV_FAMILY_SHEARWATER_PETREL, 0x03},
        {"Petrel 2", "Shearwater", "Petrel 2", QV_FAMILY_SHEARWATER_PETREL, 0x03},
        {"SHEARWATER PERDIX AI", "Shearwater", "Perdix AI", QV_FAMILY_SHEARWATER_PETREL, 0x06},
        // The first of several rows with the same product wins.
        {"Zoop Novo", "Suunto", "Zoop Novo", QV_FAMILY_SUUNTO_D9, 0x1E},
        {"Aladin 2G", "Uwatec", "Aladin 2G", QV_FAMILY_UWATEC_SMART, 0x13},
        {"OC1", "Oceanic", "OC1", QV_FAMILY_OCEANIC_ATOM2, 0x434E},
        // Vendors that change within a family; vendor names with blanks.
        {"Scubapro G2", "Scubapro", "G2", QV_FAMILY_UWATEC_SMART, 0x32},
        {"heinrichs weikamp ostc 4", "Heinrichs Weikamp", "OSTC 4", QV_FAMILY_HW_OSTC3, 0x43},
        {"Atomic Aquatics Cobalt 2", "Atomic Aquatics", "Cobalt 2", QV_FAMILY_ATOMICS_COBALT, 0x02},
        {"Halcyon Symbios Handset", "Halcyon", "Symbios Handset", QV_FAMILY_HALCYON_SYMBIOS, 0x07},
        {"Suunto Solution", "Suunto", "Solution", QV_FAMILY_SUUNTO_SOLUTION, 0x00},
        // A product that ends in a blank matches only with that blank.
        {"Ratio iX3M GPS Pro ", "Ratio", "iX3M GPS Pro ", QV_FAMILY_DIVESYSTEM_IDIVE, 0x21},
        {"iX3M GPS Pro ", "Ratio", "iX3M GPS Pro ", QV_FAMILY_DIVESYSTEM_IDIVE, 0x21},
        {"Ratio iX3M GPS Pro", nullptr, nullptr, 0, 0},
        // Near misses.
        {"Suunto  Vyper", nullptr, nullptr, 0, 0},
        {"SuuntoVyper", nullptr, nullptr, 0, 0},
        {"Suunto", nullptr, nullptr, 0, 0},
        {"Suunto ", nullptr, nullptr, 0, 0},
        {"Suunto Vyper ", nullptr, nullptr, 0, 0},
        {"Vype", nullptr, nullptr, 0, 0},
        {"Mares Vyper", nullptr, nullptr, 0, 0},
        {"", nullptr, nullptr, 0, 0},
    };
    for (const auto &c : cases) {
        qv_descriptor_t *descriptor = reinterpret_cast<qv_descriptor_t *>(1);
        ASSERT_EQ(qvtool_descriptor_search(&descriptor, c.name, QV_FAMILY_NULL, 0),
                  QV_STATUS_SUCCESS)
            << c.name;
        if (c.vendor == nullptr) {
            EXPECT_EQ(descriptor, nullptr) << '"' << c.name << '"';
            continue;
        }
        ASSERT_NE(descriptor, nullptr) << '"' << c.name << '"';
        Row row = row_of(descriptor);
        EXPECT_EQ(row.vendor, c.vendor) << c.name;
        EXPECT_EQ(row.product, c.product) << c.name;
        EXPECT_EQ(row.family, c.family) << c.name;
        EXPECT_EQ(row.model, c.model) << c.name;
        qv_descriptor_free(descriptor);
    }
}

TEST(QvtoolDescriptorSearch, ByFamilyAndModel)
{
    const struct {
        qv_family_t family;
        unsigned int model;
        const char *product; // nullptr: nothing found
    } cases[] = {
        {QV_FAMILY_SUUNTO_VYPER, 10, "Vyper"},
        {QV_FAMILY_SUUNTO_VYPER, 0x0C, "Cobra"},
        {QV_FAMILY_SUUNTO_VYPER, 0x16, "Zoop"},
        {QV_FAMILY_SUUNTO_VYPER, 99, "Spyder"},  // no such model: the family's first row
        {QV_FAMILY_SUUNTO_VYPER, 0, "Spyder"},
        {QV_FAMILY_SUUNTO_VYPER2, 0x0C, "Vyper 2"}, // the model of another family does not count
        {QV_FAMILY_UWATEC_SMART, 0x11, "Galileo Sol"},
        {QV_FAMILY_UWATEC_SMART, 0x32, "G2"},
        {QV_FAMILY_OCEANIC_ATOM2, 0x4342, "Atom 2.0"},
        {QV_FAMILY_HALCYON_SYMBIOS, 7, "Symbios Handset"},
        {QV_FAMILY_HALCYON_SYMBIOS, UINT_MAX, "Symbios HUD"},
        {QV_FAMILY_NULL, 0, nullptr},
        {0x10006, 0, nullptr},
        {0x190000, 1, nullptr},
    };
    for (const auto &c : cases) {
        qv_descriptor_t *descriptor = nullptr;
        ASSERT_EQ(qvtool_descriptor_search(&descriptor, nullptr, c.family, c.model),
                  QV_STATUS_SUCCESS);
        if (c.product == nullptr) {
            EXPECT_EQ(descriptor, nullptr) << std::hex << c.family << " " << c.model;
            continue;
        }
        ASSERT_NE(descriptor, nullptr) << std::hex << c.family << " " << c.model;
        EXPECT_EQ(qv_descriptor_get_type(descriptor), c.family);
        EXPECT_STREQ(qv_descriptor_get_product(descriptor), c.product)
            << std::hex << c.family << " " << c.model;
    }

    // A name takes precedence over family and model.
    qv_descriptor_t *descriptor = nullptr;
    ASSERT_EQ(qvtool_descriptor_search(&descriptor, "Cobra", QV_FAMILY_SHEARWATER_PETREL, 3),
              QV_STATUS_SUCCESS);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(qv_descriptor_get_type(descriptor), QV_FAMILY_SUUNTO_VYPER);

    EXPECT_EQ(qvtool_descriptor_search(nullptr, "Cobra", 0, 0), QV_STATUS_INVALIDARGS);
}

TEST(QvtoolLogfunc, FormatsLibraryMessages)
{
    qv_context_t *context = nullptr;
    ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
    qv_context_set_loglevel(context, QV_LOGLEVEL_ALL);
    qv_context_set_logfunc(context, qvtool_logfunc, nullptr);

    const struct {
        qv_loglevel_t level;
        const char *expected;
    } cases[] = {
        {QV_LOGLEVEL_ERROR, "ERROR: Failed 7. [in src/x.cpp:42 (qv_x_read)]\n"},
        {QV_LOGLEVEL_WARNING, "WARNING: Failed 7. [in src/x.cpp:42 (qv_x_read)]\n"},
        {QV_LOGLEVEL_INFO, "INFO: Failed 7.\n"},
        {QV_LOGLEVEL_DEBUG, "DEBUG: Failed 7.\n"},
        {QV_LOGLEVEL_ALL, "ALL: Failed 7.\n"},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        qv_context_log(context, c.level, "src/x.cpp", 42, "qv_x_read", "Failed %d.", 7);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected);
    }

    testing::internal::CaptureStderr();
    qvtool_logfunc(context, 17, "f", 1, "g", "odd level", nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "UNKNOWN: odd level\n");

    qv_context_free(context);
}

TEST(QvtoolMessage, LogFileStampsEachLineOnce)
{
    qvtest::TempDir dir;
    const std::string path = dir.file("tool.log");

    testing::internal::CaptureStderr();
    qvtool_logfile(path.c_str());
    message("Fingerprint: ");
    for (unsigned char byte : {0x0Au, 0xFFu, 0x00u})
        message("%02X", byte);
    message("\n");
    // An empty message at the start of a line carries the next line's stamp.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
    message("");
#pragma GCC diagnostic pop
    message("%s", "");
    message("second line %d\n", 2);
    message("%s\n", "third");
    message("a\nb\n"); // one message, one stamp
    qvtool_logfile(nullptr);
    message("not logged\n");
    std::string err = testing::internal::GetCapturedStderr();

    auto log = qvtest::read_file(path);
    ASSERT_TRUE(log.has_value());

    // Replace the stamps by a marker: they must stand exactly where expected.
    const std::regex stamp(R"(\[[0-9]+\.[0-9]{6}\] )");
    std::string stripped = std::regex_replace(*log, stamp, "<T>");
    size_t end_of_first = stripped.find('\n');
    ASSERT_NE(end_of_first, std::string::npos) << stripped;
    EXPECT_TRUE(std::regex_match(stripped.substr(0, end_of_first),
                                 std::regex("<T>DATETIME [0-9]+-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:"
                                            "[0-9]{2}Z \\([0-9]+\\)")))
        << stripped;
    EXPECT_EQ(stripped.substr(end_of_first + 1), std::string("<T>VERSION ") + qv_version(nullptr) +
                                                     "\n"
                                                     "<T>Fingerprint: 0AFF00\n"
                                                     "<T>second line 2\n"
                                                     "<T>third\n"
                                                     "<T>a\nb\n");

    // Standard error gets the same text without stamps, also after closing.
    std::string expected_err = std::regex_replace(stripped, std::regex("<T>"), "") + "not logged\n";
    EXPECT_EQ(err, expected_err);

    // Reopening truncates and restarts at the beginning of a line.
    testing::internal::CaptureStderr();
    qvtool_logfile(path.c_str());
    message("partial");
    qvtool_logfile(path.c_str());
    message("fresh\n");
    qvtool_logfile(nullptr);
    testing::internal::GetCapturedStderr();
    log = qvtest::read_file(path);
    ASSERT_TRUE(log.has_value());
    EXPECT_EQ(log->find("partial"), std::string::npos);
    EXPECT_TRUE(std::regex_search(*log, std::regex(R"(\n\[[0-9]+\.[0-9]{6}\] fresh\n$)"))) << *log;
}

TEST(QvtoolMessage, UnopenableLogFileIsIgnored)
{
    qvtest::TempDir dir;
    testing::internal::CaptureStderr();
    qvtool_logfile(dir.file("missing/tool.log").c_str());
    message("plain\n");
    qvtool_logfile(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "plain\n");
}

TEST(QvtoolCancel, InterruptRaisesTheFlag)
{
    EXPECT_EQ(qvtool_cancel_cb(nullptr), 0);
    ASSERT_EQ(qvtool_cancel_install(), 0);
    EXPECT_EQ(qvtool_cancel_cb(nullptr), 0);
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_NE(qvtool_cancel_cb(nullptr), 0);
    EXPECT_NE(qvtool_cancel_cb(nullptr), 0); // never lowered
}

// ---------------------------------------------------------------------------
// Front-end helpers of the device commands.

// The report lines carry the source line; the tests compare everything else.
std::string without_line_numbers(const std::string &text)
{
    return std::regex_replace(text, std::regex(R"(\.cpp:[0-9]+ \()"), ".cpp:N (");
}

std::string report(const std::string &text, const std::string &function)
{
    return "ERROR: " + text + " [in examples/common.cpp:N (" + function + ")]\n";
}

std::vector<unsigned char> bytes_of(const qv_buffer_t *buffer)
{
    const unsigned char *data = qv_buffer_get_data(buffer);
    return std::vector<unsigned char>(data, data + qv_buffer_get_size(buffer));
}

std::vector<std::string> files_in(const std::string &path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the test body in another current directory and returns to the old
// one afterwards.
class InDirectory {
public:
    explicit InDirectory(const std::string &path)
    {
        char buffer[4096];
        if (getcwd(buffer, sizeof(buffer)) != nullptr)
            old_ = buffer;
        EXPECT_EQ(chdir(path.c_str()), 0);
    }
    ~InDirectory()
    {
        if (!old_.empty()) {
            EXPECT_EQ(chdir(old_.c_str()), 0);
        }
    }

private:
    std::string old_;
};

TEST(QvtoolHex2bin, Conversion)
{
    const struct {
        const char *text;
        std::optional<std::vector<unsigned char>> bytes;
    } cases[] = {
        {"0aFfzz1", std::vector<unsigned char>{0x0A, 0xFF, 0x00}},
        {"00", std::vector<unsigned char>{0x00}},
        {"0123456789abcdefABCDEF", std::vector<unsigned char>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB,
                                                              0xCD, 0xEF, 0xAB, 0xCD, 0xEF}},
        {"G1x2", std::vector<unsigned char>{0x01, 0x02}},
        {"12 34", std::vector<unsigned char>{0x12, 0x03}},
        {"a", std::nullopt},
        {"", std::nullopt},
        {nullptr, std::nullopt},
    };
    for (const auto &c : cases) {
        qv_buffer_t *buffer = qvtool_convert_hex2bin(c.text);
        if (!c.bytes) {
            EXPECT_EQ(buffer, nullptr) << (c.text ? c.text : "(null)");
            continue;
        }
        ASSERT_NE(buffer, nullptr) << c.text;
        EXPECT_EQ(bytes_of(buffer), *c.bytes) << c.text;
        qv_buffer_free(buffer);
    }

    // A long text: every pair becomes one byte.
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "5a";
    qv_buffer_t *buffer = qvtool_convert_hex2bin(text.c_str());
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(bytes_of(buffer), std::vector<unsigned char>(5000, 0x5A));
    qv_buffer_free(buffer);
}

TEST(QvtoolFiles, ReadAndWriteRoundTrip)
{
    qvtest::TempDir dir;
    for (size_t size : {size_t(0), size_t(1), size_t(1023), size_t(1024), size_t(1025), size_t(3000)}) {
        std::vector<unsigned char> content(size);
        for (size_t i = 0; i < size; ++i)
            content[i] = static_cast<unsigned char>((i * 7) ^ (i >> 3)); // zeros, CR, LF, 0x1A included
        qv_buffer_t *buffer = qv_buffer_new(0);
        ASSERT_TRUE(qv_buffer_append(buffer, content.data(), content.size()) || size == 0);

        const std::string path = dir.file("data-" + std::to_string(size) + ".bin");
        qvtool_file_write(path.c_str(), buffer);
        qv_buffer_free(buffer);

        qv_buffer_t *read = qvtool_file_read(path.c_str());
        ASSERT_NE(read, nullptr) << size;
        EXPECT_EQ(bytes_of(read), content) << size;
        qv_buffer_free(read);
    }

    // Writing replaces a longer file completely.
    const std::string path = dir.file("replaced.bin");
    qv_buffer_t *buffer = qvtool_convert_hex2bin("0102030405");
    qvtool_file_write(path.c_str(), buffer);
    qv_buffer_free(buffer);
    buffer = qvtool_convert_hex2bin("AA");
    qvtool_file_write(path.c_str(), buffer);
    qv_buffer_free(buffer);
    EXPECT_EQ(qvtest::read_file(path), std::string("\xAA"));

    // No buffer: an empty file.
    qvtool_file_write(path.c_str(), nullptr);
    EXPECT_EQ(qvtest::read_file(path), std::string());
}

TEST(QvtoolFiles, UnreadableAndUnwritableFiles)
{
    qvtest::TempDir dir;
    testing::internal::CaptureStderr();
    EXPECT_EQ(qvtool_file_read(dir.file("missing.bin").c_str()), nullptr);
    EXPECT_EQ(qvtool_file_read(dir.path().c_str()), nullptr); // a directory
    qv_buffer_t *buffer = qvtool_convert_hex2bin("0102");
    qvtool_file_write(dir.file("missing/out.bin").c_str(), buffer);
    qvtool_file_write(dir.path().c_str(), buffer);
    qv_buffer_free(buffer);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ""); // nothing is reported
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{});
}

TEST(QvtoolFiles, ReplaceIsAtomicAndLeavesNoTemporaryFile)
{
    qvtest::TempDir dir;
    const std::string path = dir.file("suunto-0001E240.bin");

    qv_buffer_t *first = qvtool_convert_hex2bin("0102030405060708");
    qv_buffer_t *second = qvtool_convert_hex2bin("AABB");
    ASSERT_EQ(qvtool_file_replace(path.c_str(), first), QV_STATUS_SUCCESS);
    EXPECT_EQ(qvtest::read_file(path), std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    ASSERT_EQ(qvtool_file_replace(path.c_str(), second), QV_STATUS_SUCCESS);
    EXPECT_EQ(qvtest::read_file(path), std::string("\xAA\xBB"));
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"suunto-0001E240.bin"});

    // The file gets the permissions of an ordinary new file.
    mode_t mask = umask(022);
    const std::string other = dir.file("other.bin");
    ASSERT_EQ(qvtool_file_replace(other.c_str(), first), QV_STATUS_SUCCESS);
    umask(mask);
    struct stat st = {};
    ASSERT_EQ(stat(other.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // Failures leave nothing behind.
    EXPECT_EQ(qvtool_file_replace(dir.file("missing/cache.bin").c_str(), first), QV_STATUS_IO);
    const std::string subdir = dir.file("subdir");
    ASSERT_EQ(mkdir(subdir.c_str(), 0755), 0);
    EXPECT_EQ(qvtool_file_replace(subdir.c_str(), first), QV_STATUS_IO);
    EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"other.bin", "subdir", "suunto-0001E240.bin"}));
    EXPECT_EQ(files_in(subdir), std::vector<std::string>{});
    EXPECT_EQ(qvtool_file_replace(nullptr, first), QV_STATUS_INVALIDARGS);
    EXPECT_EQ(qvtool_file_replace("", first), QV_STATUS_INVALIDARGS);

    qv_buffer_free(first);
    qv_buffer_free(second);
}

TEST(QvtoolAuth, AccessCodeFileRoundTrip)
{
    qvtest::TempDir dir;
    InDirectory in(dir.path());

    const std::string missing = report("Failed to open the access code file.", "qvtool_auth_get_accesscode");

    // No file yet: reported, the buffer is left alone, and the handshake goes on.
    unsigned char code[16];
    std::memset(code, 0x5C, sizeof(code));
    testing::internal::CaptureStderr();
    EXPECT_EQ(qvtool_auth_get_accesscode(nullptr, code, sizeof(code)), QV_STATUS_SUCCESS);
    EXPECT_EQ(without_line_numbers(testing::internal::GetCapturedStderr()), missing);
    EXPECT_EQ(std::vector<unsigned char>(code, code + 16), std::vector<unsigned char>(16, 0x5C));

    unsigned char stored[16];
    for (int i = 0; i < 16; ++i)
        stored[i] = static_cast<unsigned char>(0xF0 + i);
    testing::internal::CaptureStderr();
    EXPECT_EQ(qvtool_auth_set_accesscode(nullptr, stored, sizeof(stored)), QV_STATUS_SUCCESS);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(qvtest::read_file(dir.file("accesscode.bin")),
              std::string(reinterpret_cast<const char *>(stored), sizeof(stored)));

    testing::internal::CaptureStderr();
    EXPECT_EQ(qvtool_auth_get_accesscode(nullptr, code, sizeof(code)), QV_STATUS_SUCCESS);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(std::vector<unsigned char>(code, code + 16), std::vector<unsigned char>(stored, stored + 16));

    // A smaller buffer takes the beginning; a larger one keeps its tail.
    unsigned char small[4] = {};
    EXPECT_EQ(qvtool_auth_get_accesscode(nullptr, small, sizeof(small)), QV_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<unsigned char>(small, small + 4), std::vector<unsigned char>(stored, stored + 4));
    unsigned char large[20];
    std::memset(large, 0x11, sizeof(large));
    EXPECT_EQ(qvtool_auth_get_accesscode(nullptr, large, sizeof(large)), QV_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<unsigned char>(large, large + 16), std::vector<unsigned char>(stored, stored + 16));
    EXPECT_EQ(std::vector<unsigned char>(large + 16, large + 20), std::vector<unsigned char>(4, 0x11));

    // A new code replaces the old file entirely.
    EXPECT_EQ(qvtool_auth_set_accesscode(nullptr, stored + 8, 2), QV_STATUS_SUCCESS);
    EXPECT_EQ(qvtest::read_file(dir.file("accesscode.bin")), std::string("\xF8\xF9"));

    // A file that cannot be created is reported, never fatal.
    ASSERT_EQ(std::remove("accesscode.bin"), 0);
    ASSERT_EQ(mkdir("accesscode.bin", 0755), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(qvtool_auth_set_accesscode(nullptr, stored, sizeof(stored)), QV_STATUS_SUCCESS);
    EXPECT_EQ(without_line_numbers(testing::internal::GetCapturedStderr()),
              report("Failed to open the access code file.", "qvtool_auth_set_accesscode"));
}

TEST(QvtoolAuth, PinCodePrompt)
{
    qvtest::TempDir dir;
    const std::string input = dir.file("stdin.txt");

    const struct {
        std::string typed;
        size_t size;
        std::string pin;
    } cases[] = {
        {"123456\n", 7, "123456"},
        {"123456\n", 16, "123456"},
        {"1234567890\n", 5, "1234"},
        {"42", 16, "42"},
        {"\n", 16, ""},
        {"", 16, ""},
        {"987\n654\n", 16, "987"},
        {"123\n", 1, ""},
    };
    for (const auto &c : cases) {
        FILE *fp = std::fopen(input.c_str(), "w");
        ASSERT_NE(fp, nullptr);
        std::fputs(c.typed.c_str(), fp);
        std::fclose(fp);
        ASSERT_NE(std::freopen(input.c_str(), "r", stdin), nullptr);

        char buffer[16];
        std::memset(buffer, 'X', sizeof(buffer));
        testing::internal::CaptureStderr();
        EXPECT_EQ(qvtool_auth_get_pincode(nullptr, buffer, c.size), QV_STATUS_SUCCESS);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Enter PIN code: ");
        EXPECT_EQ(std::string(buffer), c.pin) << c.typed << " " << c.size;
    }
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
}

TEST(QvtoolEvents, PrintsEachEvent)
{
    const unsigned char vendor_bytes[] = {0x01, 0xAB, 0x00, 0xFF};
    qv_event_progress_t progress = {25, 100};
    qv_event_progress_t third = {1, 3};
    qv_event_progress_t unknown_total = {0, 0xFFFFFFFF};
    qv_event_devinfo_t devinfo = {10, 0x1F, 12345678};
    qv_event_clock_t clock = {123456, 1700000000};
    qv_event_clock_t early_clock = {0xFFFFFFFF, -86400};
    qv_event_vendor_t vendor = {vendor_bytes, sizeof(vendor_bytes)};
    qv_event_vendor_t empty_vendor = {nullptr, 0};

    const struct {
        qv_event_type_t event;
        const void *data;
        const char *text;
    } cases[] = {
        {QV_EVENT_WAITING, nullptr, "Event: waiting for user action\n"},
        {QV_EVENT_PROGRESS, &progress, "Event: progress 25.00% (25/100)\n"},
        {QV_EVENT_PROGRESS, &third, "Event: progress 33.33% (1/3)\n"},
        {QV_EVENT_PROGRESS, &unknown_total, "Event: progress 0.00% (0/4294967295)\n"},
        {QV_EVENT_DEVINFO, &devinfo,
         "Event: model=10 (0x0000000a), firmware=31 (0x0000001f), serial=12345678 (0x00bc614e)\n"},
        {QV_EVENT_CLOCK, &clock, "Event: systime=1700000000, devtime=123456\n"},
        {QV_EVENT_CLOCK, &early_clock, "Event: systime=-86400, devtime=4294967295\n"},
        {QV_EVENT_VENDOR, &vendor, "Event: vendor=01AB00FF\n"},
        {QV_EVENT_VENDOR, &empty_vendor, "Event: vendor=\n"},
        // Unknown events and missing payloads print nothing.
        {64, &progress, ""},
        {QV_EVENT_PROGRESS | QV_EVENT_DEVINFO, &progress, ""},
        {QV_EVENT_DEVINFO, nullptr, ""},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        qvtool_event_cb(nullptr, c.event, c.data, nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.text) << c.event;
    }
}

TEST(QvtoolIostreamOpen, TransportsWithoutADevice)
{
    qv_descriptor_t *descriptor = table_row("Suunto", "Vyper");
    ASSERT_NE(descriptor, nullptr);

    const std::string nodevice = "No dive computer found.";
    const std::string noaddress = "No valid device address specified.";
    const struct {
        qv_transport_t transport;
        const char *name;
        qv_status_t status;
        std::string err;
    } cases[] = {
        // USB and USB HID find nothing in this system, whatever the name.
        {QV_TRANSPORT_USB, nullptr, QV_STATUS_NODEVICE, report(nodevice, "qvtool_usb_open")},
        {QV_TRANSPORT_USB, "1234:5678", QV_STATUS_NODEVICE, report(nodevice, "qvtool_usb_open")},
        {QV_TRANSPORT_USBHID, nullptr, QV_STATUS_NODEVICE, report(nodevice, "qvtool_usbhid_open")},
        {QV_TRANSPORT_USBHID, "x", QV_STATUS_NODEVICE, report(nodevice, "qvtool_usbhid_open")},
        // Addresses that are 0.
        {QV_TRANSPORT_IRDA, "0", QV_STATUS_NODEVICE, report(noaddress, "qvtool_irda_open")},
        {QV_TRANSPORT_IRDA, "nothing", QV_STATUS_NODEVICE, report(noaddress, "qvtool_irda_open")},
        {QV_TRANSPORT_IRDA, "", QV_STATUS_NODEVICE, report(noaddress, "qvtool_irda_open")},
        {QV_TRANSPORT_BLUETOOTH, "00:00:00:00:00:00", QV_STATUS_NODEVICE,
         report(noaddress, "qvtool_bluetooth_open")},
        {QV_TRANSPORT_BLUETOOTH, "00:11:22:33:44:5G", QV_STATUS_NODEVICE,
         report(noaddress, "qvtool_bluetooth_open")},
        {QV_TRANSPORT_BLUETOOTH, "00-11-22-33-44-55", QV_STATUS_NODEVICE,
         report(noaddress, "qvtool_bluetooth_open")},
        {QV_TRANSPORT_BLE, "", QV_STATUS_NODEVICE, report(noaddress, "qvtool_ble_open")},
        {QV_TRANSPORT_BLE, "COM3", QV_STATUS_NODEVICE, report(noaddress, "qvtool_ble_open")},
        // Infrared, Bluetooth and BLE are not part of this build: valid
        // addresses and discovery fail at the transport.
        {QV_TRANSPORT_IRDA, "0x1234", QV_STATUS_UNSUPPORTED,
         report("Failed to open the irda socket.", "qvtool_irda_open")},
        {QV_TRANSPORT_IRDA, nullptr, QV_STATUS_UNSUPPORTED,
         report("Failed to open the irda socket.", "qvtool_irda_open")},
        {QV_TRANSPORT_BLUETOOTH, "00:11:22:33:44:55", QV_STATUS_UNSUPPORTED,
         report("Failed to open the bluetooth socket.", "qvtool_bluetooth_open")},
        {QV_TRANSPORT_BLUETOOTH, nullptr, QV_STATUS_UNSUPPORTED,
         report("Failed to open the bluetooth socket.", "qvtool_bluetooth_open")},
        {QV_TRANSPORT_BLE, "c0:ff:ee:00:00:01", QV_STATUS_UNSUPPORTED,
         report("Failed to open the ble device.", "qvtool_ble_open")},
        {QV_TRANSPORT_BLE, nullptr, QV_STATUS_UNSUPPORTED,
         report("Failed to open the ble device.", "qvtool_ble_open")},
        // Serial: the port open's own status, reported by the command.
        {QV_TRANSPORT_SERIAL, nullptr, QV_STATUS_INVALIDARGS, ""},
        {QV_TRANSPORT_SERIAL, "/dev/qvtool-no-such-port", QV_STATUS_NODEVICE, ""},
        // Anything else.
        {QV_TRANSPORT_NONE, "x", QV_STATUS_UNSUPPORTED, ""},
        {QV_TRANSPORT_SERIAL | QV_TRANSPORT_USB, "x", QV_STATUS_UNSUPPORTED, ""},
        {64, nullptr, QV_STATUS_UNSUPPORTED, ""},
    };
    for (const auto &c : cases) {
        qv_iostream_t *iostream = nullptr;
        testing::internal::CaptureStderr();
        EXPECT_EQ(qvtool_iostream_open(&iostream, nullptr, descriptor, c.transport, c.name), c.status)
            << c.transport << " " << (c.name ? c.name : "(null)");
        EXPECT_EQ(without_line_numbers(testing::internal::GetCapturedStderr()), c.err)
            << c.transport << " " << (c.name ? c.name : "(null)");
        EXPECT_EQ(iostream, nullptr);
    }
}

TEST(QvtoolIostreamOpen, SerialPort)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const char *slave = ptsname(master);
    ASSERT_NE(slave, nullptr);
    const std::string path = slave;

    qv_iostream_t *iostream = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(qvtool_iostream_open(&iostream, nullptr, nullptr, QV_TRANSPORT_SERIAL, path.c_str()),
              QV_STATUS_SUCCESS);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(iostream, nullptr);
    EXPECT_EQ(qv_iostream_get_transport(iostream), QV_TRANSPORT_SERIAL);

    // Bytes written to the stream arrive at the other end of the terminal.
    size_t actual = 0;
    EXPECT_EQ(qv_iostream_write(iostream, "\x05\x00", 2, &actual), QV_STATUS_SUCCESS);
    EXPECT_EQ(actual, 2u);
    unsigned char received[2] = {};
    EXPECT_EQ(read(master, received, sizeof(received)), 2);
    EXPECT_EQ(received[0], 0x05);

    EXPECT_EQ(qv_iostream_close(iostream), QV_STATUS_SUCCESS);
    close(master);
}

} // namespace

