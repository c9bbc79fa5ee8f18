// Unit tests of the qvtool helpers: status texts, family and transport
// names, descriptor search, log handler, message() with its log file, and
// the cancellation flag.
#include "common.h"
#include "process.h"

#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iterator.h>
#include <libquivelmarine/version.h>

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

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

} // namespace
