// The model table: one row per supported dive computer, the filter rules that
// recognise a device by the name or USB identifiers under which a transport
// finds it, and the iterator that walks the table.
#include <libquivelmarine/descriptor.h>

#include "iterator-private.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace {

// ---------------------------------------------------------------------------
// Filter rules
//
// A rule is data: for each transport it examines, either a list of words with
// the way a device name is compared with them, or a list of USB identifiers.
// A transport the rule does not examine is accepted, so is a device the
// enumerator knows nothing about (no user data). Every name comparison
// ignores the letter case (ASCII only: device names are ASCII).
// ---------------------------------------------------------------------------

constexpr char ascii_lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool is_decimal_digit(char c)
{
    return c >= '0' && c <= '9';
}

constexpr bool is_hex_digit(char c)
{
    const char l = ascii_lower(c);
    return is_decimal_digit(c) || (l >= 'a' && l <= 'f');
}

constexpr bool iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    }
    return true;
}

// Compares as many characters as the word has.
constexpr bool ibegins_with(std::string_view name, std::string_view word)
{
    return name.size() >= word.size() && iequals(name.substr(0, word.size()), word);
}

template <typename Predicate>
constexpr bool all_of(std::string_view text, Predicate predicate)
{
    for (char c : text) {
        if (!predicate(c))
            return false;
    }
    return true;
}

using qv_words_t = std::span<const std::string_view>;

// The name equals one of the words.
bool name_equals_one_of(std::string_view name, qv_words_t words)
{
    for (std::string_view word : words) {
        if (iequals(name, word))
            return true;
    }
    return false;
}

// The name begins with one of the words.
bool name_begins_with_one_of(std::string_view name, qv_words_t words)
{
    for (std::string_view word : words) {
        if (ibegins_with(name, word))
            return true;
    }
    return false;
}

// The first word that the name begins with decides: every character after it
// must pass the test (there may be none at all).
template <bool (*IsAllowed)(char)>
bool name_is_prefix_plus(std::string_view name, qv_words_t words)
{
    for (std::string_view word : words) {
        if (ibegins_with(name, word))
            return all_of(name.substr(word.size()), IsAllowed);
    }
    return false;
}

constexpr auto name_is_prefix_plus_digits = name_is_prefix_plus<is_decimal_digit>;
constexpr auto name_is_prefix_plus_hexdigits = name_is_prefix_plus<is_hex_digit>;

// The Halcyon Symbios shows up either as a name beginning with its prefix
// "Hnn", or as a serial number of at least ten digits whose fifth and sixth
// digits are the nn of that prefix. The words are tried in order, each one
// with both forms.
bool name_is_halcyon(std::string_view name, qv_words_t words)
{
    const bool serial_number = name.size() >= 10 && all_of(name, is_decimal_digit);
    for (std::string_view word : words) {
        if (ibegins_with(name, word))
            return true;
        if (serial_number && name[4] == word[1] && name[5] == word[2])
            return true;
    }
    return false;
}

// Examines the device name on the given transports.
struct qv_name_check_t {
    qv_transport_t transports;
    bool (*accepts)(std::string_view name, qv_words_t words);
    qv_words_t words;
};

// Examines the USB identifiers (a qv_usb_desc_t) on the given transports:
// accepted when the pair is one of the list.
struct qv_usb_check_t {
    qv_transport_t transports;
    std::span<const qv_usb_desc_t> ids;
};

struct qv_filter_rule_t {
    std::span<const qv_name_check_t> names;
    std::span<const qv_usb_check_t> usb;
};

// Transports whose user data is a device name, and those whose user data is a
// qv_usb_desc_t.
constexpr qv_transport_t name_transports =
    QV_TRANSPORT_SERIAL | QV_TRANSPORT_IRDA | QV_TRANSPORT_BLUETOOTH | QV_TRANSPORT_BLE;
constexpr qv_transport_t usb_transports = QV_TRANSPORT_USB | QV_TRANSPORT_USBHID;

// Rules that compute their words from model numbers.

// The Oceanic and Pelagic BLE models advertise their 16-bit model number as
// two characters (high byte first) followed by digits.
constexpr std::uint16_t oceanic_ble_models[] = {
    0x4552, 0x455A, 0x4647, 0x4648, 0x4649, 0x4651, 0x4652, 0x4653, 0x4654,
    0x4655, 0x4656, 0x4741, 0x4742, 0x4743, 0x4744, 0x4749, 0x474B, 0x474D,
};
constexpr std::size_t oceanic_ble_count = std::size(oceanic_ble_models);

constexpr auto oceanic_prefix_text = [] {
    std::array<std::array<char, 2>, oceanic_ble_count> text{};
    for (std::size_t i = 0; i < oceanic_ble_count; ++i) {
        text[i][0] = static_cast<char>(oceanic_ble_models[i] >> 8);
        text[i][1] = static_cast<char>(oceanic_ble_models[i] & 0xFF);
    }
    return text;
}();

constexpr auto oceanic_prefixes = [] {
    std::array<std::string_view, oceanic_ble_count> words{};
    for (std::size_t i = 0; i < oceanic_ble_count; ++i)
        words[i] = std::string_view(oceanic_prefix_text[i].data(), 2);
    return words;
}();

// The Cressi BLE models advertise their model number in lower-case
// hexadecimal, an underscore and hexadecimal digits ("%x_...").
constexpr unsigned int cressi_ble_models[] = {1, 2, 3, 4, 5, 6, 9, 10};
constexpr std::size_t cressi_ble_count = std::size(cressi_ble_models);
constexpr std::size_t cressi_prefix_max = 9; // eight hexadecimal digits and "_"

constexpr auto cressi_prefix_text = [] {
    std::array<std::array<char, cressi_prefix_max>, cressi_ble_count> text{};
    for (std::size_t i = 0; i < cressi_ble_count; ++i) {
        std::array<char, cressi_prefix_max> digits{};
        std::size_t n = 0;
        unsigned int value = cressi_ble_models[i];
        do {
            digits[n++] = "0123456789abcdef"[value % 16];
            value /= 16;
        } while (value != 0);
        for (std::size_t j = 0; j < n; ++j)
            text[i][j] = digits[n - 1 - j];
        text[i][n] = '_';
    }
    return text;
}();

constexpr auto cressi_prefixes = [] {
    std::array<std::string_view, cressi_ble_count> words{};
    for (std::size_t i = 0; i < cressi_ble_count; ++i) {
        std::size_t n = 0;
        while (cressi_prefix_text[i][n] != '_')
            ++n;
        words[i] = std::string_view(cressi_prefix_text[i].data(), n + 1);
    }
    return words;
}();

// The Halcyon Symbios models (HUD first, then the handset) as "H%02u".
constexpr unsigned int halcyon_ble_models[] = {1, 7};
constexpr std::size_t halcyon_ble_count = std::size(halcyon_ble_models);

constexpr auto halcyon_prefix_text = [] {
    std::array<std::array<char, 3>, halcyon_ble_count> text{};
    for (std::size_t i = 0; i < halcyon_ble_count; ++i) {
        text[i][0] = 'H';
        text[i][1] = static_cast<char>('0' + halcyon_ble_models[i] / 10 % 10);
        text[i][2] = static_cast<char>('0' + halcyon_ble_models[i] % 10);
    }
    return text;
}();

constexpr auto halcyon_prefixes = [] {
    std::array<std::string_view, halcyon_ble_count> words{};
    for (std::size_t i = 0; i < halcyon_ble_count; ++i)
        words[i] = std::string_view(halcyon_prefix_text[i].data(), 3);
    return words;
}();

// Word lists. Where words share a beginning, the order is kept as it is: the
// first matching word decides.

constexpr std::string_view shearwater_names[] = {
    "Predator", "Petrel", "Petrel 3", "NERD", "NERD 2", "Perdix",
    "Perdix 2", "Perdix 3", "Teric", "Peregrine", "Peregrine TX", "Tern",
};
constexpr std::string_view divesystem_prefixes[] = {"DS", "IX5M", "RATIO-"};
constexpr std::string_view hw_prefixes[] = {"OSTC", "FROG"};
constexpr std::string_view mclean_names[] = {"McLean Extreme"};
constexpr std::string_view divesoft_prefixes[] = {"Freedom", "Liberty"};
constexpr std::string_view tecdiving_names[] = {"DiveComputer"};
constexpr std::string_view deepsix_names[] = {"EXCURSION", "Crest-CR4", "CENTAURI", "ALPHA"};
constexpr std::string_view oceans_prefixes[] = {"S1"};
constexpr std::string_view seac_prefixes[] = {"Tablet"};
constexpr std::string_view mares_prefixes[] = {
    "Mares bluelink pro", "Mares Genius", "Sirius", "Sirius L", "Quad Ci",
    "Quad2",              "Puck4",        "Puck Lite", "Puck", "Puck Pro U",
};
constexpr std::string_view deepblu_names[] = {"COSMIQ"};
constexpr std::string_view suunto_ble_prefixes[] = {
    "EON Steel", "EON Core", "Suunto D5", "EON Steel Black",
};
constexpr std::string_view uwatec_irda_names[] = {
    "Aladin Smart Com", "Aladin Smart Pro", "Aladin Smart Tec", "Aladin Smart Z",
    "Uwatec Aladin",    "UWATEC Galileo",   "UWATEC Galileo Sol",
};
constexpr std::string_view uwatec_ble_names[] = {
    "G2", "Aladin", "HUD", "A1", "A2", "G2 TEK", "Galileo 3", "Luna 2.0 AI", "Luna 2.0",
};

constexpr qv_usb_desc_t atomics_usb_ids[] = {{0x0471, 0x0888}};
constexpr qv_usb_desc_t suunto_usbhid_ids[] = {
    {0x1493, 0x0030}, {0x1493, 0x0033}, {0x1493, 0x0035}, {0x1493, 0x0036},
};
constexpr qv_usb_desc_t uwatec_usbhid_ids[] = {
    {0x2E6C, 0x3201}, {0x2E6C, 0x3211}, {0x2E6C, 0x4201}, {0xC251, 0x2006},
};

constexpr qv_transport_t BT_BLE = QV_TRANSPORT_BLUETOOTH | QV_TRANSPORT_BLE;

// The checks of each rule.
constexpr qv_name_check_t shearwater_checks[] = {{BT_BLE, name_equals_one_of, shearwater_names}};
constexpr qv_name_check_t divesystem_checks[] = {
    {BT_BLE, name_is_prefix_plus_digits, divesystem_prefixes}};
constexpr qv_name_check_t hw_checks[] = {{BT_BLE, name_begins_with_one_of, hw_prefixes}};
constexpr qv_name_check_t mclean_checks[] = {{BT_BLE, name_equals_one_of, mclean_names}};
constexpr qv_name_check_t cressi_checks[] = {
    {QV_TRANSPORT_BLE, name_is_prefix_plus_hexdigits, cressi_prefixes}};
constexpr qv_name_check_t halcyon_checks[] = {{QV_TRANSPORT_BLE, name_is_halcyon, halcyon_prefixes}};
constexpr qv_name_check_t divesoft_checks[] = {
    {QV_TRANSPORT_BLE, name_begins_with_one_of, divesoft_prefixes}};
constexpr qv_name_check_t tecdiving_checks[] = {
    {QV_TRANSPORT_BLUETOOTH, name_equals_one_of, tecdiving_names}};
constexpr qv_name_check_t deepsix_checks[] = {{QV_TRANSPORT_BLE, name_equals_one_of, deepsix_names}};
constexpr qv_name_check_t oceans_checks[] = {
    {QV_TRANSPORT_BLE, name_begins_with_one_of, oceans_prefixes}};
constexpr qv_name_check_t seac_checks[] = {
    {QV_TRANSPORT_BLE, name_is_prefix_plus_digits, seac_prefixes}};
constexpr qv_name_check_t mares_checks[] = {
    {QV_TRANSPORT_BLE, name_begins_with_one_of, mares_prefixes}};
constexpr qv_name_check_t oceanic_checks[] = {
    {QV_TRANSPORT_BLE, name_is_prefix_plus_digits, oceanic_prefixes}};
constexpr qv_name_check_t deepblu_checks[] = {{QV_TRANSPORT_BLE, name_equals_one_of, deepblu_names}};
constexpr qv_name_check_t suunto_checks[] = {
    {QV_TRANSPORT_BLE, name_begins_with_one_of, suunto_ble_prefixes}};
constexpr qv_name_check_t uwatec_checks[] = {
    {QV_TRANSPORT_IRDA, name_equals_one_of, uwatec_irda_names},
    {QV_TRANSPORT_BLE, name_equals_one_of, uwatec_ble_names},
};

constexpr qv_usb_check_t atomics_usb_checks[] = {{QV_TRANSPORT_USB, atomics_usb_ids}};
constexpr qv_usb_check_t suunto_usb_checks[] = {{QV_TRANSPORT_USBHID, suunto_usbhid_ids}};
constexpr qv_usb_check_t uwatec_usb_checks[] = {{QV_TRANSPORT_USBHID, uwatec_usbhid_ids}};

constexpr qv_filter_rule_t shearwater{shearwater_checks, {}};
constexpr qv_filter_rule_t divesystem{divesystem_checks, {}};
constexpr qv_filter_rule_t hw{hw_checks, {}};
constexpr qv_filter_rule_t mclean{mclean_checks, {}};
constexpr qv_filter_rule_t cressi{cressi_checks, {}};
constexpr qv_filter_rule_t halcyon{halcyon_checks, {}};
constexpr qv_filter_rule_t divesoft{divesoft_checks, {}};
constexpr qv_filter_rule_t tecdiving{tecdiving_checks, {}};
constexpr qv_filter_rule_t deepsix{deepsix_checks, {}};
constexpr qv_filter_rule_t oceans{oceans_checks, {}};
constexpr qv_filter_rule_t seac{seac_checks, {}};
constexpr qv_filter_rule_t mares{mares_checks, {}};
constexpr qv_filter_rule_t oceanic{oceanic_checks, {}};
constexpr qv_filter_rule_t atomics{{}, atomics_usb_checks};
constexpr qv_filter_rule_t deepblu{deepblu_checks, {}};
constexpr qv_filter_rule_t suunto{suunto_checks, suunto_usb_checks};
constexpr qv_filter_rule_t uwatec{uwatec_checks, uwatec_usb_checks};

// A name check must never be handed a qv_usb_desc_t, nor a USB check a name.
constexpr bool checks_match_user_data(const qv_filter_rule_t &rule)
{
    for (const qv_name_check_t &check : rule.names) {
        if ((check.transports & ~name_transports) != 0)
            return false;
    }
    for (const qv_usb_check_t &check : rule.usb) {
        if ((check.transports & ~usb_transports) != 0)
            return false;
    }
    return true;
}

static_assert(checks_match_user_data(shearwater) && checks_match_user_data(divesystem) &&
              checks_match_user_data(hw) && checks_match_user_data(mclean) &&
              checks_match_user_data(cressi) && checks_match_user_data(halcyon) &&
              checks_match_user_data(divesoft) && checks_match_user_data(tecdiving) &&
              checks_match_user_data(deepsix) && checks_match_user_data(oceans) &&
              checks_match_user_data(seac) && checks_match_user_data(mares) &&
              checks_match_user_data(oceanic) && checks_match_user_data(atomics) &&
              checks_match_user_data(deepblu) && checks_match_user_data(suunto) &&
              checks_match_user_data(uwatec));

// The answer of a rule for a device found on one transport. userdata is not
// NULL: a name for the name transports, a qv_usb_desc_t for USB and USB HID.
bool qv_filter_rule_accepts(const qv_filter_rule_t &rule, qv_transport_t transport,
                            const void *userdata)
{
    for (const qv_name_check_t &check : rule.names) {
        if ((check.transports & transport) != 0)
            return check.accepts(static_cast<const char *>(userdata), check.words);
    }
    for (const qv_usb_check_t &check : rule.usb) {
        if ((check.transports & transport) != 0) {
            const auto *usb = static_cast<const qv_usb_desc_t *>(userdata);
            for (const qv_usb_desc_t &id : check.ids) {
                if (id.vid == usb->vid && id.pid == usb->pid)
                    return true;
            }
            return false;
        }
    }
    return true; // a transport the rule does not examine
}

// Transport sets as the table writes them: S serial, U USB, H USB HID,
// I IrDA, B Bluetooth, L BLE.
constexpr qv_transport_t S = QV_TRANSPORT_SERIAL;
constexpr qv_transport_t U = QV_TRANSPORT_USB;
constexpr qv_transport_t H = QV_TRANSPORT_USBHID;
constexpr qv_transport_t I = QV_TRANSPORT_IRDA;
constexpr qv_transport_t L = QV_TRANSPORT_BLE;
constexpr qv_transport_t SB = QV_TRANSPORT_SERIAL | QV_TRANSPORT_BLUETOOTH;
constexpr qv_transport_t SL = QV_TRANSPORT_SERIAL | QV_TRANSPORT_BLE;
constexpr qv_transport_t HL = QV_TRANSPORT_USBHID | QV_TRANSPORT_BLE;
constexpr qv_transport_t SBL = QV_TRANSPORT_SERIAL | QV_TRANSPORT_BLUETOOTH | QV_TRANSPORT_BLE;

} // namespace

struct qv_descriptor_t {
    const char *vendor;
    const char *product;
    qv_family_t type;
    unsigned int model;
    qv_transport_t transports;
    const qv_filter_rule_t *filter; // nullptr: the row has no rule
};

namespace {

// The model table. The order is what users see in the list of supported
// models: families in a fixed order, and within a family the rows in the
// order below. A product name may end in a blank, which is part of the name.
constexpr qv_descriptor_t descriptors[] = {
    // Suunto Solution
    {"Suunto", "Solution", QV_FAMILY_SUUNTO_SOLUTION, 0x00, S, nullptr},
    // Suunto Eon
    {"Suunto", "Eon", QV_FAMILY_SUUNTO_EON, 0x00, S, nullptr},
    {"Suunto", "Solution Alpha", QV_FAMILY_SUUNTO_EON, 0x00, S, nullptr},
    {"Suunto", "Solution Nitrox", QV_FAMILY_SUUNTO_EON, 0x00, S, nullptr},
    // Suunto Vyper
    {"Suunto", "Spyder", QV_FAMILY_SUUNTO_VYPER, 0x01, S, nullptr},
    {"Suunto", "Stinger", QV_FAMILY_SUUNTO_VYPER, 0x03, S, nullptr},
    {"Suunto", "Mosquito", QV_FAMILY_SUUNTO_VYPER, 0x04, S, nullptr},
    {"Suunto", "D3", QV_FAMILY_SUUNTO_VYPER, 0x05, S, nullptr},
    {"Suunto", "Vyper", QV_FAMILY_SUUNTO_VYPER, 0x0A, S, nullptr},
    {"Suunto", "Vytec", QV_FAMILY_SUUNTO_VYPER, 0x0B, S, nullptr},
    {"Suunto", "Cobra", QV_FAMILY_SUUNTO_VYPER, 0x0C, S, nullptr},
    {"Suunto", "Gekko", QV_FAMILY_SUUNTO_VYPER, 0x0D, S, nullptr},
    {"Suunto", "Zoop", QV_FAMILY_SUUNTO_VYPER, 0x16, S, nullptr},
    // Suunto Vyper 2
    {"Suunto", "Vyper 2", QV_FAMILY_SUUNTO_VYPER2, 0x10, S, nullptr},
    {"Suunto", "Cobra 2", QV_FAMILY_SUUNTO_VYPER2, 0x11, S, nullptr},
    {"Suunto", "Vyper Air", QV_FAMILY_SUUNTO_VYPER2, 0x13, S, nullptr},
    {"Suunto", "Cobra 3", QV_FAMILY_SUUNTO_VYPER2, 0x14, S, nullptr},
    {"Suunto", "HelO2", QV_FAMILY_SUUNTO_VYPER2, 0x15, S, nullptr},
    // Suunto D9
    {"Suunto", "D9", QV_FAMILY_SUUNTO_D9, 0x0E, S, nullptr},
    {"Suunto", "D6", QV_FAMILY_SUUNTO_D9, 0x0F, S, nullptr},
    {"Suunto", "D4", QV_FAMILY_SUUNTO_D9, 0x12, S, nullptr},
    {"Suunto", "D4i", QV_FAMILY_SUUNTO_D9, 0x19, S, nullptr},
    {"Suunto", "D6i", QV_FAMILY_SUUNTO_D9, 0x1A, S, nullptr},
    {"Suunto", "D9tx", QV_FAMILY_SUUNTO_D9, 0x1B, S, nullptr},
    {"Suunto", "DX", QV_FAMILY_SUUNTO_D9, 0x1C, S, nullptr},
    {"Suunto", "Vyper Novo", QV_FAMILY_SUUNTO_D9, 0x1D, S, nullptr},
    {"Suunto", "Zoop Novo", QV_FAMILY_SUUNTO_D9, 0x1E, S, nullptr},
    {"Suunto", "Zoop Novo", QV_FAMILY_SUUNTO_D9, 0x1F, S, nullptr},
    {"Suunto", "D4f", QV_FAMILY_SUUNTO_D9, 0x20, S, nullptr},
    // Suunto EON Steel
    {"Suunto", "EON Steel", QV_FAMILY_SUUNTO_EONSTEEL, 0x00, HL, &suunto},
    {"Suunto", "EON Core", QV_FAMILY_SUUNTO_EONSTEEL, 0x01, HL, &suunto},
    {"Suunto", "D5", QV_FAMILY_SUUNTO_EONSTEEL, 0x02, HL, &suunto},
    {"Suunto", "EON Steel Black", QV_FAMILY_SUUNTO_EONSTEEL, 0x03, HL, &suunto},
    // Uwatec Aladin
    {"Uwatec", "Aladin Air Twin", QV_FAMILY_UWATEC_ALADIN, 0x1C, S, nullptr},
    {"Uwatec", "Aladin Sport Plus", QV_FAMILY_UWATEC_ALADIN, 0x3E, S, nullptr},
    {"Uwatec", "Aladin Pro", QV_FAMILY_UWATEC_ALADIN, 0x3F, S, nullptr},
    {"Uwatec", "Aladin Air Z", QV_FAMILY_UWATEC_ALADIN, 0x44, S, nullptr},
    {"Uwatec", "Aladin Air Z O2", QV_FAMILY_UWATEC_ALADIN, 0xA4, S, nullptr},
    {"Uwatec", "Aladin Air Z Nitrox", QV_FAMILY_UWATEC_ALADIN, 0xF4, S, nullptr},
    {"Uwatec", "Aladin Pro Ultra", QV_FAMILY_UWATEC_ALADIN, 0xFF, S, nullptr},
    // Uwatec Memomouse
    {"Uwatec", "Memomouse", QV_FAMILY_UWATEC_MEMOMOUSE, 0x00, S, nullptr},
    // Uwatec Smart
    {"Uwatec", "Smart Pro", QV_FAMILY_UWATEC_SMART, 0x10, I, &uwatec},
    {"Uwatec", "Galileo Sol", QV_FAMILY_UWATEC_SMART, 0x11, I, &uwatec},
    {"Uwatec", "Galileo Luna", QV_FAMILY_UWATEC_SMART, 0x11, I, &uwatec},
    {"Uwatec", "Galileo Terra", QV_FAMILY_UWATEC_SMART, 0x11, I, &uwatec},
    {"Uwatec", "Aladin Tec", QV_FAMILY_UWATEC_SMART, 0x12, I, &uwatec},
    {"Uwatec", "Aladin Prime", QV_FAMILY_UWATEC_SMART, 0x12, I, &uwatec},
    {"Uwatec", "Aladin One", QV_FAMILY_UWATEC_SMART, 0x12, I, &uwatec},
    {"Uwatec", "Aladin Tec 2G", QV_FAMILY_UWATEC_SMART, 0x13, I, &uwatec},
    {"Uwatec", "Aladin 2G", QV_FAMILY_UWATEC_SMART, 0x13, I, &uwatec},
    {"Subgear", "XP-10", QV_FAMILY_UWATEC_SMART, 0x13, I, &uwatec},
    {"Uwatec", "Smart Com", QV_FAMILY_UWATEC_SMART, 0x14, I, &uwatec},
    {"Uwatec", "Aladin 2G", QV_FAMILY_UWATEC_SMART, 0x15, I, &uwatec},
    {"Uwatec", "Aladin Tec 3G", QV_FAMILY_UWATEC_SMART, 0x15, I, &uwatec},
    {"Uwatec", "Aladin Sport", QV_FAMILY_UWATEC_SMART, 0x15, I, &uwatec},
    {"Subgear", "XP-3G", QV_FAMILY_UWATEC_SMART, 0x15, I, &uwatec},
    {"Scubapro", "Aladin Sport Matrix", QV_FAMILY_UWATEC_SMART, 0x17, L, &uwatec},
    {"Scubapro", "Aladin H Matrix", QV_FAMILY_UWATEC_SMART, 0x17, L, &uwatec},
    {"Uwatec", "Smart Tec", QV_FAMILY_UWATEC_SMART, 0x18, I, &uwatec},
    {"Uwatec", "Galileo Trimix", QV_FAMILY_UWATEC_SMART, 0x19, I, &uwatec},
    {"Uwatec", "Smart Z", QV_FAMILY_UWATEC_SMART, 0x1C, I, &uwatec},
    {"Subgear", "XP Air", QV_FAMILY_UWATEC_SMART, 0x1C, I, &uwatec},
    {"Scubapro", "Meridian", QV_FAMILY_UWATEC_SMART, 0x20, S, nullptr},
    {"Scubapro", "Mantis", QV_FAMILY_UWATEC_SMART, 0x20, S, nullptr},
    {"Scubapro", "Aladin Square", QV_FAMILY_UWATEC_SMART, 0x22, H, &uwatec},
    {"Scubapro", "Chromis", QV_FAMILY_UWATEC_SMART, 0x24, S, nullptr},
    {"Scubapro", "Aladin A1", QV_FAMILY_UWATEC_SMART, 0x25, L, &uwatec},
    {"Scubapro", "Mantis 2", QV_FAMILY_UWATEC_SMART, 0x26, S, nullptr},
    {"Scubapro", "Aladin A2", QV_FAMILY_UWATEC_SMART, 0x28, L, &uwatec},
    {"Scubapro", "G2 TEK", QV_FAMILY_UWATEC_SMART, 0x31, HL, &uwatec},
    {"Scubapro", "G2", QV_FAMILY_UWATEC_SMART, 0x32, HL, &uwatec},
    {"Scubapro", "G2 Console", QV_FAMILY_UWATEC_SMART, 0x32, HL, &uwatec},
    {"Scubapro", "G3", QV_FAMILY_UWATEC_SMART, 0x34, HL, &uwatec},
    {"Scubapro", "G2 HUD", QV_FAMILY_UWATEC_SMART, 0x42, HL, &uwatec},
    {"Scubapro", "Luna 2.0 AI", QV_FAMILY_UWATEC_SMART, 0x50, L, &uwatec},
    {"Scubapro", "Luna 2.0", QV_FAMILY_UWATEC_SMART, 0x51, L, &uwatec},
    // Reefnet
    {"Reefnet", "Sensus", QV_FAMILY_REEFNET_SENSUS, 0x01, S, nullptr},
    {"Reefnet", "Sensus Pro", QV_FAMILY_REEFNET_SENSUSPRO, 0x02, S, nullptr},
    {"Reefnet", "Sensus Ultra", QV_FAMILY_REEFNET_SENSUSULTRA, 0x03, S, nullptr},
    // Oceanic VT Pro
    {"Aeris", "500 AI", QV_FAMILY_OCEANIC_VTPRO, 0x4151, S, nullptr},
    {"Oceanic", "Versa Pro", QV_FAMILY_OCEANIC_VTPRO, 0x4155, S, nullptr},
    {"Aeris", "Atmos 2", QV_FAMILY_OCEANIC_VTPRO, 0x4158, S, nullptr},
    {"Oceanic", "Pro Plus 2", QV_FAMILY_OCEANIC_VTPRO, 0x4159, S, nullptr},
    {"Aeris", "Atmos AI", QV_FAMILY_OCEANIC_VTPRO, 0x4244, S, nullptr},
    {"Oceanic", "VT Pro", QV_FAMILY_OCEANIC_VTPRO, 0x4245, S, nullptr},
    {"Sherwood", "Wisdom", QV_FAMILY_OCEANIC_VTPRO, 0x4246, S, nullptr},
    {"Aeris", "Elite", QV_FAMILY_OCEANIC_VTPRO, 0x424F, S, nullptr},
    // Oceanic Veo 250
    {"Genesis", "React Pro", QV_FAMILY_OCEANIC_VEO250, 0x4247, S, nullptr},
    {"Oceanic", "Veo 200", QV_FAMILY_OCEANIC_VEO250, 0x424B, S, nullptr},
    {"Oceanic", "Veo 250", QV_FAMILY_OCEANIC_VEO250, 0x424C, S, nullptr},
    {"Seemann", "XP5", QV_FAMILY_OCEANIC_VEO250, 0x4251, S, nullptr},
    {"Oceanic", "Veo 180", QV_FAMILY_OCEANIC_VEO250, 0x4252, S, nullptr},
    {"Aeris", "XR-2", QV_FAMILY_OCEANIC_VEO250, 0x4255, S, nullptr},
    {"Sherwood", "Insight", QV_FAMILY_OCEANIC_VEO250, 0x425A, S, nullptr},
    {"Hollis", "DG02", QV_FAMILY_OCEANIC_VEO250, 0x4352, S, nullptr},
    // Oceanic Atom 2
    {"Oceanic", "Atom 1.0", QV_FAMILY_OCEANIC_ATOM2, 0x4250, S, nullptr},
    {"Aeris", "Epic", QV_FAMILY_OCEANIC_ATOM2, 0x4257, S, nullptr},
    {"Oceanic", "VT3", QV_FAMILY_OCEANIC_ATOM2, 0x4258, S, nullptr},
    {"Aeris", "Elite T3", QV_FAMILY_OCEANIC_ATOM2, 0x4259, S, nullptr},
    {"Oceanic", "Atom 2.0", QV_FAMILY_OCEANIC_ATOM2, 0x4342, S, nullptr},
    {"Oceanic", "Geo", QV_FAMILY_OCEANIC_ATOM2, 0x4344, S, nullptr},
    {"Aeris", "Manta", QV_FAMILY_OCEANIC_ATOM2, 0x4345, S, nullptr},
    {"Aeris", "XR-1 NX", QV_FAMILY_OCEANIC_ATOM2, 0x4346, S, nullptr},
    {"Oceanic", "Datamask", QV_FAMILY_OCEANIC_ATOM2, 0x4347, S, nullptr},
    {"Aeris", "Compumask", QV_FAMILY_OCEANIC_ATOM2, 0x4348, S, nullptr},
    {"Aeris", "F10", QV_FAMILY_OCEANIC_ATOM2, 0x434D, S, nullptr},
    {"Oceanic", "OC1", QV_FAMILY_OCEANIC_ATOM2, 0x434E, S, nullptr},
    {"Sherwood", "Wisdom 2", QV_FAMILY_OCEANIC_ATOM2, 0x4350, S, nullptr},
    {"Sherwood", "Insight 2", QV_FAMILY_OCEANIC_ATOM2, 0x4353, S, nullptr},
    {"Genesis", "React Pro White", QV_FAMILY_OCEANIC_ATOM2, 0x4354, S, nullptr},
    {"Tusa", "Element II (IQ-750)", QV_FAMILY_OCEANIC_ATOM2, 0x4357, S, nullptr},
    {"Oceanic", "Veo 1.0", QV_FAMILY_OCEANIC_ATOM2, 0x4358, S, nullptr},
    {"Oceanic", "Veo 2.0", QV_FAMILY_OCEANIC_ATOM2, 0x4359, S, nullptr},
    {"Oceanic", "Veo 3.0", QV_FAMILY_OCEANIC_ATOM2, 0x435A, S, nullptr},
    {"Tusa", "Zen (IQ-900)", QV_FAMILY_OCEANIC_ATOM2, 0x4441, S, nullptr},
    {"Tusa", "Zen Air (IQ-950)", QV_FAMILY_OCEANIC_ATOM2, 0x4442, S, nullptr},
    {"Aeris", "Atmos AI 2", QV_FAMILY_OCEANIC_ATOM2, 0x4443, S, nullptr},
    {"Oceanic", "Pro Plus 2.1", QV_FAMILY_OCEANIC_ATOM2, 0x4444, S, nullptr},
    {"Oceanic", "Geo 2.0", QV_FAMILY_OCEANIC_ATOM2, 0x4446, S, nullptr},
    {"Oceanic", "VT4", QV_FAMILY_OCEANIC_ATOM2, 0x4447, S, nullptr},
    {"Oceanic", "OC1", QV_FAMILY_OCEANIC_ATOM2, 0x4449, S, nullptr},
    {"Beuchat", "Voyager 2G", QV_FAMILY_OCEANIC_ATOM2, 0x444B, S, nullptr},
    {"Oceanic", "Atom 3.0", QV_FAMILY_OCEANIC_ATOM2, 0x444C, S, nullptr},
    {"Hollis", "DG03", QV_FAMILY_OCEANIC_ATOM2, 0x444D, S, nullptr},
    {"Oceanic", "OCS", QV_FAMILY_OCEANIC_ATOM2, 0x4450, S, nullptr},
    {"Oceanic", "OC1", QV_FAMILY_OCEANIC_ATOM2, 0x4451, S, nullptr},
    {"Oceanic", "VT 4.1", QV_FAMILY_OCEANIC_ATOM2, 0x4452, S, nullptr},
    {"Aeris", "Epic", QV_FAMILY_OCEANIC_ATOM2, 0x4453, S, nullptr},
    {"Aeris", "Elite T3", QV_FAMILY_OCEANIC_ATOM2, 0x4455, S, nullptr},
    {"Oceanic", "Atom 3.1", QV_FAMILY_OCEANIC_ATOM2, 0x4456, S, nullptr},
    {"Aeris", "A300 AI", QV_FAMILY_OCEANIC_ATOM2, 0x4457, S, nullptr},
    {"Sherwood", "Wisdom 3", QV_FAMILY_OCEANIC_ATOM2, 0x4458, S, nullptr},
    {"Aeris", "A300", QV_FAMILY_OCEANIC_ATOM2, 0x445A, S, nullptr},
    {"Hollis", "TX1", QV_FAMILY_OCEANIC_ATOM2, 0x4542, S, nullptr},
    {"Beuchat", "Mundial 2", QV_FAMILY_OCEANIC_ATOM2, 0x4543, S, nullptr},
    {"Sherwood", "Amphos", QV_FAMILY_OCEANIC_ATOM2, 0x4545, S, nullptr},
    {"Sherwood", "Amphos Air", QV_FAMILY_OCEANIC_ATOM2, 0x4546, S, nullptr},
    {"Oceanic", "Pro Plus 3", QV_FAMILY_OCEANIC_ATOM2, 0x4548, S, nullptr},
    {"Aeris", "F11", QV_FAMILY_OCEANIC_ATOM2, 0x4549, S, nullptr},
    {"Oceanic", "OCi", QV_FAMILY_OCEANIC_ATOM2, 0x454B, S, nullptr},
    {"Aeris", "A300CS", QV_FAMILY_OCEANIC_ATOM2, 0x454C, S, nullptr},
    {"Tusa", "Talis", QV_FAMILY_OCEANIC_ATOM2, 0x454E, S, nullptr},
    {"Beuchat", "Mundial 3", QV_FAMILY_OCEANIC_ATOM2, 0x4550, S, nullptr},
    {"Oceanic", "Pro Plus X", QV_FAMILY_OCEANIC_ATOM2, 0x4552, SL, &oceanic},
    {"Oceanic", "F10", QV_FAMILY_OCEANIC_ATOM2, 0x4553, S, nullptr},
    {"Oceanic", "F11", QV_FAMILY_OCEANIC_ATOM2, 0x4554, S, nullptr},
    {"Subgear", "XP-Air", QV_FAMILY_OCEANIC_ATOM2, 0x4555, S, nullptr},
    {"Sherwood", "Vision", QV_FAMILY_OCEANIC_ATOM2, 0x4556, S, nullptr},
    {"Oceanic", "VTX", QV_FAMILY_OCEANIC_ATOM2, 0x4557, S, nullptr},
    {"Aqualung", "i300", QV_FAMILY_OCEANIC_ATOM2, 0x4559, S, nullptr},
    {"Aqualung", "i750TC", QV_FAMILY_OCEANIC_ATOM2, 0x455A, SL, &oceanic},
    {"Aqualung", "i450T", QV_FAMILY_OCEANIC_ATOM2, 0x4641, S, nullptr},
    {"Aqualung", "i550", QV_FAMILY_OCEANIC_ATOM2, 0x4642, S, nullptr},
    {"Aqualung", "i200", QV_FAMILY_OCEANIC_ATOM2, 0x4646, S, nullptr},
    {"Sherwood", "Sage", QV_FAMILY_OCEANIC_ATOM2, 0x4647, SL, &oceanic},
    {"Aqualung", "i300C", QV_FAMILY_OCEANIC_ATOM2, 0x4648, SL, &oceanic},
    {"Aqualung", "i200C", QV_FAMILY_OCEANIC_ATOM2, 0x4649, SL, &oceanic},
    {"Aqualung", "i100", QV_FAMILY_OCEANIC_ATOM2, 0x464E, S, nullptr},
    {"Aqualung", "i770R", QV_FAMILY_OCEANIC_ATOM2, 0x4651, SL, &oceanic},
    {"Aqualung", "i550C", QV_FAMILY_OCEANIC_ATOM2, 0x4652, SL, &oceanic},
    {"Oceanic", "Geo 4.0", QV_FAMILY_OCEANIC_ATOM2, 0x4653, SL, &oceanic},
    {"Oceanic", "Veo 4.0", QV_FAMILY_OCEANIC_ATOM2, 0x4654, SL, &oceanic},
    {"Sherwood", "Wisdom 4", QV_FAMILY_OCEANIC_ATOM2, 0x4655, SL, &oceanic},
    {"Oceanic", "Pro Plus 4", QV_FAMILY_OCEANIC_ATOM2, 0x4656, SL, &oceanic},
    {"Sherwood", "Amphos 2.0", QV_FAMILY_OCEANIC_ATOM2, 0x4657, S, nullptr},
    {"Sherwood", "Amphos Air 2.0", QV_FAMILY_OCEANIC_ATOM2, 0x4658, S, nullptr},
    {"Sherwood", "Beacon", QV_FAMILY_OCEANIC_ATOM2, 0x4742, SL, &oceanic},
    {"Aqualung", "i470TC", QV_FAMILY_OCEANIC_ATOM2, 0x4743, SL, &oceanic},
    {"Aqualung", "i100", QV_FAMILY_OCEANIC_ATOM2, 0x4745, S, nullptr},
    {"Aqualung", "i200C", QV_FAMILY_OCEANIC_ATOM2, 0x4749, SL, &oceanic},
    {"Oceanic", "Geo Air", QV_FAMILY_OCEANIC_ATOM2, 0x474B, SL, &oceanic},
    // Pelagic i330R
    {"Apeks", "DSX", QV_FAMILY_PELAGIC_I330R, 0x4741, L, &oceanic},
    {"Aqualung", "i330R", QV_FAMILY_PELAGIC_I330R, 0x4744, L, &oceanic},
    {"Aqualung", "i330R Console", QV_FAMILY_PELAGIC_I330R, 0x474D, L, &oceanic},
    // Mares Nemo
    {"Mares", "Nemo", QV_FAMILY_MARES_NEMO, 0x00, S, nullptr},
    {"Mares", "Nemo Steel", QV_FAMILY_MARES_NEMO, 0x00, S, nullptr},
    {"Mares", "Nemo Titanium", QV_FAMILY_MARES_NEMO, 0x00, S, nullptr},
    {"Mares", "Nemo Excel", QV_FAMILY_MARES_NEMO, 0x11, S, nullptr},
    {"Mares", "Nemo Apneist", QV_FAMILY_MARES_NEMO, 0x12, S, nullptr},
    // Mares Puck
    {"Mares", "Puck", QV_FAMILY_MARES_PUCK, 0x07, S, nullptr},
    {"Mares", "Puck Air", QV_FAMILY_MARES_PUCK, 0x13, S, nullptr},
    {"Mares", "Nemo Air", QV_FAMILY_MARES_PUCK, 0x04, S, nullptr},
    {"Mares", "Nemo Wide", QV_FAMILY_MARES_PUCK, 0x01, S, nullptr},
    // Mares Darwin
    {"Mares", "Darwin", QV_FAMILY_MARES_DARWIN, 0x00, S, nullptr},
    {"Mares", "M1", QV_FAMILY_MARES_DARWIN, 0x00, S, nullptr},
    {"Mares", "M2", QV_FAMILY_MARES_DARWIN, 0x00, S, nullptr},
    {"Mares", "Darwin Air", QV_FAMILY_MARES_DARWIN, 0x01, S, nullptr},
    {"Mares", "Airlab", QV_FAMILY_MARES_DARWIN, 0x01, S, nullptr},
    // Mares Icon HD
    {"Mares", "Matrix", QV_FAMILY_MARES_ICONHD, 0x0F, S, nullptr},
    {"Mares", "Smart", QV_FAMILY_MARES_ICONHD, 0x10, SL, &mares},
    {"Mares", "Smart Apnea", QV_FAMILY_MARES_ICONHD, 0x10010, SL, &mares},
    {"Mares", "Icon HD", QV_FAMILY_MARES_ICONHD, 0x14, S, nullptr},
    {"Mares", "Icon HD Net Ready", QV_FAMILY_MARES_ICONHD, 0x15, S, nullptr},
    {"Mares", "Puck Pro", QV_FAMILY_MARES_ICONHD, 0x18, SL, &mares},
    {"Mares", "Puck Pro +", QV_FAMILY_MARES_ICONHD, 0x18, SL, &mares},
    {"Mares", "Nemo Wide 2", QV_FAMILY_MARES_ICONHD, 0x19, S, nullptr},
    {"Mares", "Genius", QV_FAMILY_MARES_ICONHD, 0x1C, SL, &mares},
    {"Mares", "Puck 2", QV_FAMILY_MARES_ICONHD, 0x1F, S, nullptr},
    {"Mares", "Quad Air", QV_FAMILY_MARES_ICONHD, 0x23, SL, &mares},
    {"Mares", "Smart Air", QV_FAMILY_MARES_ICONHD, 0x24, SL, &mares},
    {"Mares", "Quad", QV_FAMILY_MARES_ICONHD, 0x29, SL, &mares},
    {"Mares", "Horizon", QV_FAMILY_MARES_ICONHD, 0x2C, S, nullptr},
    {"Mares", "Puck Air 2", QV_FAMILY_MARES_ICONHD, 0x2D, L, &mares},
    {"Mares", "Sirius", QV_FAMILY_MARES_ICONHD, 0x2F, L, &mares},
    {"Mares", "Quad Ci", QV_FAMILY_MARES_ICONHD, 0x31, L, &mares},
    {"Mares", "Quad 2", QV_FAMILY_MARES_ICONHD, 0x32, L, &mares},
    {"Mares", "Sirius L", QV_FAMILY_MARES_ICONHD, 0x33, L, &mares},
    {"Mares", "Puck 4", QV_FAMILY_MARES_ICONHD, 0x35, L, &mares},
    {"Mares", "Puck Lite", QV_FAMILY_MARES_ICONHD, 0x35, L, &mares},
    {"Mares", "Puck Pro EZ", QV_FAMILY_MARES_ICONHD, 0x35, L, &mares},
    {"Mares", "Puck Pro Ultra", QV_FAMILY_MARES_ICONHD, 0x35, L, &mares},
    // Heinrichs Weikamp OSTC
    {"Heinrichs Weikamp", "OSTC", QV_FAMILY_HW_OSTC, 0x00, S, nullptr},
    {"Heinrichs Weikamp", "OSTC Mk2", QV_FAMILY_HW_OSTC, 0x01, S, nullptr},
    {"Heinrichs Weikamp", "OSTC 2N", QV_FAMILY_HW_OSTC, 0x02, S, nullptr},
    {"Heinrichs Weikamp", "OSTC 2C", QV_FAMILY_HW_OSTC, 0x03, S, nullptr},
    // Heinrichs Weikamp Frog
    {"Heinrichs Weikamp", "Frog", QV_FAMILY_HW_FROG, 0x00, SB, &hw},
    // Heinrichs Weikamp OSTC3
    {"Heinrichs Weikamp", "OSTC 2", QV_FAMILY_HW_OSTC3, 0x00, SBL, &hw},
    {"Heinrichs Weikamp", "OSTC 2 TR", QV_FAMILY_HW_OSTC3, 0x00, SBL, &hw},
    {"Heinrichs Weikamp", "OSTC 3", QV_FAMILY_HW_OSTC3, 0x00, SBL, &hw},
    {"Heinrichs Weikamp", "OSTC cR", QV_FAMILY_HW_OSTC3, 0x00, SBL, &hw},
    {"Heinrichs Weikamp", "OSTC Plus", QV_FAMILY_HW_OSTC3, 0x00, SBL, &hw},
    {"Heinrichs Weikamp", "OSTC Sport", QV_FAMILY_HW_OSTC3, 0x00, SBL, &hw},
    {"Heinrichs Weikamp", "OSTC Nano", QV_FAMILY_HW_OSTC3, 0x00, SL, &hw},
    {"Heinrichs Weikamp", "OSTC 4", QV_FAMILY_HW_OSTC3, 0x43, SBL, &hw},
    {"Heinrichs Weikamp", "OSTC 5", QV_FAMILY_HW_OSTC3, 0x44, SBL, &hw},
    // Cressi Edy
    {"Cressi", "Archimede", QV_FAMILY_CRESSI_EDY, 0x01, S, nullptr},
    {"Tusa", "IQ-700", QV_FAMILY_CRESSI_EDY, 0x05, S, nullptr},
    {"Cressi", "Edy", QV_FAMILY_CRESSI_EDY, 0x08, S, nullptr},
    // Cressi Leonardo
    {"Cressi", "Leonardo", QV_FAMILY_CRESSI_LEONARDO, 0x01, S, nullptr},
    {"Cressi", "Giotto", QV_FAMILY_CRESSI_LEONARDO, 0x04, S, nullptr},
    {"Cressi", "Newton", QV_FAMILY_CRESSI_LEONARDO, 0x05, S, nullptr},
    {"Cressi", "Drake", QV_FAMILY_CRESSI_LEONARDO, 0x06, S, nullptr},
    // Cressi Goa
    {"Cressi", "Cartesio", QV_FAMILY_CRESSI_GOA, 0x01, SL, &cressi},
    {"Cressi", "Goa", QV_FAMILY_CRESSI_GOA, 0x02, SL, &cressi},
    {"Cressi", "Leonardo 2.0", QV_FAMILY_CRESSI_GOA, 0x03, SL, &cressi},
    {"Cressi", "Donatello", QV_FAMILY_CRESSI_GOA, 0x04, SL, &cressi},
    {"Cressi", "Michelangelo", QV_FAMILY_CRESSI_GOA, 0x05, SL, &cressi},
    {"Cressi", "Raffaello", QV_FAMILY_CRESSI_GOA, 0x06, SL, &cressi},
    {"Cressi", "Neon", QV_FAMILY_CRESSI_GOA, 0x09, SL, &cressi},
    {"Cressi", "Nepto", QV_FAMILY_CRESSI_GOA, 0x0A, SL, &cressi},
    // Zeagle N2iTiON3
    {"Zeagle", "N2iTiON3", QV_FAMILY_ZEAGLE_N2ITION3, 0x00, S, nullptr},
    {"Apeks", "Quantum X", QV_FAMILY_ZEAGLE_N2ITION3, 0x00, S, nullptr},
    {"Dive Rite", "NiTek Trio", QV_FAMILY_ZEAGLE_N2ITION3, 0x00, S, nullptr},
    {"Scubapro", "XTender 5", QV_FAMILY_ZEAGLE_N2ITION3, 0x00, S, nullptr},
    // Atomic Aquatics Cobalt
    {"Atomic Aquatics", "Cobalt", QV_FAMILY_ATOMICS_COBALT, 0x00, U, &atomics},
    {"Atomic Aquatics", "Cobalt 2", QV_FAMILY_ATOMICS_COBALT, 0x02, U, &atomics},
    // Shearwater Predator
    {"Shearwater", "Predator", QV_FAMILY_SHEARWATER_PREDATOR, 0x02, SB, &shearwater},
    // Shearwater Petrel
    {"Shearwater", "Petrel", QV_FAMILY_SHEARWATER_PETREL, 0x03, SB, &shearwater},
    {"Shearwater", "Petrel 2", QV_FAMILY_SHEARWATER_PETREL, 0x03, SBL, &shearwater},
    {"Shearwater", "Nerd", QV_FAMILY_SHEARWATER_PETREL, 0x04, SB, &shearwater},
    {"Shearwater", "Perdix", QV_FAMILY_SHEARWATER_PETREL, 0x05, SBL, &shearwater},
    {"Shearwater", "Perdix AI", QV_FAMILY_SHEARWATER_PETREL, 0x06, L, &shearwater},
    {"Shearwater", "Nerd 2", QV_FAMILY_SHEARWATER_PETREL, 0x07, L, &shearwater},
    {"Shearwater", "Teric", QV_FAMILY_SHEARWATER_PETREL, 0x08, L, &shearwater},
    {"Shearwater", "Peregrine", QV_FAMILY_SHEARWATER_PETREL, 0x09, L, &shearwater},
    {"Shearwater", "Petrel 3", QV_FAMILY_SHEARWATER_PETREL, 0x0A, L, &shearwater},
    {"Shearwater", "Perdix 2", QV_FAMILY_SHEARWATER_PETREL, 0x0B, L, &shearwater},
    {"Shearwater", "Tern", QV_FAMILY_SHEARWATER_PETREL, 0x0C, L, &shearwater},
    {"Shearwater", "Tern TX", QV_FAMILY_SHEARWATER_PETREL, 0x0C, L, &shearwater},
    {"Shearwater", "Peregrine TX", QV_FAMILY_SHEARWATER_PETREL, 0x0D, L, &shearwater},
    {"Shearwater", "Perdix 3", QV_FAMILY_SHEARWATER_PETREL, 0x0E, L, &shearwater},
    // Dive Rite NiTek Q
    {"Dive Rite", "NiTek Q", QV_FAMILY_DIVERITE_NITEKQ, 0x00, S, nullptr},
    // Citizen Aqualand
    {"Citizen", "Hyper Aqualand", QV_FAMILY_CITIZEN_AQUALAND, 0x00, S, nullptr},
    // DiveSystem iDive
    {"DiveSystem", "Orca", QV_FAMILY_DIVESYSTEM_IDIVE, 0x02, S, nullptr},
    {"DiveSystem", "iDive Pro", QV_FAMILY_DIVESYSTEM_IDIVE, 0x03, S, nullptr},
    {"DiveSystem", "iDive DAN", QV_FAMILY_DIVESYSTEM_IDIVE, 0x04, S, nullptr},
    {"DiveSystem", "iDive Tech", QV_FAMILY_DIVESYSTEM_IDIVE, 0x05, S, nullptr},
    {"DiveSystem", "iDive Reb", QV_FAMILY_DIVESYSTEM_IDIVE, 0x06, S, nullptr},
    {"DiveSystem", "iDive Stealth", QV_FAMILY_DIVESYSTEM_IDIVE, 0x07, S, nullptr},
    {"DiveSystem", "iDive Free", QV_FAMILY_DIVESYSTEM_IDIVE, 0x08, S, nullptr},
    {"DiveSystem", "iDive Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x09, S, nullptr},
    {"DiveSystem", "iDive X3M", QV_FAMILY_DIVESYSTEM_IDIVE, 0x0A, S, nullptr},
    {"DiveSystem", "iDive Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x0B, S, nullptr},
    {"Ratio", "iX3M GPS Pro ", QV_FAMILY_DIVESYSTEM_IDIVE, 0x21, SB, &divesystem},
    {"Ratio", "iX3M GPS Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x22, SB, &divesystem},
    {"Ratio", "iX3M GPS Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x23, SB, &divesystem},
    {"Ratio", "iX3M GPS Tech+", QV_FAMILY_DIVESYSTEM_IDIVE, 0x24, SB, &divesystem},
    {"Ratio", "iX3M GPS Reb", QV_FAMILY_DIVESYSTEM_IDIVE, 0x25, SB, &divesystem},
    {"Ratio", "iX3M GPS Fancy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x26, SB, &divesystem},
    {"Ratio", "iX3M Pro Fancy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x31, S, nullptr},
    {"Ratio", "iX3M Pro Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x32, S, nullptr},
    {"Ratio", "iX3M Pro Pro", QV_FAMILY_DIVESYSTEM_IDIVE, 0x33, S, nullptr},
    {"Ratio", "iX3M Pro Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x34, S, nullptr},
    {"Ratio", "iX3M Pro Tech+", QV_FAMILY_DIVESYSTEM_IDIVE, 0x35, S, nullptr},
    {"Ratio", "iX3M Pro Reb", QV_FAMILY_DIVESYSTEM_IDIVE, 0x36, S, nullptr},
    {"Ratio", "iDive Free", QV_FAMILY_DIVESYSTEM_IDIVE, 0x40, S, nullptr},
    {"Ratio", "iDive Fancy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x41, S, nullptr},
    {"Ratio", "iDive Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x42, S, nullptr},
    {"Ratio", "iDive Pro", QV_FAMILY_DIVESYSTEM_IDIVE, 0x43, S, nullptr},
    {"Ratio", "iDive Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x44, S, nullptr},
    {"Ratio", "iDive Tech+", QV_FAMILY_DIVESYSTEM_IDIVE, 0x45, S, nullptr},
    {"Ratio", "iDive Reb", QV_FAMILY_DIVESYSTEM_IDIVE, 0x46, S, nullptr},
    {"Ratio", "iDive Color Free", QV_FAMILY_DIVESYSTEM_IDIVE, 0x50, S, nullptr},
    {"Ratio", "iDive Color Fancy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x51, S, nullptr},
    {"Ratio", "iDive Color Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x52, S, nullptr},
    {"Ratio", "iDive Color Pro", QV_FAMILY_DIVESYSTEM_IDIVE, 0x53, S, nullptr},
    {"Ratio", "iDive Color Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x54, S, nullptr},
    {"Ratio", "iDive Color Tech+", QV_FAMILY_DIVESYSTEM_IDIVE, 0x55, S, nullptr},
    {"Ratio", "iDive Color Reb", QV_FAMILY_DIVESYSTEM_IDIVE, 0x56, S, nullptr},
    {"Ratio", "iX3M 2021 GPS Fancy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x60, SL, &divesystem},
    {"Ratio", "iX3M 2021 GPS Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x61, SL, &divesystem},
    {"Ratio", "iX3M 2021 GPS Pro ", QV_FAMILY_DIVESYSTEM_IDIVE, 0x62, SL, &divesystem},
    {"Ratio", "iX3M 2021 GPS Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x63, SL, &divesystem},
    {"Ratio", "iX3M 2021 GPS Tech+", QV_FAMILY_DIVESYSTEM_IDIVE, 0x64, SL, &divesystem},
    {"Ratio", "iX3M 2021 GPS Reb", QV_FAMILY_DIVESYSTEM_IDIVE, 0x65, SL, &divesystem},
    {"Ratio", "iX3M 2021 Pro Fancy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x70, S, nullptr},
    {"Ratio", "iX3M 2021 Pro Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x71, S, nullptr},
    {"Ratio", "iX3M 2021 Pro Pro", QV_FAMILY_DIVESYSTEM_IDIVE, 0x72, S, nullptr},
    {"Ratio", "iX3M 2021 Pro Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x73, S, nullptr},
    {"Ratio", "iX3M 2021 Pro Tech+", QV_FAMILY_DIVESYSTEM_IDIVE, 0x74, S, nullptr},
    {"Ratio", "iX3M 2021 Pro Reb", QV_FAMILY_DIVESYSTEM_IDIVE, 0x75, S, nullptr},
    {"Ratio", "iDive 2 Free", QV_FAMILY_DIVESYSTEM_IDIVE, 0x80, SL, &divesystem},
    {"Ratio", "iDive 2 Fancy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x81, SL, &divesystem},
    {"Ratio", "iDive 2 Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x82, SL, &divesystem},
    {"Ratio", "iDive 2 Pro", QV_FAMILY_DIVESYSTEM_IDIVE, 0x83, SL, &divesystem},
    {"Ratio", "iDive 2 Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x84, SL, &divesystem},
    {"Ratio", "iDive 2 Tech", QV_FAMILY_DIVESYSTEM_IDIVE, 0x85, SL, &divesystem},
    {"Ratio", "iDive 2 Reb", QV_FAMILY_DIVESYSTEM_IDIVE, 0x86, SL, &divesystem},
    {"Ratio", "iX3M 2 GPS Gauge", QV_FAMILY_DIVESYSTEM_IDIVE, 0x90, SL, &divesystem},
    {"Ratio", "iX3M 2 GPS Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x91, SL, &divesystem},
    {"Ratio", "iX3M 2 GPS Pro", QV_FAMILY_DIVESYSTEM_IDIVE, 0x92, SL, &divesystem},
    {"Ratio", "iX3M 2 GPS Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x93, SL, &divesystem},
    {"Ratio", "iX3M 2 GPS Tech", QV_FAMILY_DIVESYSTEM_IDIVE, 0x94, SL, &divesystem},
    {"Ratio", "iX3M 2 GPS Reb", QV_FAMILY_DIVESYSTEM_IDIVE, 0x95, SL, &divesystem},
    {"Ratio", "ATOM", QV_FAMILY_DIVESYSTEM_IDIVE, 0x96, SL, &divesystem},
    {"Ratio", "iX3M 2 Gauge", QV_FAMILY_DIVESYSTEM_IDIVE, 0x0100, SL, &divesystem},
    {"Ratio", "iX3M 2 Easy", QV_FAMILY_DIVESYSTEM_IDIVE, 0x0101, SL, &divesystem},
    {"Ratio", "iX3M 2 Pro", QV_FAMILY_DIVESYSTEM_IDIVE, 0x0102, SL, &divesystem},
    {"Ratio", "iX3M 2 Deep", QV_FAMILY_DIVESYSTEM_IDIVE, 0x0103, SL, &divesystem},
    {"Ratio", "iX3M 2 Tech+", QV_FAMILY_DIVESYSTEM_IDIVE, 0x0104, SL, &divesystem},
    {"Seac", "Jack", QV_FAMILY_DIVESYSTEM_IDIVE, 0x1000, S, nullptr},
    {"Seac", "Guru", QV_FAMILY_DIVESYSTEM_IDIVE, 0x1002, S, nullptr},
    // Cochran Commander
    {"Cochran", "Commander TM", QV_FAMILY_COCHRAN_COMMANDER, 0x00, S, nullptr},
    {"Cochran", "Commander I", QV_FAMILY_COCHRAN_COMMANDER, 0x01, S, nullptr},
    {"Cochran", "Commander II", QV_FAMILY_COCHRAN_COMMANDER, 0x02, S, nullptr},
    {"Cochran", "EMC-14", QV_FAMILY_COCHRAN_COMMANDER, 0x03, S, nullptr},
    {"Cochran", "EMC-16", QV_FAMILY_COCHRAN_COMMANDER, 0x04, S, nullptr},
    {"Cochran", "EMC-20H", QV_FAMILY_COCHRAN_COMMANDER, 0x05, S, nullptr},
    // Tecdiving DiveComputer.eu
    {"Tecdiving", "DiveComputer.eu", QV_FAMILY_TECDIVING_DIVECOMPUTEREU, 0x00, SB, &tecdiving},
    // McLean Extreme
    {"McLean", "Extreme", QV_FAMILY_MCLEAN_EXTREME, 0x00, SBL, &mclean},
    // Liquivision
    {"Liquivision", "Xen", QV_FAMILY_LIQUIVISION_LYNX, 0x00, S, nullptr},
    {"Liquivision", "Xeo", QV_FAMILY_LIQUIVISION_LYNX, 0x01, S, nullptr},
    {"Liquivision", "Lynx", QV_FAMILY_LIQUIVISION_LYNX, 0x02, S, nullptr},
    {"Liquivision", "Kaon", QV_FAMILY_LIQUIVISION_LYNX, 0x03, S, nullptr},
    // Sporasub
    {"Sporasub", "SP2", QV_FAMILY_SPORASUB_SP2, 0x00, S, nullptr},
    // Deep Six Excursion
    {"Deep Six", "Excursion", QV_FAMILY_DEEPSIX_EXCURSION, 0x00, L, &deepsix},
    {"Crest", "CR-4", QV_FAMILY_DEEPSIX_EXCURSION, 0x00, L, &deepsix},
    {"Genesis", "Centauri", QV_FAMILY_DEEPSIX_EXCURSION, 0x00, L, &deepsix},
    {"Scorpena", "Alpha", QV_FAMILY_DEEPSIX_EXCURSION, 0x00, L, &deepsix},
    // Seac Screen
    {"Seac", "Action", QV_FAMILY_SEAC_SCREEN, 0x01, S, nullptr},
    {"Seac", "Screen", QV_FAMILY_SEAC_SCREEN, 0x02, S, nullptr},
    {"Seac", "Tablet", QV_FAMILY_SEAC_SCREEN, 0x10, SL, &seac},
    // Deepblu Cosmiq
    {"Deepblu", "Cosmiq+", QV_FAMILY_DEEPBLU_COSMIQ, 0x00, L, &deepblu},
    // Oceans S1
    {"Oceans", "S1", QV_FAMILY_OCEANS_S1, 0x00, L, &oceans},
    // Divesoft Freedom
    {"Divesoft", "Freedom", QV_FAMILY_DIVESOFT_FREEDOM, 0x13, L, &divesoft},
    {"Divesoft", "Liberty", QV_FAMILY_DIVESOFT_FREEDOM, 0x0A, L, &divesoft},
    // Halcyon Symbios
    {"Halcyon", "Symbios HUD", QV_FAMILY_HALCYON_SYMBIOS, 0x01, L, &halcyon},
    {"Halcyon", "Symbios Handset", QV_FAMILY_HALCYON_SYMBIOS, 0x07, L, &halcyon},
};

constexpr std::size_t descriptor_count = std::size(descriptors);
static_assert(descriptor_count == 358, "the model table has 358 rows");

// The iterator over the model table: the index of the next row.
struct qv_descriptor_iterator_t : qv_iterator_t {
    std::size_t current = 0;
};

qv_status_t qv_descriptor_iterator_next(qv_iterator_t *iterator, void *out);

constexpr qv_iterator_vtable_t qv_descriptor_iterator_vtable = {
    sizeof(qv_descriptor_iterator_t),
    qv_descriptor_iterator_next,
    nullptr,
};

qv_status_t qv_descriptor_iterator_next(qv_iterator_t *abstract, void *out)
{
    auto *iterator = static_cast<qv_descriptor_iterator_t *>(abstract);
    auto **item = static_cast<qv_descriptor_t **>(out);

    if (iterator->current >= descriptor_count)
        return QV_STATUS_DONE;

    // Rows are read-only; callers only see an opaque pointer that they hand
    // back to the accessors, which never write through it.
    *item = const_cast<qv_descriptor_t *>(&descriptors[iterator->current]);
    iterator->current++;
    return QV_STATUS_SUCCESS;
}

// A single transport bit: the filter's user data depends on which one it is.
constexpr bool is_single_transport(qv_transport_t transport)
{
    return transport != 0 && (transport & (transport - 1)) == 0;
}

} // namespace

extern "C" {

qv_status_t qv_descriptor_iterator_new(qv_iterator_t **out)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;

    auto *iterator =
        qv_iterator_allocate<qv_descriptor_iterator_t>(nullptr, &qv_descriptor_iterator_vtable);
    if (iterator == nullptr)
        return QV_STATUS_NOMEMORY;

    *out = iterator;
    return QV_STATUS_SUCCESS;
}

void qv_descriptor_free(qv_descriptor_t *)
{
    // Rows are static.
}

const char *qv_descriptor_get_vendor(const qv_descriptor_t *descriptor)
{
    return descriptor != nullptr ? descriptor->vendor : nullptr;
}

const char *qv_descriptor_get_product(const qv_descriptor_t *descriptor)
{
    return descriptor != nullptr ? descriptor->product : nullptr;
}

qv_family_t qv_descriptor_get_type(const qv_descriptor_t *descriptor)
{
    return descriptor != nullptr ? descriptor->type : QV_FAMILY_NULL;
}

unsigned int qv_descriptor_get_model(const qv_descriptor_t *descriptor)
{
    return descriptor != nullptr ? descriptor->model : 0;
}

qv_transport_t qv_descriptor_get_transports(const qv_descriptor_t *descriptor)
{
    return descriptor != nullptr ? descriptor->transports : QV_TRANSPORT_NONE;
}

int qv_descriptor_filter(const qv_descriptor_t *descriptor, qv_transport_t transport,
                         const void *userdata)
{
    if (descriptor == nullptr)
        return 1;
    if (!is_single_transport(transport) || (descriptor->transports & transport) == 0)
        return 0;
    if (userdata == nullptr || descriptor->filter == nullptr)
        return 1;
    return qv_filter_rule_accepts(*descriptor->filter, transport, userdata) ? 1 : 0;
}

} // extern "C"
