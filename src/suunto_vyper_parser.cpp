#include "suunto_vyper_parser.h"

#include "parser-private.h"

#include <array>
#include <cstdint>

namespace {

// Header offsets of a dive record.
constexpr size_t OFFSET_INTERVAL = 3;    // sample interval, seconds
constexpr size_t OFFSET_FLAGS = 4;       // gauge flag and conservatism
constexpr size_t OFFSET_PRESSURE = 5;    // start tank pressure, 2 bar units
constexpr size_t OFFSET_O2 = 6;          // oxygen % of the first mix, 0 = air
constexpr size_t OFFSET_TEMPERATURE = 8; // surface temperature, signed
constexpr size_t OFFSET_YEAR = 9;        // year, month, day, hour, minute
constexpr size_t OFFSET_PROFILE = 14;    // first profile byte

// Offsets after the end marker M.
constexpr size_t TRAILER_TEMPERATURE = 1; // minimum temperature, signed
constexpr size_t TRAILER_PRESSURE = 3;    // end tank pressure, 2 bar units
// Bytes that must follow the end marker.
constexpr size_t TRAILER_SIZE = 4;

// The smallest record that can hold a header, a marker and a trailer.
constexpr size_t MIN_SIZE = 18;

constexpr uint8_t FLAG_GAUGE = 0x40;
constexpr uint8_t CONSERVATISM_MASK = 0x0F;

constexpr uint8_t END_MARKER = 0x80;
constexpr uint8_t EVENT_FIRST = 0x79;
constexpr uint8_t EVENT_LAST = 0x87;
constexpr uint8_t EVENT_GASCHANGE = 0x87; // followed by the oxygen % of the new mix

constexpr unsigned int MAX_GASMIXES = 3;
constexpr unsigned int AIR = 21;

constexpr double FEET = 0.3048;     // metres per foot
constexpr double PRESSURE_UNIT = 2; // bar per pressure unit

// What the profile's event codes mean; the gas change and the unknown codes
// are handled apart.
struct event_mapping_t {
    uint8_t code;
    qv_sample_event_t event;
};

constexpr std::array<event_mapping_t, 7> events = {{
    {0x7A, QV_SAMPLE_EVENT_ASCENT},
    {0x7B, QV_SAMPLE_EVENT_VIOLATION},
    {0x7C, QV_SAMPLE_EVENT_BOOKMARK},
    {0x7D, QV_SAMPLE_EVENT_SURFACE},
    {0x7E, QV_SAMPLE_EVENT_DECOSTOP},
    {0x7F, QV_SAMPLE_EVENT_CEILING},
    {0x81, QV_SAMPLE_EVENT_SAFETYSTOP},
}};

struct suunto_vyper_parser_t : qv_parser_t {
    bool cached = false;
    unsigned int divetime = 0; // seconds
    // Largest depth reached, in feet. Depths are summed as signed values: a
    // damaged record whose depth changes add up below the start is reported
    // as such, not as an enormous depth.
    int64_t maxdepth = 0;
    size_t marker = 0; // position of the end marker
    unsigned int ngasmixes = 0;
    std::array<unsigned int, MAX_GASMIXES> oxygen{}; // percent
};

qv_status_t suunto_vyper_parser_get_datetime(qv_parser_t *abstract, qv_datetime_t *datetime);
qv_status_t suunto_vyper_parser_get_field(qv_parser_t *abstract, qv_field_type_t type, unsigned int index,
                                          void *value);
qv_status_t suunto_vyper_parser_samples_foreach(qv_parser_t *abstract, qv_sample_callback_t callback,
                                                void *userdata);

constexpr qv_parser_vtable_t suunto_vyper_parser_vtable = {
    sizeof(suunto_vyper_parser_t),
    QV_FAMILY_SUUNTO_VYPER,
    nullptr, // set_clock
    nullptr, // set_atmospheric
    nullptr, // set_density
    suunto_vyper_parser_get_datetime,
    suunto_vyper_parser_get_field,
    suunto_vyper_parser_samples_foreach,
    nullptr, // destroy
};

bool is_event(uint8_t byte)
{
    return byte >= EVENT_FIRST && byte <= EVENT_LAST;
}

// The gas list starts with the mix of the header.
unsigned int first_oxygen(const unsigned char *data)
{
    return data[OFFSET_O2] != 0 ? data[OFFSET_O2] : AIR;
}

// Walks the profile once: dive time, maximum depth, the end marker and the
// gas mixes switched to.
qv_status_t suunto_vyper_parser_cache(suunto_vyper_parser_t *parser)
{
    if (parser->cached)
        return QV_STATUS_SUCCESS;

    const unsigned char *data = parser->data;
    const size_t size = parser->size;
    if (size < MIN_SIZE)
        return QV_STATUS_DATAFORMAT;

    std::array<unsigned int, MAX_GASMIXES> oxygen{};
    unsigned int ngasmixes = 0;
    oxygen[ngasmixes++] = first_oxygen(data);

    const unsigned int interval = data[OFFSET_INTERVAL];
    int64_t depth = 0;
    int64_t maxdepth = 0;
    unsigned int count = 0;

    size_t offset = OFFSET_PROFILE;
    while (offset < size && data[offset] != END_MARKER) {
        uint8_t value = data[offset++];
        if (!is_event(value)) {
            depth += static_cast<int8_t>(value);
            if (depth > maxdepth)
                maxdepth = depth;
            count++;
        } else if (value == EVENT_GASCHANGE) {
            if (offset + 1 > size) {
                QV_ERROR(parser->context, "Buffer overflow detected!");
                return QV_STATUS_DATAFORMAT;
            }
            unsigned int o2 = data[offset++];

            unsigned int i = 0;
            while (i < ngasmixes && oxygen[i] != o2)
                i++;
            if (i == ngasmixes) {
                if (ngasmixes >= MAX_GASMIXES) {
                    QV_ERROR(parser->context, "Maximum number of gas mixes reached.");
                    return QV_STATUS_DATAFORMAT;
                }
                oxygen[ngasmixes++] = o2;
            }
        }
    }

    // The marker must be there and followed by the whole trailer.
    if (offset >= size || data[offset] != END_MARKER || offset + TRAILER_SIZE >= size) {
        QV_ERROR(parser->context, "No valid end marker found!");
        return QV_STATUS_DATAFORMAT;
    }

    parser->divetime = count * interval;
    parser->maxdepth = maxdepth;
    parser->marker = offset;
    parser->ngasmixes = ngasmixes;
    parser->oxygen = oxygen;
    parser->cached = true;
    return QV_STATUS_SUCCESS;
}

qv_status_t suunto_vyper_parser_get_datetime(qv_parser_t *abstract, qv_datetime_t *datetime)
{
    if (abstract->size < OFFSET_PROFILE)
        return QV_STATUS_DATAFORMAT;

    const unsigned char *p = abstract->data + OFFSET_YEAR;
    // Two-digit years: 90-99 are the 1990s, the rest this century.
    datetime->year = p[0] < 90 ? 2000 + p[0] : 1900 + p[0];
    datetime->month = p[1];
    datetime->day = p[2];
    datetime->hour = p[3];
    datetime->minute = p[4];
    datetime->second = 0;
    datetime->timezone = QV_TIMEZONE_NONE;
    return QV_STATUS_SUCCESS;
}

qv_status_t suunto_vyper_parser_get_field(qv_parser_t *abstract, qv_field_type_t type, unsigned int index,
                                          void *value)
{
    auto *parser = static_cast<suunto_vyper_parser_t *>(abstract);

    qv_status_t status = suunto_vyper_parser_cache(parser);
    if (status != QV_STATUS_SUCCESS)
        return status;

    const unsigned char *data = parser->data;
    const bool gauge = (data[OFFSET_FLAGS] & FLAG_GAUGE) != 0;
    const unsigned int ngasmixes = gauge ? 0 : parser->ngasmixes;
    const unsigned int start_pressure = data[OFFSET_PRESSURE];
    const unsigned int end_pressure = data[parser->marker + TRAILER_PRESSURE];
    const unsigned int ntanks = start_pressure != 0 || end_pressure != 0 ? 1 : 0;

    switch (type) {
    case QV_FIELD_DIVETIME:
        *static_cast<unsigned int *>(value) = parser->divetime;
        return QV_STATUS_SUCCESS;
    case QV_FIELD_MAXDEPTH:
        *static_cast<double *>(value) = static_cast<double>(parser->maxdepth) * FEET;
        return QV_STATUS_SUCCESS;
    case QV_FIELD_GASMIX_COUNT:
        *static_cast<unsigned int *>(value) = ngasmixes;
        return QV_STATUS_SUCCESS;
    case QV_FIELD_GASMIX: {
        if (index >= ngasmixes)
            return QV_STATUS_INVALIDARGS;
        auto *gasmix = static_cast<qv_gasmix_t *>(value);
        gasmix->helium = 0.0;
        gasmix->oxygen = parser->oxygen[index] / 100.0;
        gasmix->nitrogen = 1.0 - gasmix->oxygen;
        gasmix->usage = QV_USAGE_NONE;
        return QV_STATUS_SUCCESS;
    }
    case QV_FIELD_TEMPERATURE_SURFACE:
        *static_cast<double *>(value) = static_cast<int8_t>(data[OFFSET_TEMPERATURE]);
        return QV_STATUS_SUCCESS;
    case QV_FIELD_TEMPERATURE_MINIMUM:
        *static_cast<double *>(value) = static_cast<int8_t>(data[parser->marker + TRAILER_TEMPERATURE]);
        return QV_STATUS_SUCCESS;
    case QV_FIELD_TANK_COUNT:
        *static_cast<unsigned int *>(value) = ntanks;
        return QV_STATUS_SUCCESS;
    case QV_FIELD_TANK: {
        if (index >= ntanks)
            return QV_STATUS_INVALIDARGS;
        auto *tank = static_cast<qv_tank_t *>(value);
        tank->gasmix = gauge ? QV_GASMIX_UNKNOWN : 0;
        tank->type = QV_TANKVOLUME_NONE;
        tank->volume = 0.0;
        tank->workpressure = 0.0;
        tank->beginpressure = start_pressure * PRESSURE_UNIT;
        tank->endpressure = end_pressure * PRESSURE_UNIT;
        tank->usage = QV_USAGE_NONE;
        return QV_STATUS_SUCCESS;
    }
    case QV_FIELD_DIVEMODE:
        *static_cast<qv_divemode_t *>(value) = gauge ? QV_DIVEMODE_GAUGE : QV_DIVEMODE_OC;
        return QV_STATUS_SUCCESS;
    case QV_FIELD_DECOMODEL: {
        auto *model = static_cast<qv_decomodel_t *>(value);
        *model = qv_decomodel_t{};
        model->type = QV_DECOMODEL_RGBM;
        model->conservatism = (data[OFFSET_FLAGS] & CONSERVATISM_MASK) / 3;
        return QV_STATUS_SUCCESS;
    }
    default:
        return QV_STATUS_UNSUPPORTED;
    }
}

qv_status_t suunto_vyper_parser_samples_foreach(qv_parser_t *abstract, qv_sample_callback_t callback,
                                                void *userdata)
{
    auto *parser = static_cast<suunto_vyper_parser_t *>(abstract);

    qv_status_t status = suunto_vyper_parser_cache(parser);
    if (status != QV_STATUS_SUCCESS)
        return status;

    const unsigned char *data = parser->data;
    const size_t size = parser->size;
    const unsigned int interval = data[OFFSET_INTERVAL];

    auto emit = [&](qv_sample_type_t type, const qv_sample_value_t &sample) {
        if (callback != nullptr)
            callback(type, &sample, userdata);
    };

    qv_sample_value_t sample{};
    sample.time = 0;
    emit(QV_SAMPLE_TIME, sample);
    sample = {};
    sample.depth = 0.0;
    emit(QV_SAMPLE_DEPTH, sample);
    if ((data[OFFSET_FLAGS] & FLAG_GAUGE) == 0) {
        sample = {};
        sample.gasmix = 0;
        emit(QV_SAMPLE_GASMIX, sample);
    }

    unsigned int time = 0; // seconds
    int64_t depth = 0;     // feet
    bool complete = true;  // the last sample period was closed by a depth change

    size_t offset = OFFSET_PROFILE;
    while (offset < size && data[offset] != END_MARKER) {
        uint8_t value = data[offset++];

        // A new sample period starts with its time; the events before a
        // depth change belong to the period that change closes.
        if (complete) {
            time += interval;
            sample = {};
            sample.time = time * 1000;
            emit(QV_SAMPLE_TIME, sample);
            complete = false;
        }

        if (!is_event(value)) {
            depth += static_cast<int8_t>(value);
            sample = {};
            sample.depth = static_cast<double>(depth) * FEET;
            emit(QV_SAMPLE_DEPTH, sample);
            complete = true;
            continue;
        }

        if (value == EVENT_GASCHANGE) {
            if (offset + 1 > size)
                return QV_STATUS_DATAFORMAT;
            unsigned int o2 = data[offset++];

            unsigned int i = 0;
            while (i < parser->ngasmixes && parser->oxygen[i] != o2)
                i++;
            if (i == parser->ngasmixes) {
                QV_ERROR(parser->context, "Maximum number of gas mixes reached.");
                return QV_STATUS_DATAFORMAT;
            }
            sample = {};
            sample.gasmix = i;
            emit(QV_SAMPLE_GASMIX, sample);
            continue;
        }

        const event_mapping_t *mapping = nullptr;
        for (const event_mapping_t &candidate : events) {
            if (candidate.code == value)
                mapping = &candidate;
        }
        if (mapping == nullptr) {
            QV_WARNING(parser->context, "Unknown event");
            continue;
        }

        sample = {};
        sample.event.type = mapping->event;
        sample.event.time = 0;
        sample.event.flags = QV_SAMPLE_EVENT_FLAG_NONE;
        sample.event.value = 0;
        emit(QV_SAMPLE_EVENT, sample);
    }

    // Close the last sample period, then bring the diver back to the surface.
    if (complete) {
        sample = {};
        sample.time = (time + interval) * 1000;
        emit(QV_SAMPLE_TIME, sample);
    }
    sample = {};
    sample.depth = 0.0;
    emit(QV_SAMPLE_DEPTH, sample);

    return QV_STATUS_SUCCESS;
}

} // namespace

qv_status_t suunto_vyper_parser_create(qv_parser_t **out, qv_context_t *context, const unsigned char *data,
                                       size_t size)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;

    suunto_vyper_parser_t *parser =
        qv_parser_allocate<suunto_vyper_parser_t>(context, &suunto_vyper_parser_vtable, data, size);
    if (parser == nullptr)
        return QV_STATUS_NOMEMORY;

    *out = parser;
    return QV_STATUS_SUCCESS;
}
