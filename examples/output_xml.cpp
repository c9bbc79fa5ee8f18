// qvtool: the XML writer. All dives go into one text file:
//
//   <device>
//   <dive>
//   <number>1</number>
//   <size>...</size>
//   <fingerprint>...</fingerprint>
//   <datetime>...</datetime>
//   ... summary fields ...
//   <sample>
//      <time>00:20</time>
//      <depth>...</depth>
//   </sample>
//   </dive>
//   </device>
//
// Values are the library's metric ones, or converted to feet, psi, degrees
// Fahrenheit and cubic feet in imperial mode.
#include "common.h"
#include "output.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct xml_output_t : qvtool_output_t {
    FILE *file = nullptr;
    qvtool_units_t units = QVTOOL_UNITS_METRIC;

    ~xml_output_t() override
    {
        if (file != nullptr)
            std::fclose(file);
    }
};

qv_status_t qvtool_xml_output_write(qvtool_output_t *output, qv_parser_t *parser,
                                    const unsigned char *data, unsigned int size,
                                    const unsigned char *fingerprint, unsigned int fsize);
qv_status_t qvtool_xml_output_free(qvtool_output_t *output);

const qvtool_output_vtable_t xml_vtable = {
    sizeof(xml_output_t),
    qvtool_xml_output_write,
    qvtool_xml_output_free,
};

// Unit conversions of imperial mode.
double convert_length(double metres, qvtool_units_t units)
{
    return units == QVTOOL_UNITS_IMPERIAL ? metres / 0.3048 : metres;
}

double convert_pressure(double bar, qvtool_units_t units)
{
    return units == QVTOOL_UNITS_IMPERIAL ? bar * 100000.0 / 6894.757293168361 : bar;
}

double convert_temperature(double celsius, qvtool_units_t units)
{
    return units == QVTOOL_UNITS_IMPERIAL ? celsius * 1.8 + 32.0 : celsius;
}

double convert_volume(double litres, qvtool_units_t units)
{
    return units == QVTOOL_UNITS_IMPERIAL ? litres / 1000.0 / 0.028316846592 : litres;
}

// The name of value in a table of names, or "unknown" outside it.
template <size_t N>
const char *name_of(const char *const (&names)[N], unsigned int value)
{
    return value < N ? names[value] : "unknown";
}

const char *const usage_names[] = {"none", "oxygen", "diluent", "sidemount"};
const char *const tankvolume_names[] = {"none", "metric", "imperial"};
const char *const divemode_names[] = {"freedive", "gauge", "oc", "ccr", "scr"};
const char *const decomodel_names[] = {"none", "buhlmann", "vpm", "rgbm", "dciem"};
const char *const water_names[] = {"fresh", "salt"};
const char *const deco_names[] = {"ndl", "safety", "deco", "deep"};
const char *const event_names[] = {
    "none",
    "deco",
    "rbt",
    "ascent",
    "ceiling",
    "workload",
    "transmitter",
    "violation",
    "bookmark",
    "surface",
    "safety stop",
    "gaschange",
    "safety stop (voluntary)",
    "safety stop (mandatory)",
    "deepstop",
    "ceiling (safety stop)",
    "floor",
    "divetime",
    "maxdepth",
    "OLF",
    "PO2",
    "airtime",
    "rgbm",
    "heading",
    "tissue level warning",
    "gaschange2",
};
static_assert(sizeof(event_names) / sizeof(event_names[0]) == QV_SAMPLE_EVENT_GASCHANGE2 + 1);

// State of the sample writer.
struct sample_data_t {
    FILE *file;
    qvtool_units_t units;
    unsigned int nsamples; // sample groups opened so far
};

void sample_cb(qv_sample_type_t type, const qv_sample_value_t *value, void *userdata)
{
    auto *sample = static_cast<sample_data_t *>(userdata);
    FILE *file = sample->file;
    qvtool_units_t units = sample->units;

    switch (type) {
    case QV_SAMPLE_TIME: {
        if (sample->nsamples++ > 0)
            std::fprintf(file, "</sample>\n");
        std::fprintf(file, "<sample>\n");
        unsigned int ms = value->time;
        unsigned int seconds = ms / 1000;
        if (ms % 1000 != 0)
            std::fprintf(file, "   <time>%02u:%02u.%03u</time>\n", seconds / 60, seconds % 60, ms % 1000);
        else
            std::fprintf(file, "   <time>%02u:%02u</time>\n", seconds / 60, seconds % 60);
        break;
    }
    case QV_SAMPLE_DEPTH:
        std::fprintf(file, "   <depth>%.2f</depth>\n", convert_length(value->depth, units));
        break;
    case QV_SAMPLE_PRESSURE:
        std::fprintf(file, "   <pressure tank=\"%u\">%.2f</pressure>\n",
                     static_cast<unsigned int>(value->pressure.tank),
                     convert_pressure(value->pressure.value, units));
        break;
    case QV_SAMPLE_TEMPERATURE:
        std::fprintf(file, "   <temperature>%.2f</temperature>\n",
                     convert_temperature(value->temperature, units));
        break;
    case QV_SAMPLE_EVENT:
        // Gas changes are carried by the gasmix samples.
        if (value->event.type != QV_SAMPLE_EVENT_GASCHANGE &&
            value->event.type != QV_SAMPLE_EVENT_GASCHANGE2) {
            std::fprintf(file, "   <event type=\"%u\" time=\"%u\" flags=\"%u\" value=\"%u\">%s</event>\n",
                         static_cast<unsigned int>(value->event.type),
                         static_cast<unsigned int>(value->event.time),
                         static_cast<unsigned int>(value->event.flags),
                         static_cast<unsigned int>(value->event.value),
                         name_of(event_names, value->event.type));
        }
        break;
    case QV_SAMPLE_RBT:
        std::fprintf(file, "   <rbt>%u</rbt>\n", static_cast<unsigned int>(value->rbt));
        break;
    case QV_SAMPLE_HEARTBEAT:
        std::fprintf(file, "   <heartbeat>%u</heartbeat>\n", static_cast<unsigned int>(value->heartbeat));
        break;
    case QV_SAMPLE_BEARING:
        std::fprintf(file, "   <bearing>%u</bearing>\n", static_cast<unsigned int>(value->bearing));
        break;
    case QV_SAMPLE_VENDOR: {
        std::fprintf(file, "   <vendor type=\"%u\" size=\"%u\">", static_cast<unsigned int>(value->vendor.type),
                     static_cast<unsigned int>(value->vendor.size));
        const auto *bytes = static_cast<const unsigned char *>(value->vendor.data);
        for (unsigned int i = 0; bytes != nullptr && i < value->vendor.size; ++i)
            std::fprintf(file, "%02X", bytes[i]);
        std::fprintf(file, "</vendor>\n");
        break;
    }
    case QV_SAMPLE_SETPOINT:
        std::fprintf(file, "   <setpoint>%.2f</setpoint>\n", value->setpoint);
        break;
    case QV_SAMPLE_PPO2:
        if (value->ppo2.sensor == QV_SENSOR_NONE)
            std::fprintf(file, "   <ppo2>%.2f</ppo2>\n", value->ppo2.value);
        else
            std::fprintf(file, "   <ppo2 sensor=\"%u\">%.2f</ppo2>\n",
                         static_cast<unsigned int>(value->ppo2.sensor), value->ppo2.value);
        break;
    case QV_SAMPLE_CNS:
        std::fprintf(file, "   <cns>%.1f</cns>\n", value->cns * 100.0);
        break;
    case QV_SAMPLE_DECO:
        std::fprintf(file, "   <deco time=\"%u\" depth=\"%.2f\">%s</deco>\n",
                     static_cast<unsigned int>(value->deco.time), convert_length(value->deco.depth, units),
                     name_of(deco_names, value->deco.type));
        if (value->deco.tts != 0)
            std::fprintf(file, "   <tts>%u</tts>\n", static_cast<unsigned int>(value->deco.tts));
        break;
    case QV_SAMPLE_GASMIX:
        std::fprintf(file, "   <gasmix>%u</gasmix>\n", static_cast<unsigned int>(value->gasmix));
        break;
    case QV_SAMPLE_LOCATION:
        std::fprintf(file,
                     "   <location>\n"
                     "      <latitude>%.6f</latitude>\n"
                     "      <longitude>%.6f</longitude>\n"
                     "      <altitude>%.3f</altitude>\n"
                     "   </location>\n",
                     value->location.latitude, value->location.longitude, value->location.altitude);
        break;
    default:
        break;
    }
}

// A field read has failed when it gives anything but success or
// unsupported (a field the format does not carry).
bool failed(qv_status_t status)
{
    return status != QV_STATUS_SUCCESS && status != QV_STATUS_UNSUPPORTED;
}

// "+05:30", "-03:30", "-00:30": the sign is the zone's own, so that zones
// of less than an hour west of UTC keep theirs.
void print_timezone(FILE *file, int32_t timezone)
{
    long long zone = timezone;
    char sign = zone < 0 ? '-' : '+';
    long long magnitude = zone < 0 ? -zone : zone;
    std::fprintf(file, " %c%02lld:%02lld", sign, magnitude / 3600, (magnitude % 3600) / 60);
}

qv_status_t qvtool_xml_output_write(qvtool_output_t *abstract, qv_parser_t *parser,
                                    const unsigned char *, unsigned int size,
                                    const unsigned char *fingerprint, unsigned int fsize)
{
    auto *output = static_cast<xml_output_t *>(abstract);
    FILE *file = output->file;
    qvtool_units_t units = output->units;
    sample_data_t sample = {file, units, 0};
    qv_status_t status = QV_STATUS_SUCCESS;

    std::fprintf(file, "<dive>\n<number>%u</number>\n<size>%u</size>\n", output->number, size);

    if (fingerprint != nullptr) {
        std::fprintf(file, "<fingerprint>");
        for (unsigned int i = 0; i < fsize; ++i)
            std::fprintf(file, "%02X", fingerprint[i]);
        std::fprintf(file, "</fingerprint>\n");
    }

    // Each step either writes its element or reports and skips the rest;
    // the closing elements are written in every case.
    do {
        message("Parsing the datetime.\n");
        qv_datetime_t dt = {};
        status = qv_parser_get_datetime(parser, &dt);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the datetime.");
            break;
        }
        std::fprintf(file, "<datetime>%04i-%02i-%02i %02i:%02i:%02i", static_cast<int>(dt.year),
                     static_cast<int>(dt.month), static_cast<int>(dt.day), static_cast<int>(dt.hour),
                     static_cast<int>(dt.minute), static_cast<int>(dt.second));
        if (dt.timezone != QV_TIMEZONE_NONE)
            print_timezone(file, dt.timezone);
        std::fprintf(file, "</datetime>\n");

        message("Parsing the divetime.\n");
        unsigned int divetime = 0;
        status = qv_parser_get_field(parser, QV_FIELD_DIVETIME, 0, &divetime);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the divetime.");
            break;
        }
        std::fprintf(file, "<divetime>%02u:%02u</divetime>\n", divetime / 60, divetime % 60);

        message("Parsing the maxdepth.\n");
        double maxdepth = 0.0;
        status = qv_parser_get_field(parser, QV_FIELD_MAXDEPTH, 0, &maxdepth);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the maxdepth.");
            break;
        }
        std::fprintf(file, "<maxdepth>%.2f</maxdepth>\n", convert_length(maxdepth, units));

        message("Parsing the avgdepth.\n");
        double avgdepth = 0.0;
        status = qv_parser_get_field(parser, QV_FIELD_AVGDEPTH, 0, &avgdepth);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the avgdepth.");
            break;
        }
        if (status == QV_STATUS_SUCCESS)
            std::fprintf(file, "<avgdepth>%.2f</avgdepth>\n", convert_length(avgdepth, units));

        message("Parsing the temperature.\n");
        static const struct {
            qv_field_type_t field;
            const char *name;
        } temperatures[] = {
            {QV_FIELD_TEMPERATURE_SURFACE, "surface"},
            {QV_FIELD_TEMPERATURE_MINIMUM, "minimum"},
            {QV_FIELD_TEMPERATURE_MAXIMUM, "maximum"},
        };
        for (const auto &t : temperatures) {
            double temperature = 0.0;
            status = qv_parser_get_field(parser, t.field, 0, &temperature);
            if (failed(status))
                break;
            if (status == QV_STATUS_SUCCESS)
                std::fprintf(file, "<temperature type=\"%s\">%.1f</temperature>\n", t.name,
                             convert_temperature(temperature, units));
        }
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the temperature.");
            break;
        }

        message("Parsing the gas mixes.\n");
        unsigned int ngases = 0;
        status = qv_parser_get_field(parser, QV_FIELD_GASMIX_COUNT, 0, &ngases);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the gas mix count.");
            break;
        }
        for (unsigned int i = 0; i < ngases; ++i) {
            qv_gasmix_t gasmix = {};
            status = qv_parser_get_field(parser, QV_FIELD_GASMIX, i, &gasmix);
            if (failed(status))
                break;
            std::fprintf(file,
                         "<gasmix>\n"
                         "   <he>%.1f</he>\n"
                         "   <o2>%.1f</o2>\n"
                         "   <n2>%.1f</n2>\n",
                         gasmix.helium * 100.0, gasmix.oxygen * 100.0, gasmix.nitrogen * 100.0);
            if (gasmix.usage != QV_USAGE_NONE)
                std::fprintf(file, "   <usage>%s</usage>\n", name_of(usage_names, gasmix.usage));
            std::fprintf(file, "</gasmix>\n");
        }
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the gas mix.");
            break;
        }

        message("Parsing the tanks.\n");
        unsigned int ntanks = 0;
        status = qv_parser_get_field(parser, QV_FIELD_TANK_COUNT, 0, &ntanks);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the tank count.");
            break;
        }
        for (unsigned int i = 0; i < ntanks; ++i) {
            qv_tank_t tank = {};
            status = qv_parser_get_field(parser, QV_FIELD_TANK, i, &tank);
            if (failed(status))
                break;
            std::fprintf(file, "<tank>\n");
            if (tank.gasmix != QV_GASMIX_UNKNOWN)
                std::fprintf(file, "   <gasmix>%u</gasmix>\n", static_cast<unsigned int>(tank.gasmix));
            if (tank.usage != QV_USAGE_NONE)
                std::fprintf(file, "   <usage>%s</usage>\n", name_of(usage_names, tank.usage));
            if (tank.type != QV_TANKVOLUME_NONE)
                std::fprintf(file,
                             "   <type>%s</type>\n"
                             "   <volume>%.1f</volume>\n"
                             "   <workpressure>%.2f</workpressure>\n",
                             name_of(tankvolume_names, tank.type), convert_volume(tank.volume, units),
                             convert_pressure(tank.workpressure, units));
            std::fprintf(file,
                         "   <beginpressure>%.2f</beginpressure>\n"
                         "   <endpressure>%.2f</endpressure>\n"
                         "</tank>\n",
                         convert_pressure(tank.beginpressure, units),
                         convert_pressure(tank.endpressure, units));
        }
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the tank.");
            break;
        }

        message("Parsing the dive mode.\n");
        qv_divemode_t divemode = QV_DIVEMODE_OC;
        status = qv_parser_get_field(parser, QV_FIELD_DIVEMODE, 0, &divemode);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the dive mode.");
            break;
        }
        if (status == QV_STATUS_SUCCESS)
            std::fprintf(file, "<divemode>%s</divemode>\n", name_of(divemode_names, divemode));

        message("Parsing the deco model.\n");
        qv_decomodel_t decomodel = {};
        status = qv_parser_get_field(parser, QV_FIELD_DECOMODEL, 0, &decomodel);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the deco model.");
            break;
        }
        if (status == QV_STATUS_SUCCESS) {
            std::fprintf(file, "<decomodel>%s</decomodel>\n", name_of(decomodel_names, decomodel.type));
            if (decomodel.type == QV_DECOMODEL_BUHLMANN &&
                (decomodel.params.gf.low != 0 || decomodel.params.gf.high != 0))
                std::fprintf(file, "<gf>%u/%u</gf>\n", static_cast<unsigned int>(decomodel.params.gf.low),
                             static_cast<unsigned int>(decomodel.params.gf.high));
            if (decomodel.conservatism != 0)
                std::fprintf(file, "<conservatism>%d</conservatism>\n",
                             static_cast<int>(decomodel.conservatism));
        }

        message("Parsing the salinity.\n");
        qv_salinity_t salinity = {};
        status = qv_parser_get_field(parser, QV_FIELD_SALINITY, 0, &salinity);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the salinity.");
            break;
        }
        if (status == QV_STATUS_SUCCESS) {
            if (salinity.density != 0.0)
                std::fprintf(file, "<salinity density=\"%.1f\">%s</salinity>\n", salinity.density,
                             name_of(water_names, salinity.type));
            else
                std::fprintf(file, "<salinity>%s</salinity>\n", name_of(water_names, salinity.type));
        }

        message("Parsing the atmospheric pressure.\n");
        double atmospheric = 0.0;
        status = qv_parser_get_field(parser, QV_FIELD_ATMOSPHERIC, 0, &atmospheric);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the atmospheric pressure.");
            break;
        }
        if (status == QV_STATUS_SUCCESS)
            std::fprintf(file, "<atmospheric>%.5f</atmospheric>\n", convert_pressure(atmospheric, units));

        message("Parsing the GPS location.\n");
        qv_location_t location = {};
        status = qv_parser_get_field(parser, QV_FIELD_LOCATION, 0, &location);
        if (failed(status)) {
            QVTOOL_ERROR("Error parsing the GPS location.");
            break;
        }
        if (status == QV_STATUS_SUCCESS)
            std::fprintf(file,
                         "<location>\n"
                         "   <latitude>%.6f</latitude>\n"
                         "   <longitude>%.6f</longitude>\n"
                         "   <altitude>%.2f</altitude>\n"
                         "</location>\n",
                         location.latitude, location.longitude, convert_length(location.altitude, units));

        message("Parsing the sample data.\n");
        status = qv_parser_samples_foreach(parser, sample_cb, &sample);
        if (status != QV_STATUS_SUCCESS) {
            QVTOOL_ERROR("Error parsing the sample data.");
            break;
        }
    } while (false);

    if (sample.nsamples > 0)
        std::fprintf(file, "</sample>\n");
    std::fprintf(file, "</dive>\n");

    return status;
}

qv_status_t qvtool_xml_output_free(qvtool_output_t *abstract)
{
    auto *output = static_cast<xml_output_t *>(abstract);
    std::fprintf(output->file, "</device>\n");
    std::fclose(output->file);
    output->file = nullptr;
    return QV_STATUS_SUCCESS;
}

} // namespace

qvtool_output_t *qvtool_xml_output_new(const char *filename, qvtool_units_t units)
{
    if (filename == nullptr)
        return nullptr;

    xml_output_t *output = qvtool_output_allocate<xml_output_t>(&xml_vtable);
    if (output == nullptr)
        return nullptr;

    output->file = std::fopen(filename, "w");
    if (output->file == nullptr) {
        qvtool_output_deallocate(output);
        return nullptr;
    }
    output->units = units;

    std::fprintf(output->file, "<device>\n");
    return output;
}
