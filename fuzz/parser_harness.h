// One run of a dive-record parser over arbitrary bytes, shared by the parser
// fuzz target (fuzz_parser.cpp) and the unit test that replays the seed
// corpus and the saved crash inputs without libFuzzer.
//
// Input layout:
//   bytes 0-3  index into qv_fuzz_parser_families (little endian, taken
//              modulo the table size, so that every input picks a family)
//   bytes 4-7  model number (little endian)
//   bytes 8..  the dive record
// Shorter inputs are ignored.
//
// The run creates the family's parser through the library's dispatch, reads
// the date and time, every field with a few indices, and the samples twice
// (the second time also without a callback), touching every value it is
// given. Failures are expected answers for most inputs; the harness looks
// for crashes, reads outside the record (under AddressSanitizer) and
// undefined behaviour. It aborts when a parser breaks a promise that no
// input excuses: a different sample stream on the second pass.
#ifndef QV_FUZZ_PARSER_HARNESS_H
#define QV_FUZZ_PARSER_HARNESS_H

#include <libquivelmarine/context.h>
#include <libquivelmarine/parser.h>

#include "parser-private.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// The families whose parsers are fuzzed. Append only: the seed files store
// the index of their family in this table.
inline constexpr std::array<qv_family_t, 1> qv_fuzz_parser_families = {
    QV_FAMILY_SUUNTO_VYPER, // 0
};

// The size of the family and model prefix of an input.
inline constexpr size_t QV_FUZZ_PARSER_PREFIX = 8;

namespace qv_fuzz {

inline uint32_t read_le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Keeps the compiler from dropping the reads of the values.
inline volatile uint64_t sink;

inline void touch(const void *data, size_t size)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    uint64_t sum = 0;
    for (size_t i = 0; i < size; i++)
        sum = sum * 31 + bytes[i];
    sink = sink + sum;
}

inline void touch_double(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    sink = sink + bits;
}

// A digest of the sample stream, to compare two passes.
struct Samples {
    uint64_t count = 0;
    uint64_t digest = 0;

    void add(uint64_t value) { digest = digest * 1099511628211ull + value + 1; }
    void add_double(double value)
    {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof(bits));
        add(bits);
    }
};

inline void on_sample(qv_sample_type_t type, const qv_sample_value_t *value, void *userdata)
{
    auto *samples = static_cast<Samples *>(userdata);
    samples->count++;
    samples->add(type);

    switch (type) {
    case QV_SAMPLE_TIME:
        samples->add(value->time);
        break;
    case QV_SAMPLE_DEPTH:
        samples->add_double(value->depth);
        break;
    case QV_SAMPLE_PRESSURE:
        samples->add(value->pressure.tank);
        samples->add_double(value->pressure.value);
        break;
    case QV_SAMPLE_TEMPERATURE:
        samples->add_double(value->temperature);
        break;
    case QV_SAMPLE_EVENT:
        samples->add(value->event.type);
        samples->add(value->event.time);
        samples->add(value->event.flags);
        samples->add(value->event.value);
        break;
    case QV_SAMPLE_RBT:
        samples->add(value->rbt);
        break;
    case QV_SAMPLE_HEARTBEAT:
        samples->add(value->heartbeat);
        break;
    case QV_SAMPLE_BEARING:
        samples->add(value->bearing);
        break;
    case QV_SAMPLE_VENDOR:
        samples->add(value->vendor.type);
        samples->add(value->vendor.size);
        // Every byte the parser points at must be readable.
        if (value->vendor.size != 0 && value->vendor.data == nullptr)
            std::abort();
        if (value->vendor.data != nullptr) {
            const auto *bytes = static_cast<const uint8_t *>(value->vendor.data);
            for (uint32_t i = 0; i < value->vendor.size; i++)
                samples->add(bytes[i]);
        }
        break;
    case QV_SAMPLE_SETPOINT:
        samples->add_double(value->setpoint);
        break;
    case QV_SAMPLE_PPO2:
        samples->add(value->ppo2.sensor);
        samples->add_double(value->ppo2.value);
        break;
    case QV_SAMPLE_CNS:
        samples->add_double(value->cns);
        break;
    case QV_SAMPLE_DECO:
        samples->add(value->deco.type);
        samples->add(value->deco.time);
        samples->add_double(value->deco.depth);
        samples->add(value->deco.tts);
        break;
    case QV_SAMPLE_GASMIX:
        samples->add(value->gasmix);
        break;
    case QV_SAMPLE_LOCATION:
        samples->add_double(value->location.latitude);
        samples->add_double(value->location.longitude);
        samples->add_double(value->location.altitude);
        break;
    default:
        // An unknown sample type: its payload is unknown, read the whole union.
        touch(value, sizeof(*value));
        break;
    }
}

// Reads one field into a record large enough for any field and touches the
// value the field writes.
inline void read_field(qv_parser_t *parser, qv_field_type_t type, unsigned int index)
{
    union {
        unsigned int number;
        double real;
        qv_gasmix_t gasmix;
        qv_salinity_t salinity;
        qv_tank_t tank;
        qv_divemode_t divemode;
        qv_decomodel_t decomodel;
        qv_location_t location;
    } value;
    std::memset(&value, 0, sizeof(value));

    if (qv_parser_get_field(parser, type, index, &value) != QV_STATUS_SUCCESS)
        return;

    switch (type) {
    case QV_FIELD_DIVETIME:
    case QV_FIELD_GASMIX_COUNT:
    case QV_FIELD_TANK_COUNT:
        sink = sink + value.number;
        break;
    case QV_FIELD_MAXDEPTH:
    case QV_FIELD_AVGDEPTH:
    case QV_FIELD_ATMOSPHERIC:
    case QV_FIELD_TEMPERATURE_SURFACE:
    case QV_FIELD_TEMPERATURE_MINIMUM:
    case QV_FIELD_TEMPERATURE_MAXIMUM:
        touch_double(value.real);
        break;
    case QV_FIELD_GASMIX:
        touch_double(value.gasmix.helium + value.gasmix.oxygen + value.gasmix.nitrogen);
        sink = sink + value.gasmix.usage;
        break;
    case QV_FIELD_SALINITY:
        touch_double(value.salinity.density);
        sink = sink + value.salinity.type;
        break;
    case QV_FIELD_TANK:
        touch_double(value.tank.volume + value.tank.workpressure + value.tank.beginpressure +
                     value.tank.endpressure);
        sink = sink + value.tank.gasmix + value.tank.type + value.tank.usage;
        break;
    case QV_FIELD_DIVEMODE:
        sink = sink + value.divemode;
        break;
    case QV_FIELD_DECOMODEL:
        sink = sink + value.decomodel.type + static_cast<uint32_t>(value.decomodel.conservatism) +
               value.decomodel.params.gf.high + value.decomodel.params.gf.low;
        break;
    case QV_FIELD_LOCATION:
        touch_double(value.location.latitude + value.location.longitude + value.location.altitude);
        break;
    default:
        touch(&value, sizeof(value));
        break;
    }
}

inline void ignore_log(qv_context_t *, qv_loglevel_t, const char *, unsigned int, const char *,
                       const char *message, void *)
{
    touch(message, std::strlen(message));
}

// One context for the whole run: messages are formatted at every level and
// then dropped.
inline qv_context_t *context()
{
    static qv_context_t *instance = [] {
        qv_context_t *created = nullptr;
        if (qv_context_new(&created) != QV_STATUS_SUCCESS)
            std::abort();
        qv_context_set_loglevel(created, QV_LOGLEVEL_ALL);
        qv_context_set_logfunc(created, ignore_log, nullptr);
        return created;
    }();
    return instance;
}

} // namespace qv_fuzz

// Runs the parser of the input's family over its record. Always returns 0.
inline int qv_fuzz_parser_run(const uint8_t *data, size_t size)
{
    using namespace qv_fuzz;

    if (size < QV_FUZZ_PARSER_PREFIX)
        return 0;
    const qv_family_t family = qv_fuzz_parser_families[read_le32(data) % qv_fuzz_parser_families.size()];
    const unsigned int model = read_le32(data + 4);
    const uint8_t *record = data + QV_FUZZ_PARSER_PREFIX;
    const size_t length = size - QV_FUZZ_PARSER_PREFIX;

    // The record is handed over in a buffer of its exact size, so that the
    // sanitizer sees a read past its end even when the parser (wrongly)
    // reads from the caller's bytes.
    auto *copy = static_cast<uint8_t *>(std::malloc(length != 0 ? length : 1));
    if (copy == nullptr)
        return 0;
    if (length != 0)
        std::memcpy(copy, record, length);

    qv_parser_t *parser = nullptr;
    qv_status_t status = qv_parser_create_family(&parser, context(), family, model, copy, length);
    std::free(copy);
    if (status != QV_STATUS_SUCCESS)
        return 0;

    qv_datetime_t datetime;
    std::memset(&datetime, 0, sizeof(datetime));
    if (qv_parser_get_datetime(parser, &datetime) == QV_STATUS_SUCCESS)
        touch(&datetime, sizeof(datetime));

    static constexpr unsigned int indices[] = {0, 1, 2, 3, 7, 255, 0xFFFFFFFFu};
    for (qv_field_type_t type = QV_FIELD_DIVETIME; type <= QV_FIELD_LOCATION + 1; type++) {
        for (unsigned int index : indices)
            read_field(parser, type, index);
    }
    read_field(parser, 0xFFFFFFFFu, 0);

    Samples first;
    qv_status_t first_status = qv_parser_samples_foreach(parser, on_sample, &first);
    Samples second;
    qv_status_t second_status = qv_parser_samples_foreach(parser, on_sample, &second);
    if (first_status != second_status || first.count != second.count || first.digest != second.digest)
        std::abort();
    qv_parser_samples_foreach(parser, nullptr, nullptr);

    qv_parser_destroy(parser);
    return 0;
}

#endif
