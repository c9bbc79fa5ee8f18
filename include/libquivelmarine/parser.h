/*
 * libquivelmarine: decoding one dive record into the common dive model.
 *
 * A dive arrives from qv_device_foreach (device.h) as an opaque record in
 * the device's own format. A qv_parser_t made for the record's family turns
 * it into a start time, summary fields (qv_parser_get_field) and a time
 * series of samples (qv_parser_samples_foreach). The parser keeps its own
 * copy of the record, so the caller's bytes need not outlive the creation.
 *
 * Units: metres, bar, degrees Celsius, seconds (sample times in
 * milliseconds), litres, fractions between 0 and 1.
 *
 * Order of use: create; optionally set the atmospheric pressure and the
 * water density; read the date and time; read the fields (each on its own,
 * in any order); iterate the samples once or more; destroy.
 *
 * Every operation returns QV_STATUS_UNSUPPORTED for a NULL parser or when
 * the parser's format does not offer it (applications treat an unsupported
 * field as absent, not as an error), QV_STATUS_INVALIDARGS for a bad index
 * or a missing out pointer, QV_STATUS_DATAFORMAT for a record that cannot
 * be decoded.
 *
 * Thread safety: a parser is used by one thread.
 */
#ifndef QV_PARSER_H
#define QV_PARSER_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/context.h>
#include <libquivelmarine/datetime.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/device.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qv_parser_t qv_parser_t;

/* Summary fields, with the value record each one writes. */
typedef uint32_t qv_field_type_t;

#define QV_FIELD_DIVETIME             0u  /* unsigned int, seconds */
#define QV_FIELD_MAXDEPTH             1u  /* double, metres */
#define QV_FIELD_AVGDEPTH             2u  /* double, metres */
#define QV_FIELD_GASMIX_COUNT         3u  /* unsigned int */
#define QV_FIELD_GASMIX               4u  /* qv_gasmix_t of the mix at index */
#define QV_FIELD_SALINITY             5u  /* qv_salinity_t */
#define QV_FIELD_ATMOSPHERIC          6u  /* double, bar */
#define QV_FIELD_TEMPERATURE_SURFACE  7u  /* double, degrees Celsius */
#define QV_FIELD_TEMPERATURE_MINIMUM  8u  /* double, degrees Celsius */
#define QV_FIELD_TEMPERATURE_MAXIMUM  9u  /* double, degrees Celsius */
#define QV_FIELD_TANK_COUNT           10u /* unsigned int */
#define QV_FIELD_TANK                 11u /* qv_tank_t of the tank at index */
#define QV_FIELD_DIVEMODE             12u /* qv_divemode_t */
#define QV_FIELD_DECOMODEL            13u /* qv_decomodel_t */
#define QV_FIELD_LOCATION             14u /* qv_location_t */

/* What a gas mix or tank is used for. */
typedef uint32_t qv_usage_t;

#define QV_USAGE_NONE      0u
#define QV_USAGE_OXYGEN    1u
#define QV_USAGE_DILUENT   2u
#define QV_USAGE_SIDEMOUNT 3u

/* A breathing gas, as fractions (0 to 1). */
typedef struct qv_gasmix_t {
    double helium;
    double oxygen;
    double nitrogen;
    qv_usage_t usage;
} qv_gasmix_t;

/* Kind of water. */
typedef uint32_t qv_water_t;

#define QV_WATER_FRESH 0u
#define QV_WATER_SALT  1u

typedef struct qv_salinity_t {
    qv_water_t type;
    double density; /* kg/m^3; 0 when unknown */
} qv_salinity_t;

/* The gasmix index of a tank that is not tied to a mix. */
#define QV_GASMIX_UNKNOWN 0xFFFFFFFFu

/* How the volume of a tank is given. */
typedef uint32_t qv_tankvolume_t;

#define QV_TANKVOLUME_NONE     0u /* no volume: volume and workpressure are 0 */
#define QV_TANKVOLUME_METRIC   1u /* water volume at the working pressure */
#define QV_TANKVOLUME_IMPERIAL 2u /* given by the device as gas volume, stored as water volume */

typedef struct qv_tank_t {
    uint32_t gasmix;        /* index into the gas mixes, or QV_GASMIX_UNKNOWN */
    qv_tankvolume_t type;
    double volume;          /* litres (water volume) */
    double workpressure;    /* bar */
    double beginpressure;   /* bar */
    double endpressure;     /* bar */
    qv_usage_t usage;
} qv_tank_t;

/* How the dive was done. */
typedef uint32_t qv_divemode_t;

#define QV_DIVEMODE_FREEDIVE 0u
#define QV_DIVEMODE_GAUGE    1u
#define QV_DIVEMODE_OC       2u /* open circuit */
#define QV_DIVEMODE_CCR      3u /* closed-circuit rebreather */
#define QV_DIVEMODE_SCR      4u /* semi-closed rebreather */

/* Decompression model of the device. */
typedef uint32_t qv_decomodel_type_t;

#define QV_DECOMODEL_NONE     0u
#define QV_DECOMODEL_BUHLMANN 1u
#define QV_DECOMODEL_VPM      2u
#define QV_DECOMODEL_RGBM     3u
#define QV_DECOMODEL_DCIEM    4u

typedef struct qv_decomodel_t {
    qv_decomodel_type_t type;
    int32_t conservatism; /* 0 is the device's default */
    union {
        struct {
            uint32_t high; /* gradient factor high, percent */
            uint32_t low;  /* gradient factor low, percent */
        } gf;              /* for QV_DECOMODEL_BUHLMANN */
    } params;
} qv_decomodel_t;

typedef struct qv_location_t {
    double latitude;  /* degrees */
    double longitude; /* degrees */
    double altitude;  /* metres */
} qv_location_t;

/* Sample types, with the member of qv_sample_value_t each one fills. */
typedef uint32_t qv_sample_type_t;

#define QV_SAMPLE_TIME        0u  /* time: milliseconds since the start; begins each group */
#define QV_SAMPLE_DEPTH       1u  /* depth: metres */
#define QV_SAMPLE_PRESSURE    2u  /* pressure: tank index and bar */
#define QV_SAMPLE_TEMPERATURE 3u  /* temperature: degrees Celsius */
#define QV_SAMPLE_EVENT       4u  /* event */
#define QV_SAMPLE_RBT         5u  /* rbt: remaining bottom time, minutes */
#define QV_SAMPLE_HEARTBEAT   6u  /* heartbeat: beats per minute */
#define QV_SAMPLE_BEARING     7u  /* bearing: degrees */
#define QV_SAMPLE_VENDOR      8u  /* vendor: backend-specific raw bytes */
#define QV_SAMPLE_SETPOINT    9u  /* setpoint: bar */
#define QV_SAMPLE_PPO2        10u /* ppo2: sensor and bar */
#define QV_SAMPLE_CNS         11u /* cns: fraction (1.0 = 100 %) */
#define QV_SAMPLE_DECO        12u /* deco: decompression state */
#define QV_SAMPLE_GASMIX      13u /* gasmix: index of the mix now breathed */
#define QV_SAMPLE_LOCATION    14u /* location */

/* Kinds of sample events. */
typedef uint32_t qv_sample_event_t;

#define QV_SAMPLE_EVENT_NONE                 0u
#define QV_SAMPLE_EVENT_DECOSTOP             1u
#define QV_SAMPLE_EVENT_RBT                  2u
#define QV_SAMPLE_EVENT_ASCENT               3u
#define QV_SAMPLE_EVENT_CEILING              4u
#define QV_SAMPLE_EVENT_WORKLOAD             5u
#define QV_SAMPLE_EVENT_TRANSMITTER          6u
#define QV_SAMPLE_EVENT_VIOLATION            7u
#define QV_SAMPLE_EVENT_BOOKMARK             8u
#define QV_SAMPLE_EVENT_SURFACE              9u
#define QV_SAMPLE_EVENT_SAFETYSTOP           10u
#define QV_SAMPLE_EVENT_GASCHANGE            11u
#define QV_SAMPLE_EVENT_SAFETYSTOP_VOLUNTARY 12u
#define QV_SAMPLE_EVENT_SAFETYSTOP_MANDATORY 13u
#define QV_SAMPLE_EVENT_DEEPSTOP             14u
#define QV_SAMPLE_EVENT_CEILING_SAFETYSTOP   15u
#define QV_SAMPLE_EVENT_FLOOR                16u
#define QV_SAMPLE_EVENT_DIVETIME             17u
#define QV_SAMPLE_EVENT_MAXDEPTH             18u
#define QV_SAMPLE_EVENT_OLF                  19u
#define QV_SAMPLE_EVENT_PO2                  20u
#define QV_SAMPLE_EVENT_AIRTIME              21u
#define QV_SAMPLE_EVENT_RGBM                 22u
#define QV_SAMPLE_EVENT_HEADING              23u
#define QV_SAMPLE_EVENT_TISSUELEVEL          24u
#define QV_SAMPLE_EVENT_GASCHANGE2           25u

/* Event flags: a span begins or ends; 0 for an event at one point in time. */
#define QV_SAMPLE_EVENT_FLAG_NONE  0u
#define QV_SAMPLE_EVENT_FLAG_BEGIN 1u
#define QV_SAMPLE_EVENT_FLAG_END   2u

/* The sensor of a PPO2 value that is not tied to one sensor. */
#define QV_SENSOR_NONE 0xFFFFFFFFu

/* Decompression states. */
typedef uint32_t qv_deco_type_t;

#define QV_DECO_NDL        0u /* time is the no-decompression time */
#define QV_DECO_SAFETYSTOP 1u
#define QV_DECO_DECOSTOP   2u
#define QV_DECO_DEEPSTOP   3u

/* The type field of QV_SAMPLE_VENDOR: which backend's raw bytes these are. */
#define QV_VENDOR_UWATEC_ALADIN  1u /* per-minute extra bytes of the Aladin and Memomouse */
#define QV_VENDOR_OCEANIC_VTPRO  3u /* raw 8-byte samples of the VT Pro */
#define QV_VENDOR_OCEANIC_VEO250 4u /* raw 8-byte samples of the Veo 250 */
#define QV_VENDOR_OCEANIC_ATOM2  5u /* raw sample records of the Atom 2 */

/* The value of one sample; the member is selected by the sample type. */
typedef union qv_sample_value_t {
    uint32_t time;       /* milliseconds */
    double depth;        /* metres */
    struct {
        uint32_t tank;
        double value;    /* bar */
    } pressure;
    double temperature;  /* degrees Celsius */
    struct {
        qv_sample_event_t type;
        uint32_t time;   /* backend-defined, usually 0 */
        uint32_t flags;  /* QV_SAMPLE_EVENT_FLAG_* */
        uint32_t value;  /* meaning depends on the event and the backend */
    } event;
    uint32_t rbt;        /* minutes */
    uint32_t heartbeat;  /* beats per minute */
    uint32_t bearing;    /* degrees */
    struct {
        uint32_t type;   /* QV_VENDOR_* */
        uint32_t size;
        const void *data; /* size bytes, valid during the callback */
    } vendor;
    double setpoint;     /* bar */
    struct {
        uint32_t sensor; /* or QV_SENSOR_NONE */
        double value;    /* bar */
    } ppo2;
    double cns;          /* fraction */
    struct {
        qv_deco_type_t type;
        uint32_t time;   /* seconds: no-decompression time or stop time */
        double depth;    /* metres: the stop depth */
        uint32_t tts;    /* time to surface, seconds; 0 when unknown */
    } deco;
    uint32_t gasmix;     /* index of the mix */
    qv_location_t location;
} qv_sample_value_t;

/*
 * Sample handler: called once per sample with its type, its value (valid
 * during the call only) and the user data. Samples come in groups that each
 * begin with QV_SAMPLE_TIME (times never decrease), followed by the values
 * valid at that time in any order.
 */
typedef void (*qv_sample_callback_t)(qv_sample_type_t type, const qv_sample_value_t *value, void *userdata);

/*
 * Creates the parser for a dive downloaded from an open device: the family
 * is the device's, the model the one of the device's last device-information
 * event (0 when there was none), the context the device's. When the format
 * uses the device clock, the device's last clock event is set on the parser
 * (qv_parser_set_clock). data (size bytes) is copied; the device may be
 * closed afterwards.
 *
 * On success *out receives the parser, on failure NULL. Returns
 * QV_STATUS_INVALIDARGS without out or device, without data for a size
 * above 0, or for a family this library does not know; QV_STATUS_UNSUPPORTED
 * for a family whose parser is not part of this build; QV_STATUS_NOMEMORY;
 * QV_STATUS_DATAFORMAT when the record's header cannot be decoded; or the
 * failure of setting the clock. Release the parser with qv_parser_destroy.
 */
QV_EXPORT qv_status_t qv_parser_new(qv_parser_t **out, qv_device_t *device, const unsigned char *data,
                                    size_t size);

/*
 * Creates the parser for the family and model of descriptor (to decode a
 * stored dive without a device); no clock is set. Return values as for
 * qv_parser_new, with QV_STATUS_INVALIDARGS also without a descriptor.
 */
QV_EXPORT qv_status_t qv_parser_new2(qv_parser_t **out, qv_context_t *context,
                                     const qv_descriptor_t *descriptor, const unsigned char *data,
                                     size_t size);

/* The family of the parser's backend; QV_FAMILY_NULL for a NULL parser. */
QV_EXPORT qv_family_t qv_parser_get_type(qv_parser_t *parser);

/*
 * Relates the device's clock to host time: devtime (the device's clock
 * count) was read at systime (seconds since 1970). Formats that store dive
 * times as device clock counts need it to report a date.
 */
QV_EXPORT qv_status_t qv_parser_set_clock(qv_parser_t *parser, unsigned int devtime, qv_ticks_t systime);

/* Sets the atmospheric pressure at the surface, in pascal. */
QV_EXPORT qv_status_t qv_parser_set_atmospheric(qv_parser_t *parser, double atmospheric);

/* Sets the density of the water, in kg/m^3. */
QV_EXPORT qv_status_t qv_parser_set_density(qv_parser_t *parser, double density);

/*
 * Stores the start of the dive in *datetime (timezone QV_TIMEZONE_NONE when
 * the device keeps local time without a zone). QV_STATUS_INVALIDARGS
 * without datetime.
 */
QV_EXPORT qv_status_t qv_parser_get_datetime(qv_parser_t *parser, qv_datetime_t *datetime);

/*
 * Stores the summary field type in value, which points to the field's value
 * record (see QV_FIELD_*); index selects the gas mix or tank of the indexed
 * fields and is ignored by the others. QV_STATUS_UNSUPPORTED for a field
 * the format does not carry; QV_STATUS_INVALIDARGS without value or for an
 * index out of range.
 */
QV_EXPORT qv_status_t qv_parser_get_field(qv_parser_t *parser, qv_field_type_t type, unsigned int index,
                                          void *value);

/*
 * Hands every sample to callback (see qv_sample_callback_t); a NULL
 * callback decodes the samples without delivering them. May be called more
 * than once.
 */
QV_EXPORT qv_status_t qv_parser_samples_foreach(qv_parser_t *parser, qv_sample_callback_t callback,
                                                void *userdata);

/*
 * Releases the parser and its copy of the dive. QV_STATUS_SUCCESS for a
 * NULL parser; otherwise the backend's status for releasing its own
 * resources (the parser is freed in every case).
 */
QV_EXPORT qv_status_t qv_parser_destroy(qv_parser_t *parser);

#ifdef __cplusplus
}
#endif

#endif /* QV_PARSER_H */
