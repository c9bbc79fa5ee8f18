#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/iterator.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

// Every row of the model table, in iteration order.
std::vector<qv_descriptor_t *> all_rows()
{
    std::vector<qv_descriptor_t *> rows;
    qv_iterator_t *iterator = nullptr;
    EXPECT_EQ(qv_descriptor_iterator_new(&iterator), QV_STATUS_SUCCESS);
    qv_descriptor_t *descriptor = nullptr;
    while (qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS)
        rows.push_back(descriptor);
    qv_iterator_free(iterator);
    return rows;
}

const std::vector<qv_descriptor_t *> &rows()
{
    static const std::vector<qv_descriptor_t *> table = all_rows();
    return table;
}

// The row with this vendor, product and model (exact texts), or nullptr.
const qv_descriptor_t *find(const char *vendor, const char *product, unsigned int model)
{
    for (const qv_descriptor_t *row : rows()) {
        if (std::strcmp(qv_descriptor_get_vendor(row), vendor) == 0 &&
            std::strcmp(qv_descriptor_get_product(row), product) == 0 &&
            qv_descriptor_get_model(row) == model)
            return row;
    }
    return nullptr;
}

constexpr qv_transport_t S = QV_TRANSPORT_SERIAL;
constexpr qv_transport_t U = QV_TRANSPORT_USB;
constexpr qv_transport_t H = QV_TRANSPORT_USBHID;
constexpr qv_transport_t I = QV_TRANSPORT_IRDA;
constexpr qv_transport_t B = QV_TRANSPORT_BLUETOOTH;
constexpr qv_transport_t L = QV_TRANSPORT_BLE;

// What an enumerator hands the filter: a name, USB identifiers, or nothing.
struct UserData {
    const char *name = nullptr;
    bool is_usb = false;
    qv_usb_desc_t usb{};

    const void *get() const { return is_usb ? static_cast<const void *>(&usb) : name; }
};

UserData Name(const char *name)
{
    return UserData{name, false, {}};
}
UserData Usb(uint16_t vid, uint16_t pid)
{
    return UserData{nullptr, true, {vid, pid}};
}
const UserData Nothing{};

std::string describe(const UserData &data)
{
    if (data.is_usb) {
        char text[32];
        std::snprintf(text, sizeof(text), "(0x%04X, 0x%04X)", data.usb.vid, data.usb.pid);
        return text;
    }
    return data.name != nullptr ? "\"" + std::string(data.name) + "\"" : "no user data";
}

} // namespace

// ---------------------------------------------------------------------------
// Iteration
// ---------------------------------------------------------------------------

TEST(DescriptorIterator, YieldsTheWholeTableThenDoneForever)
{
    qv_iterator_t *iterator = nullptr;
    ASSERT_EQ(qv_descriptor_iterator_new(&iterator), QV_STATUS_SUCCESS);
    ASSERT_NE(iterator, nullptr);

    std::vector<qv_descriptor_t *> seen;
    qv_descriptor_t *descriptor = nullptr;
    qv_status_t status;
    while ((status = qv_iterator_next(iterator, &descriptor)) == QV_STATUS_SUCCESS) {
        ASSERT_NE(descriptor, nullptr);
        seen.push_back(descriptor);
        ASSERT_LE(seen.size(), 358u);
    }
    EXPECT_EQ(status, QV_STATUS_DONE);
    ASSERT_EQ(seen.size(), 358u);

    EXPECT_STREQ(qv_descriptor_get_vendor(seen.front()), "Suunto");
    EXPECT_STREQ(qv_descriptor_get_product(seen.front()), "Solution");
    EXPECT_STREQ(qv_descriptor_get_vendor(seen.back()), "Halcyon");
    EXPECT_STREQ(qv_descriptor_get_product(seen.back()), "Symbios Handset");

    descriptor = nullptr;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(qv_iterator_next(iterator, &descriptor), QV_STATUS_DONE);
        EXPECT_EQ(descriptor, nullptr); // nothing is stored at the end
    }
    EXPECT_EQ(qv_iterator_free(iterator), QV_STATUS_SUCCESS);

    // Rows outlive the iterator that handed them out, and every iterator
    // hands out the same rows.
    EXPECT_STREQ(qv_descriptor_get_product(seen[1]), "Eon");
    EXPECT_EQ(seen, rows());
}

TEST(DescriptorIterator, IteratorsAreIndependent)
{
    qv_iterator_t *first = nullptr;
    qv_iterator_t *second = nullptr;
    ASSERT_EQ(qv_descriptor_iterator_new(&first), QV_STATUS_SUCCESS);
    ASSERT_EQ(qv_descriptor_iterator_new(&second), QV_STATUS_SUCCESS);

    qv_descriptor_t *a = nullptr;
    qv_descriptor_t *b = nullptr;
    ASSERT_EQ(qv_iterator_next(first, &a), QV_STATUS_SUCCESS);
    ASSERT_EQ(qv_iterator_next(first, &a), QV_STATUS_SUCCESS);
    ASSERT_EQ(qv_iterator_next(second, &b), QV_STATUS_SUCCESS);
    EXPECT_STREQ(qv_descriptor_get_product(a), "Eon");
    EXPECT_STREQ(qv_descriptor_get_product(b), "Solution");

    EXPECT_EQ(qv_iterator_free(first), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iterator_free(second), QV_STATUS_SUCCESS);
}

TEST(DescriptorIterator, ArgumentErrors)
{
    EXPECT_EQ(qv_descriptor_iterator_new(nullptr), QV_STATUS_INVALIDARGS);

    qv_iterator_t *iterator = nullptr;
    ASSERT_EQ(qv_descriptor_iterator_new(&iterator), QV_STATUS_SUCCESS);
    EXPECT_EQ(qv_iterator_next(iterator, nullptr), QV_STATUS_INVALIDARGS);
    // The failed call did not advance the iterator.
    qv_descriptor_t *descriptor = nullptr;
    ASSERT_EQ(qv_iterator_next(iterator, &descriptor), QV_STATUS_SUCCESS);
    EXPECT_STREQ(qv_descriptor_get_product(descriptor), "Solution");
    EXPECT_EQ(qv_iterator_free(iterator), QV_STATUS_SUCCESS);
}

TEST(Descriptor, AccessorsWithoutDescriptor)
{
    EXPECT_EQ(qv_descriptor_get_vendor(nullptr), nullptr);
    EXPECT_EQ(qv_descriptor_get_product(nullptr), nullptr);
    EXPECT_EQ(qv_descriptor_get_type(nullptr), QV_FAMILY_NULL);
    EXPECT_EQ(qv_descriptor_get_model(nullptr), 0u);
    EXPECT_EQ(qv_descriptor_get_transports(nullptr), QV_TRANSPORT_NONE);

    // Freeing is a no-op, also for a missing descriptor; the row stays usable.
    qv_descriptor_free(nullptr);
    qv_descriptor_free(rows().front());
    EXPECT_STREQ(qv_descriptor_get_vendor(rows().front()), "Suunto");
}

// ---------------------------------------------------------------------------
// The table's contents
// ---------------------------------------------------------------------------

TEST(ModelTable, FamiliesInOrderWithTheirRowCounts)
{
    struct Family {
        qv_family_t family;
        size_t count;
    };
    static const Family expected[] = {
        {QV_FAMILY_SUUNTO_SOLUTION, 1},          {QV_FAMILY_SUUNTO_EON, 3},
        {QV_FAMILY_SUUNTO_VYPER, 9},             {QV_FAMILY_SUUNTO_VYPER2, 5},
        {QV_FAMILY_SUUNTO_D9, 11},               {QV_FAMILY_SUUNTO_EONSTEEL, 4},
        {QV_FAMILY_UWATEC_ALADIN, 7},            {QV_FAMILY_UWATEC_MEMOMOUSE, 1},
        {QV_FAMILY_UWATEC_SMART, 35},            {QV_FAMILY_REEFNET_SENSUS, 1},
        {QV_FAMILY_REEFNET_SENSUSPRO, 1},        {QV_FAMILY_REEFNET_SENSUSULTRA, 1},
        {QV_FAMILY_OCEANIC_VTPRO, 8},            {QV_FAMILY_OCEANIC_VEO250, 8},
        {QV_FAMILY_OCEANIC_ATOM2, 76},           {QV_FAMILY_PELAGIC_I330R, 3},
        {QV_FAMILY_MARES_NEMO, 5},               {QV_FAMILY_MARES_PUCK, 4},
        {QV_FAMILY_MARES_DARWIN, 5},             {QV_FAMILY_MARES_ICONHD, 23},
        {QV_FAMILY_HW_OSTC, 4},                  {QV_FAMILY_HW_FROG, 1},
        {QV_FAMILY_HW_OSTC3, 9},                 {QV_FAMILY_CRESSI_EDY, 3},
        {QV_FAMILY_CRESSI_LEONARDO, 4},          {QV_FAMILY_CRESSI_GOA, 8},
        {QV_FAMILY_ZEAGLE_N2ITION3, 4},          {QV_FAMILY_ATOMICS_COBALT, 2},
        {QV_FAMILY_SHEARWATER_PREDATOR, 1},      {QV_FAMILY_SHEARWATER_PETREL, 14},
        {QV_FAMILY_DIVERITE_NITEKQ, 1},          {QV_FAMILY_CITIZEN_AQUALAND, 1},
        {QV_FAMILY_DIVESYSTEM_IDIVE, 69},        {QV_FAMILY_COCHRAN_COMMANDER, 6},
        {QV_FAMILY_TECDIVING_DIVECOMPUTEREU, 1}, {QV_FAMILY_MCLEAN_EXTREME, 1},
        {QV_FAMILY_LIQUIVISION_LYNX, 4},         {QV_FAMILY_SPORASUB_SP2, 1},
        {QV_FAMILY_DEEPSIX_EXCURSION, 4},        {QV_FAMILY_SEAC_SCREEN, 3},
        {QV_FAMILY_DEEPBLU_COSMIQ, 1},           {QV_FAMILY_OCEANS_S1, 1},
        {QV_FAMILY_DIVESOFT_FREEDOM, 2},         {QV_FAMILY_HALCYON_SYMBIOS, 2},
    };
    static_assert(std::size(expected) == 44);

    // Each family is one contiguous run, and the runs come in this order.
    std::vector<Family> runs;
    for (const qv_descriptor_t *row : rows()) {
        const qv_family_t family = qv_descriptor_get_type(row);
        if (runs.empty() || runs.back().family != family)
            runs.push_back({family, 0});
        runs.back().count++;
    }
    ASSERT_EQ(runs.size(), std::size(expected));
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].family, expected[i].family) << "run " << i;
        EXPECT_EQ(runs[i].count, expected[i].count) << "family 0x" << std::hex << expected[i].family;
    }
}

TEST(ModelTable, SpotChecks)
{
    struct Row {
        size_t index;
        const char *vendor;
        const char *product;
        qv_family_t family;
        unsigned int model;
        qv_transport_t transports;
    };
    static const Row expected[] = {
        {0, "Suunto", "Solution", QV_FAMILY_SUUNTO_SOLUTION, 0x00, S},
        {32, "Suunto", "EON Steel Black", QV_FAMILY_SUUNTO_EONSTEEL, 0x03, H | L},
        // Vendor changes inside the Uwatec Smart family.
        {50, "Subgear", "XP-10", QV_FAMILY_UWATEC_SMART, 0x13, I},
        {51, "Uwatec", "Smart Com", QV_FAMILY_UWATEC_SMART, 0x14, I},
        {56, "Scubapro", "Aladin Sport Matrix", QV_FAMILY_UWATEC_SMART, 0x17, L},
        {64, "Scubapro", "Aladin Square", QV_FAMILY_UWATEC_SMART, 0x22, H},
        {69, "Scubapro", "G2 TEK", QV_FAMILY_UWATEC_SMART, 0x31, H | L},
        {75, "Scubapro", "Luna 2.0", QV_FAMILY_UWATEC_SMART, 0x51, L},
        {76, "Reefnet", "Sensus", QV_FAMILY_REEFNET_SENSUS, 0x01, S},
        {110, "Tusa", "Element II (IQ-750)", QV_FAMILY_OCEANIC_ATOM2, 0x4357, S},
        {143, "Oceanic", "Pro Plus X", QV_FAMILY_OCEANIC_ATOM2, 0x4552, S | L},
        {171, "Apeks", "DSX", QV_FAMILY_PELAGIC_I330R, 0x4741, L},
        {190, "Mares", "Smart Apnea", QV_FAMILY_MARES_ICONHD, 0x10010, S | L},
        {222, "Heinrichs Weikamp", "OSTC Nano", QV_FAMILY_HW_OSTC3, 0x00, S | L},
        {239, "Cressi", "Nepto", QV_FAMILY_CRESSI_GOA, 0x0A, S | L},
        {245, "Atomic Aquatics", "Cobalt 2", QV_FAMILY_ATOMICS_COBALT, 0x02, U},
        // Products that end in a blank.
        {273, "Ratio", "iX3M GPS Pro ", QV_FAMILY_DIVESYSTEM_IDIVE, 0x21, S | B},
        {301, "Ratio", "iX3M 2021 GPS Pro ", QV_FAMILY_DIVESYSTEM_IDIVE, 0x62, S | L},
        {329, "Ratio", "iX3M 2 Tech+", QV_FAMILY_DIVESYSTEM_IDIVE, 0x0104, S | L},
        // Seac rows at the end of the DiveSystem family.
        {330, "Seac", "Jack", QV_FAMILY_DIVESYSTEM_IDIVE, 0x1000, S},
        {331, "Seac", "Guru", QV_FAMILY_DIVESYSTEM_IDIVE, 0x1002, S},
        {332, "Cochran", "Commander TM", QV_FAMILY_COCHRAN_COMMANDER, 0x00, S},
        {352, "Deepblu", "Cosmiq+", QV_FAMILY_DEEPBLU_COSMIQ, 0x00, L},
        {357, "Halcyon", "Symbios Handset", QV_FAMILY_HALCYON_SYMBIOS, 0x07, L},
    };

    ASSERT_EQ(rows().size(), 358u);
    for (const Row &row : expected) {
        SCOPED_TRACE(row.product);
        const qv_descriptor_t *descriptor = rows()[row.index];
        EXPECT_STREQ(qv_descriptor_get_vendor(descriptor), row.vendor);
        EXPECT_STREQ(qv_descriptor_get_product(descriptor), row.product);
        EXPECT_EQ(qv_descriptor_get_type(descriptor), row.family);
        EXPECT_EQ(qv_descriptor_get_model(descriptor), row.model);
        EXPECT_EQ(qv_descriptor_get_transports(descriptor), row.transports);
    }

    // The trailing blank is part of the name: without it there is no such row.
    EXPECT_EQ(find("Ratio", "iX3M GPS Pro", 0x21), nullptr);
    EXPECT_EQ(find("Ratio", "iX3M 2021 GPS Pro", 0x62), nullptr);
}

TEST(ModelTable, EveryRowIsComplete)
{
    const qv_transport_t known = S | U | H | I | B | L;
    for (const qv_descriptor_t *row : rows()) {
        SCOPED_TRACE(qv_descriptor_get_product(row));
        ASSERT_NE(qv_descriptor_get_vendor(row), nullptr);
        ASSERT_NE(qv_descriptor_get_product(row), nullptr);
        EXPECT_GT(std::strlen(qv_descriptor_get_vendor(row)), 0u);
        EXPECT_GT(std::strlen(qv_descriptor_get_product(row)), 0u);
        EXPECT_NE(qv_descriptor_get_type(row), QV_FAMILY_NULL);
        EXPECT_NE(qv_descriptor_get_transports(row), QV_TRANSPORT_NONE);
        EXPECT_EQ(qv_descriptor_get_transports(row) & ~known, 0u);
    }
}

// ---------------------------------------------------------------------------
// Filter rules
// ---------------------------------------------------------------------------

struct FilterCase {
    const char *vendor;
    const char *product;
    unsigned int model;
    qv_transport_t transport;
    UserData data;
    bool expected;
};

void PrintTo(const FilterCase &c, std::ostream *os)
{
    *os << c.vendor << " " << c.product << " (0x" << std::hex << c.model << std::dec
        << "), transport " << c.transport << ", " << describe(c.data) << " -> "
        << (c.expected ? "accepted" : "rejected");
}

class Filter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(Filter, Answers)
{
    const FilterCase &c = GetParam();
    const qv_descriptor_t *descriptor = find(c.vendor, c.product, c.model);
    ASSERT_NE(descriptor, nullptr) << c.vendor << " " << c.product;
    EXPECT_EQ(qv_descriptor_filter(descriptor, c.transport, c.data.get()) != 0, c.expected)
        << c.vendor << " " << c.product << ", transport " << c.transport << ", "
        << describe(c.data);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rules, Filter, ::testing::Values(
    // Transport checks come first; a rule does not examine serial port names.
    FilterCase{"Shearwater", "Perdix", 0x05, S, Name("COM3"), true},
    FilterCase{"Shearwater", "Perdix", 0x05, S, Name("anything at all"), true},
    FilterCase{"Shearwater", "Tern", 0x0C, S, Name("Tern"), false},
    FilterCase{"Shearwater", "Tern", 0x0C, S, Nothing, false},
    FilterCase{"Shearwater", "Predator", 0x02, L, Name("Predator"), false},
    FilterCase{"Shearwater", "Perdix", 0x05, QV_TRANSPORT_NONE, Name("Perdix"), false},
    FilterCase{"Shearwater", "Perdix", 0x05, 64, Name("Perdix"), false},
    FilterCase{"Shearwater", "Perdix", 0x05, S | L, Name("Perdix"), false},
    // Missing user data passes every rule.
    FilterCase{"Shearwater", "Perdix", 0x05, L, Nothing, true},
    FilterCase{"Atomic Aquatics", "Cobalt", 0x00, U, Nothing, true},
    FilterCase{"Scubapro", "G2", 0x32, H, Nothing, true},
    // Rows without a rule accept any name on their transports.
    FilterCase{"Suunto", "Vyper", 0x0A, S, Name("COM1"), true},
    FilterCase{"Suunto", "Vyper", 0x0A, L, Name("Vyper"), false},
    FilterCase{"Seac", "Jack", 0x1000, S, Name("/dev/ttyUSB0"), true},

    // shearwater: exact names on Bluetooth and BLE.
    FilterCase{"Shearwater", "Perdix", 0x05, L, Name("Perdix"), true},
    FilterCase{"Shearwater", "Perdix", 0x05, L, Name("perdix 2"), true},
    FilterCase{"Shearwater", "Perdix", 0x05, B, Name("PETREL 3"), true},
    FilterCase{"Shearwater", "Perdix", 0x05, L, Name("Peregrine TX"), true},
    FilterCase{"Shearwater", "Perdix", 0x05, L, Name("nerd"), true},
    FilterCase{"Shearwater", "Perdix", 0x05, L, Name("Perdix 4"), false},
    FilterCase{"Shearwater", "Perdix", 0x05, L, Name("Perdix2"), false},
    FilterCase{"Shearwater", "Perdix", 0x05, L, Name("Perdi"), false},
    FilterCase{"Shearwater", "Perdix", 0x05, B, Name(""), false},
    FilterCase{"Shearwater", "Predator", 0x02, B, Name("Predator"), true},

    // divesystem: "DS", "IX5M" or "RATIO-" followed by digits only.
    FilterCase{"Ratio", "iX3M 2 Pro", 0x0102, L, Name("DS12345"), true},
    FilterCase{"Ratio", "iX3M 2 Pro", 0x0102, L, Name("ds"), true},
    FilterCase{"Ratio", "iX3M 2 Pro", 0x0102, L, Name("IX5M00123"), true},
    FilterCase{"Ratio", "iX3M 2 Pro", 0x0102, L, Name("ratio-0042"), true},
    FilterCase{"Ratio", "iX3M 2 Pro", 0x0102, L, Name("RATIO-12a"), false},
    FilterCase{"Ratio", "iX3M 2 Pro", 0x0102, L, Name("DS 123"), false},
    FilterCase{"Ratio", "iX3M 2 Pro", 0x0102, L, Name("Ratio"), false},
    FilterCase{"Ratio", "iX3M 2 Pro", 0x0102, L, Name("IX5"), false},
    FilterCase{"Ratio", "iX3M GPS Pro ", 0x21, B, Name("DS1"), true},
    FilterCase{"Ratio", "iX3M GPS Pro ", 0x21, L, Name("DS1"), false},
    FilterCase{"Ratio", "iX3M 2021 GPS Pro ", 0x62, L, Name("IX5M7"), true},

    // hw: names beginning with "OSTC" or "FROG".
    FilterCase{"Heinrichs Weikamp", "OSTC 4", 0x43, L, Name("OSTC4-12345"), true},
    FilterCase{"Heinrichs Weikamp", "OSTC 4", 0x43, B, Name("ostc sport"), true},
    FilterCase{"Heinrichs Weikamp", "OSTC 4", 0x43, B, Name("Frog 2"), true},
    FilterCase{"Heinrichs Weikamp", "OSTC 4", 0x43, L, Name("OST"), false},
    FilterCase{"Heinrichs Weikamp", "OSTC 4", 0x43, L, Name("My OSTC"), false},
    FilterCase{"Heinrichs Weikamp", "Frog", 0x00, B, Name("FROG"), true},
    FilterCase{"Heinrichs Weikamp", "Frog", 0x00, L, Name("FROG"), false},
    FilterCase{"Heinrichs Weikamp", "OSTC Nano", 0x00, B, Name("OSTC Nano"), false},

    // mclean: exactly "McLean Extreme".
    FilterCase{"McLean", "Extreme", 0x00, L, Name("mclean extreme"), true},
    FilterCase{"McLean", "Extreme", 0x00, B, Name("McLean Extreme"), true},
    FilterCase{"McLean", "Extreme", 0x00, B, Name("McLean"), false},
    FilterCase{"McLean", "Extreme", 0x00, L, Name("McLean Extreme 2"), false},
    FilterCase{"McLean", "Extreme", 0x00, S, Name("COM7"), true},

    // cressi: "%x_" of a known model, then hexadecimal digits; any row.
    FilterCase{"Cressi", "Goa", 0x02, L, Name("1_0a3F"), true},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("1_12G4"), false},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("A_12"), true},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("a_"), true},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("2_FF"), true},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("9_0"), true},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("7_12"), false},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("b_12"), false},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("10_12"), false},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("1-12"), false},
    FilterCase{"Cressi", "Goa", 0x02, L, Name("1"), false},
    FilterCase{"Cressi", "Cartesio", 0x01, L, Name("6_ab"), true},
    FilterCase{"Cressi", "Cartesio", 0x01, S, Name("COM4"), true},

    // halcyon: "H01"/"H07" prefix, or ten or more digits with "01"/"07" in
    // the fifth and sixth place.
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("h07abc"), true},
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("H0712"), true},
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("H01"), true},
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("H0"), false},
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("H02"), false},
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("0000070000"), true},
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("123401999999"), true},
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("123407000"), false},
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("1234080000"), false},
    FilterCase{"Halcyon", "Symbios HUD", 0x01, L, Name("12340700a0"), false},
    FilterCase{"Halcyon", "Symbios Handset", 0x07, L, Name("H01X"), true},
    FilterCase{"Halcyon", "Symbios Handset", 0x07, L, Name("9999079999"), true},

    // divesoft: names beginning with "Freedom" or "Liberty".
    FilterCase{"Divesoft", "Freedom", 0x13, L, Name("Freedom+ 1234"), true},
    FilterCase{"Divesoft", "Freedom", 0x13, L, Name("LIBERTY"), true},
    FilterCase{"Divesoft", "Liberty", 0x0A, L, Name("Free"), false},

    // tecdiving: exactly "DiveComputer", Bluetooth only.
    FilterCase{"Tecdiving", "DiveComputer.eu", 0x00, B, Name("divecomputer"), true},
    FilterCase{"Tecdiving", "DiveComputer.eu", 0x00, B, Name("DiveComputer.eu"), false},
    FilterCase{"Tecdiving", "DiveComputer.eu", 0x00, L, Name("DiveComputer"), false},
    FilterCase{"Tecdiving", "DiveComputer.eu", 0x00, S, Name("COM9"), true},

    // deepsix: exact names.
    FilterCase{"Deep Six", "Excursion", 0x00, L, Name("excursion"), true},
    FilterCase{"Crest", "CR-4", 0x00, L, Name("Crest-CR4"), true},
    FilterCase{"Crest", "CR-4", 0x00, L, Name("CR-4"), false},
    FilterCase{"Scorpena", "Alpha", 0x00, L, Name("ALPHA"), true},
    FilterCase{"Scorpena", "Alpha", 0x00, L, Name("ALPHA1"), false},
    FilterCase{"Genesis", "Centauri", 0x00, L, Name("Centauri"), true},

    // oceans: names beginning with "S1".
    FilterCase{"Oceans", "S1", 0x00, L, Name("S1 1234"), true},
    FilterCase{"Oceans", "S1", 0x00, L, Name("s1"), true},
    FilterCase{"Oceans", "S1", 0x00, L, Name("S"), false},

    // seac: "Tablet" followed by digits only.
    FilterCase{"Seac", "Tablet", 0x10, L, Name("Tablet"), true},
    FilterCase{"Seac", "Tablet", 0x10, L, Name("TABLET0123"), true},
    FilterCase{"Seac", "Tablet", 0x10, L, Name("Tablet 12"), false},
    FilterCase{"Seac", "Tablet", 0x10, L, Name("Tab"), false},
    FilterCase{"Seac", "Screen", 0x02, L, Name("Tablet1"), false},

    // mares: names beginning with one of the list.
    FilterCase{"Mares", "Genius", 0x1C, L, Name("Mares Genius 1234"), true},
    FilterCase{"Mares", "Genius", 0x1C, L, Name("mares bluelink pro"), true},
    FilterCase{"Mares", "Genius", 0x1C, L, Name("Mares bluelink"), false},
    FilterCase{"Mares", "Genius", 0x1C, L, Name("Sirius L"), true},
    FilterCase{"Mares", "Genius", 0x1C, L, Name("Quad2 0042"), true},
    FilterCase{"Mares", "Genius", 0x1C, L, Name("Quad 2"), false},
    FilterCase{"Mares", "Genius", 0x1C, L, Name("PUCK4"), true},
    FilterCase{"Mares", "Genius", 0x1C, L, Name("Puck"), true},
    FilterCase{"Mares", "Genius", 0x1C, L, Name("Puc"), false},
    FilterCase{"Mares", "Icon HD", 0x14, L, Name("Mares Genius"), false},

    // oceanic: two characters of a known model number, then digits; any row.
    FilterCase{"Oceanic", "Pro Plus X", 0x4552, L, Name("FH123456"), true},
    FilterCase{"Oceanic", "Pro Plus X", 0x4552, L, Name("fh"), true},
    FilterCase{"Oceanic", "Pro Plus X", 0x4552, L, Name("FH12A"), false},
    FilterCase{"Oceanic", "Pro Plus X", 0x4552, L, Name("ER0"), true},
    FilterCase{"Oceanic", "Pro Plus X", 0x4552, L, Name("GM99"), true},
    FilterCase{"Oceanic", "Pro Plus X", 0x4552, L, Name("FF12"), false},
    FilterCase{"Oceanic", "Pro Plus X", 0x4552, L, Name("F"), false},
    FilterCase{"Aqualung", "i330R", 0x4744, L, Name("FH42"), true},
    FilterCase{"Aqualung", "i330R", 0x4744, L, Name("GD 42"), false},
    FilterCase{"Sherwood", "Sage", 0x4647, S, Name("COM2"), true},
    FilterCase{"Aqualung", "i300", 0x4559, L, Name("FH12"), false},

    // atomics: USB identifiers 0x0471:0x0888.
    FilterCase{"Atomic Aquatics", "Cobalt", 0x00, U, Usb(0x0471, 0x0888), true},
    FilterCase{"Atomic Aquatics", "Cobalt 2", 0x02, U, Usb(0x0471, 0x0888), true},
    FilterCase{"Atomic Aquatics", "Cobalt", 0x00, U, Usb(0x0471, 0x0889), false},
    FilterCase{"Atomic Aquatics", "Cobalt", 0x00, U, Usb(0x0470, 0x0888), false},
    FilterCase{"Atomic Aquatics", "Cobalt", 0x00, H, Usb(0x0471, 0x0888), false},

    // deepblu: exactly "COSMIQ".
    FilterCase{"Deepblu", "Cosmiq+", 0x00, L, Name("cosmiq"), true},
    FilterCase{"Deepblu", "Cosmiq+", 0x00, L, Name("COSMIQ+"), false},

    // suunto: USB HID identifiers, or BLE names.
    FilterCase{"Suunto", "EON Steel", 0x00, H, Usb(0x1493, 0x0030), true},
    FilterCase{"Suunto", "EON Steel", 0x00, H, Usb(0x1493, 0x0033), true},
    FilterCase{"Suunto", "EON Steel", 0x00, H, Usb(0x1493, 0x0035), true},
    FilterCase{"Suunto", "EON Steel", 0x00, H, Usb(0x1493, 0x0036), true},
    FilterCase{"Suunto", "EON Steel", 0x00, H, Usb(0x1493, 0x0031), false},
    FilterCase{"Suunto", "EON Steel", 0x00, H, Usb(0x1494, 0x0030), false},
    FilterCase{"Suunto", "D5", 0x02, L, Name("EON Steel 1234"), true},
    FilterCase{"Suunto", "D5", 0x02, L, Name("eon core"), true},
    FilterCase{"Suunto", "D5", 0x02, L, Name("Suunto D5 0042"), true},
    FilterCase{"Suunto", "D5", 0x02, L, Name("EON"), false},
    FilterCase{"Suunto", "D5", 0x02, L, Name("D5"), false},
    FilterCase{"Suunto", "D5", 0x02, S, Name("COM1"), false},

    // uwatec: IrDA names, USB HID identifiers, BLE names.
    FilterCase{"Scubapro", "G2", 0x32, H, Usb(0x2E6C, 0x3201), true},
    FilterCase{"Scubapro", "G2", 0x32, H, Usb(0x2E6C, 0x9999), false},
    FilterCase{"Scubapro", "G2", 0x32, H, Usb(0xC251, 0x2006), true},
    FilterCase{"Scubapro", "G2", 0x32, H, Usb(0xC251, 0x3201), false},
    FilterCase{"Scubapro", "G2", 0x32, L, Name("g2"), true},
    FilterCase{"Scubapro", "G2", 0x32, L, Name("G2 TEK"), true},
    FilterCase{"Scubapro", "G2", 0x32, L, Name("Luna 2.0"), true},
    FilterCase{"Scubapro", "G2", 0x32, L, Name("G2 HUD"), false},
    FilterCase{"Scubapro", "G2", 0x32, L, Name("Aladin Smart Com"), false},
    FilterCase{"Uwatec", "Smart Pro", 0x10, I, Name("uwatec galileo"), true},
    FilterCase{"Uwatec", "Smart Pro", 0x10, I, Name("UWATEC Galileo Sol"), true},
    FilterCase{"Uwatec", "Smart Pro", 0x10, I, Name("UWATEC Galileo Luna"), false},
    FilterCase{"Uwatec", "Smart Pro", 0x10, I, Name("G2"), false},
    FilterCase{"Scubapro", "Aladin Square", 0x22, L, Name("G2"), false},
    FilterCase{"Scubapro", "Meridian", 0x20, S, Name("COM5"), true}));
// clang-format on

TEST(FilterRules, WithoutDescriptorAcceptsEverything)
{
    EXPECT_TRUE(qv_descriptor_filter(nullptr, QV_TRANSPORT_BLE, "anything"));
    EXPECT_TRUE(qv_descriptor_filter(nullptr, QV_TRANSPORT_NONE, nullptr));
    const qv_usb_desc_t usb = {0x1234, 0x5678};
    EXPECT_TRUE(qv_descriptor_filter(nullptr, QV_TRANSPORT_USB, &usb));
}

// Every row with a transport other than serial carries its family's rule:
// the family's accepted user data passes and the rejected one fails on every
// such row and transport.
TEST(FilterRules, EveryRowCarriesItsFamilysRule)
{
    struct Expectation {
        qv_family_t family;
        qv_transport_t transport;
        UserData accepted;
        UserData rejected;
    };
    const Expectation expectations[] = {
        {QV_FAMILY_SUUNTO_EONSTEEL, H, Usb(0x1493, 0x0030), Usb(0x1493, 0x0001)},
        {QV_FAMILY_SUUNTO_EONSTEEL, L, Name("EON Core"), Name("Perdix")},
        {QV_FAMILY_UWATEC_SMART, I, Name("Aladin Smart Z"), Name("Perdix")},
        {QV_FAMILY_UWATEC_SMART, H, Usb(0x2E6C, 0x4201), Usb(0x1493, 0x0030)},
        {QV_FAMILY_UWATEC_SMART, L, Name("A2"), Name("Perdix")},
        {QV_FAMILY_OCEANIC_ATOM2, L, Name("GK123"), Name("GK12x")},
        {QV_FAMILY_PELAGIC_I330R, L, Name("ez0"), Name("EZ-0")},
        {QV_FAMILY_MARES_ICONHD, L, Name("Puck Lite 7"), Name("Perdix")},
        {QV_FAMILY_HW_FROG, B, Name("Frog"), Name("Perdix")},
        {QV_FAMILY_HW_OSTC3, B, Name("OSTC+"), Name("Perdix")},
        {QV_FAMILY_HW_OSTC3, L, Name("OSTC+"), Name("Perdix")},
        {QV_FAMILY_CRESSI_GOA, L, Name("5_1"), Name("5_x")},
        {QV_FAMILY_ATOMICS_COBALT, U, Usb(0x0471, 0x0888), Usb(0x1493, 0x0030)},
        {QV_FAMILY_SHEARWATER_PREDATOR, B, Name("Petrel"), Name("OSTC")},
        {QV_FAMILY_SHEARWATER_PETREL, B, Name("Teric"), Name("OSTC")},
        {QV_FAMILY_SHEARWATER_PETREL, L, Name("Teric"), Name("OSTC")},
        {QV_FAMILY_DIVESYSTEM_IDIVE, B, Name("DS0"), Name("DSx")},
        {QV_FAMILY_DIVESYSTEM_IDIVE, L, Name("DS0"), Name("DSx")},
        {QV_FAMILY_TECDIVING_DIVECOMPUTEREU, B, Name("DiveComputer"), Name("Perdix")},
        {QV_FAMILY_MCLEAN_EXTREME, B, Name("McLean Extreme"), Name("Perdix")},
        {QV_FAMILY_MCLEAN_EXTREME, L, Name("McLean Extreme"), Name("Perdix")},
        {QV_FAMILY_DEEPSIX_EXCURSION, L, Name("CENTAURI"), Name("Perdix")},
        {QV_FAMILY_SEAC_SCREEN, L, Name("Tablet9"), Name("Perdix")},
        {QV_FAMILY_DEEPBLU_COSMIQ, L, Name("COSMIQ"), Name("Perdix")},
        {QV_FAMILY_OCEANS_S1, L, Name("S1"), Name("Perdix")},
        {QV_FAMILY_DIVESOFT_FREEDOM, L, Name("Liberty"), Name("Perdix")},
        {QV_FAMILY_HALCYON_SYMBIOS, L, Name("H07"), Name("Perdix")},
    };

    size_t checked = 0;
    for (const qv_descriptor_t *row : rows()) {
        const qv_transport_t transports = qv_descriptor_get_transports(row);
        for (qv_transport_t transport = U; transport <= L; transport <<= 1) {
            if ((transports & transport) == 0)
                continue;
            const Expectation *found = nullptr;
            for (const Expectation &e : expectations) {
                if (e.family == qv_descriptor_get_type(row) && e.transport == transport)
                    found = &e;
            }
            ASSERT_NE(found, nullptr) << qv_descriptor_get_vendor(row) << " "
                                      << qv_descriptor_get_product(row) << " on " << transport;
            EXPECT_TRUE(qv_descriptor_filter(row, transport, found->accepted.get()))
                << qv_descriptor_get_product(row) << " on " << transport;
            EXPECT_FALSE(qv_descriptor_filter(row, transport, found->rejected.get()))
                << qv_descriptor_get_product(row) << " on " << transport;
            checked++;
        }
    }
    // Guards against a walk that checks nothing: more than half of the rows
    // can be reached on some transport other than serial.
    EXPECT_GT(checked, 150u);
}
