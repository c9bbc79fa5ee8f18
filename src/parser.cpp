#include "parser-private.h"

#include "device-private.h"
#include "suunto_vyper_parser.h"

#include <array>
#include <cinttypes>

namespace {

// Rows of the dispatch table. A parser that lands replaces the nullptr of
// its rows with its create operation (and includes its header above).
constexpr qv_parser_backend_t plain(qv_family_t family, const char *name, qv_parser_create_t create)
{
    return {family, QV_PARSER_ANY_MODEL, name, qv_parser_extra_t::none, create, nullptr, 0};
}

constexpr qv_parser_backend_t with_model(qv_family_t family, const char *name, qv_parser_create_extra_t create)
{
    return {family, QV_PARSER_ANY_MODEL, name, qv_parser_extra_t::model, nullptr, create, 0};
}

constexpr qv_parser_backend_t with_constant(qv_family_t family, const char *name,
                                            qv_parser_create_extra_t create, unsigned int constant)
{
    return {family, QV_PARSER_ANY_MODEL, name, qv_parser_extra_t::constant, nullptr, create, constant};
}

// A row that serves one model of its family only; it stands before the
// family's general row.
constexpr qv_parser_backend_t for_model(unsigned int model, qv_parser_backend_t row)
{
    row.model = model;
    return row;
}

// Grouped by family in ascending family order; within a family the rows for
// one model come first and a row for any model closes the group.
constexpr std::array<qv_parser_backend_t, 47> backends = {{
    plain(QV_FAMILY_SUUNTO_SOLUTION, "Suunto Solution", nullptr),                  // suunto_solution_parser_create
    with_constant(QV_FAMILY_SUUNTO_EON, "Suunto Eon", nullptr, 0),                 // suunto_eon_parser_create
    // The Spyder (model 1) of the Vyper family stores its dives in the Eon format.
    for_model(1, with_constant(QV_FAMILY_SUUNTO_VYPER, "Suunto Eon", nullptr, 1)), // suunto_eon_parser_create
    plain(QV_FAMILY_SUUNTO_VYPER, "Suunto Vyper", suunto_vyper_parser_create),
    with_model(QV_FAMILY_SUUNTO_VYPER2, "Suunto D9", nullptr),                     // suunto_d9_parser_create
    with_model(QV_FAMILY_SUUNTO_D9, "Suunto D9", nullptr),                         // suunto_d9_parser_create
    with_model(QV_FAMILY_SUUNTO_EONSTEEL, "Suunto EON Steel", nullptr),            // suunto_eonsteel_parser_create
    plain(QV_FAMILY_REEFNET_SENSUS, "Reefnet Sensus", nullptr),                    // reefnet_sensus_parser_create
    plain(QV_FAMILY_REEFNET_SENSUSPRO, "Reefnet Sensus Pro", nullptr),             // reefnet_sensuspro_parser_create
    plain(QV_FAMILY_REEFNET_SENSUSULTRA, "Reefnet Sensus Ultra", nullptr),         // reefnet_sensusultra_parser_create
    plain(QV_FAMILY_UWATEC_ALADIN, "Uwatec Memomouse", nullptr),                   // uwatec_memomouse_parser_create
    plain(QV_FAMILY_UWATEC_MEMOMOUSE, "Uwatec Memomouse", nullptr),                // uwatec_memomouse_parser_create
    with_model(QV_FAMILY_UWATEC_SMART, "Uwatec Smart", nullptr),                   // uwatec_smart_parser_create
    with_model(QV_FAMILY_OCEANIC_VTPRO, "Oceanic VT Pro", nullptr),                // oceanic_vtpro_parser_create
    with_model(QV_FAMILY_OCEANIC_VEO250, "Oceanic Veo 250", nullptr),              // oceanic_veo250_parser_create
    // The Genesis React Pro White (0x4354) stores its dives in the Veo 250 format.
    for_model(0x4354, with_model(QV_FAMILY_OCEANIC_ATOM2, "Oceanic Veo 250", nullptr)), // oceanic_veo250_parser_create
    with_model(QV_FAMILY_OCEANIC_ATOM2, "Oceanic Atom 2", nullptr),                // oceanic_atom2_parser_create
    for_model(0x4354, with_model(QV_FAMILY_PELAGIC_I330R, "Oceanic Veo 250", nullptr)), // oceanic_veo250_parser_create
    with_model(QV_FAMILY_PELAGIC_I330R, "Oceanic Atom 2", nullptr),                // oceanic_atom2_parser_create
    with_model(QV_FAMILY_MARES_NEMO, "Mares Nemo", nullptr),                       // mares_nemo_parser_create
    with_model(QV_FAMILY_MARES_PUCK, "Mares Nemo", nullptr),                       // mares_nemo_parser_create
    with_model(QV_FAMILY_MARES_DARWIN, "Mares Darwin", nullptr),                   // mares_darwin_parser_create
    with_model(QV_FAMILY_MARES_ICONHD, "Mares Icon HD", nullptr),                  // mares_iconhd_parser_create
    plain(QV_FAMILY_HW_OSTC, "Heinrichs Weikamp OSTC", nullptr),                   // hw_ostc_parser_create
    with_model(QV_FAMILY_HW_FROG, "Heinrichs Weikamp OSTC 3", nullptr),            // hw_ostc3_parser_create
    with_model(QV_FAMILY_HW_OSTC3, "Heinrichs Weikamp OSTC 3", nullptr),           // hw_ostc3_parser_create
    with_model(QV_FAMILY_CRESSI_EDY, "Cressi Edy", nullptr),                       // cressi_edy_parser_create
    with_model(QV_FAMILY_CRESSI_LEONARDO, "Cressi Leonardo", nullptr),             // cressi_leonardo_parser_create
    plain(QV_FAMILY_CRESSI_GOA, "Cressi Goa", nullptr),                            // cressi_goa_parser_create
    with_model(QV_FAMILY_ZEAGLE_N2ITION3, "Cressi Edy", nullptr),                  // cressi_edy_parser_create
    plain(QV_FAMILY_ATOMICS_COBALT, "Atomic Aquatics Cobalt", nullptr),            // atomics_cobalt_parser_create
    with_model(QV_FAMILY_SHEARWATER_PREDATOR, "Shearwater Predator", nullptr),     // shearwater_predator_parser_create
    with_model(QV_FAMILY_SHEARWATER_PETREL, "Shearwater Petrel", nullptr),         // shearwater_petrel_parser_create
    plain(QV_FAMILY_DIVERITE_NITEKQ, "Dive Rite NiTek Q", nullptr),                // diverite_nitekq_parser_create
    plain(QV_FAMILY_CITIZEN_AQUALAND, "Citizen Aqualand", nullptr),                // citizen_aqualand_parser_create
    with_model(QV_FAMILY_DIVESYSTEM_IDIVE, "DiveSystem iDive", nullptr),           // divesystem_idive_parser_create
    with_model(QV_FAMILY_COCHRAN_COMMANDER, "Cochran Commander", nullptr),         // cochran_commander_parser_create
    plain(QV_FAMILY_TECDIVING_DIVECOMPUTEREU, "Tecdiving DiveComputer.eu", nullptr), // tecdiving_divecomputereu_parser_create
    plain(QV_FAMILY_MCLEAN_EXTREME, "McLean Extreme", nullptr),                    // mclean_extreme_parser_create
    with_model(QV_FAMILY_LIQUIVISION_LYNX, "Liquivision Lynx", nullptr),           // liquivision_lynx_parser_create
    plain(QV_FAMILY_SPORASUB_SP2, "Sporasub SP2", nullptr),                        // sporasub_sp2_parser_create
    plain(QV_FAMILY_DEEPSIX_EXCURSION, "Deep Six Excursion", nullptr),             // deepsix_excursion_parser_create
    with_model(QV_FAMILY_SEAC_SCREEN, "Seac Screen", nullptr),                     // seac_screen_parser_create
    plain(QV_FAMILY_DEEPBLU_COSMIQ, "Deepblu Cosmiq", nullptr),                    // deepblu_cosmiq_parser_create
    plain(QV_FAMILY_OCEANS_S1, "Oceans S1", nullptr),                              // oceans_s1_parser_create
    plain(QV_FAMILY_DIVESOFT_FREEDOM, "Divesoft Freedom", nullptr),                // divesoft_freedom_parser_create
    plain(QV_FAMILY_HALCYON_SYMBIOS, "Halcyon Symbios", nullptr),                  // halcyon_symbios_parser_create
}};

// Every row uses the operation its kind of argument calls for; families are
// in ascending order; each family's group ends with a row for any model, so
// that every model of a known family finds a row.
constexpr bool consistent(const std::array<qv_parser_backend_t, 47> &table)
{
    size_t families = 0;
    for (size_t i = 0; i < table.size(); i++) {
        const qv_parser_backend_t &row = table[i];
        if (row.family == QV_FAMILY_NULL || row.name == nullptr)
            return false;
        if (row.extra == qv_parser_extra_t::none ? row.create_extra != nullptr : row.create != nullptr)
            return false;
        if (row.extra != qv_parser_extra_t::constant && row.constant != 0)
            return false;
        if (i > 0 && table[i - 1].family > row.family)
            return false;
        bool last_of_family = i + 1 == table.size() || table[i + 1].family != row.family;
        if (last_of_family != (row.model == QV_PARSER_ANY_MODEL))
            return false;
        if (last_of_family)
            families++;
    }
    return families == 44;
}
static_assert(consistent(backends), "the parser dispatch table is malformed");

// Stands in for a missing sample callback, so that backends may always call it.
void discard_sample(qv_sample_type_t, const qv_sample_value_t *, void *)
{
}

} // namespace

std::span<const qv_parser_backend_t> qv_parser_backends()
{
    return backends;
}

const qv_parser_backend_t *qv_parser_backend_find(qv_family_t family, unsigned int model)
{
    for (const qv_parser_backend_t &row : backends) {
        if (row.family == family && (row.model == QV_PARSER_ANY_MODEL || row.model == model))
            return &row;
    }
    return nullptr;
}

qv_status_t qv_parser_backend_create(const qv_parser_backend_t *backend, qv_parser_t **out,
                                     qv_context_t *context, unsigned int model, const unsigned char *data,
                                     size_t size)
{
    assert(backend != nullptr && out != nullptr);

    bool landed = backend->extra == qv_parser_extra_t::none ? backend->create != nullptr
                                                            : backend->create_extra != nullptr;
    if (!landed) {
        QV_ERROR(context, "The %s parser (family 0x%08" PRIX32 ") is not supported yet.", backend->name,
                 static_cast<uint32_t>(backend->family));
        *out = nullptr;
        return QV_STATUS_UNSUPPORTED;
    }

    qv_parser_t *parser = nullptr;
    qv_status_t status = QV_STATUS_UNSUPPORTED;
    switch (backend->extra) {
    case qv_parser_extra_t::none:
        status = backend->create(&parser, context, data, size);
        break;
    case qv_parser_extra_t::model:
        status = backend->create_extra(&parser, context, data, size, model);
        break;
    case qv_parser_extra_t::constant:
        status = backend->create_extra(&parser, context, data, size, backend->constant);
        break;
    }

    // A backend hands out its parser on success only.
    *out = status == QV_STATUS_SUCCESS ? parser : nullptr;
    return status;
}

qv_status_t qv_parser_create_family(qv_parser_t **out, qv_context_t *context, qv_family_t family,
                                    unsigned int model, const unsigned char *data, size_t size)
{
    assert(out != nullptr);

    const qv_parser_backend_t *backend = qv_parser_backend_find(family, model);
    if (backend == nullptr) {
        QV_ERROR(context, "Unknown device family 0x%08" PRIX32 ".", static_cast<uint32_t>(family));
        *out = nullptr;
        return QV_STATUS_INVALIDARGS;
    }

    return qv_parser_backend_create(backend, out, context, model, data, size);
}

qv_status_t qv_parser_backend_new(const qv_parser_backend_t *backend, qv_parser_t **out, qv_device_t *device,
                                  const unsigned char *data, size_t size)
{
    assert(backend != nullptr && out != nullptr && device != nullptr);

    qv_parser_t *parser = nullptr;
    qv_status_t status = qv_parser_backend_create(backend, &parser, device->context, device->devinfo.model,
                                                  data, size);
    if (status != QV_STATUS_SUCCESS) {
        *out = nullptr;
        return status;
    }

    // Relate the device clock of the dive to host time, for formats that
    // need it; a format without a clock is not an error.
    if (parser->vtable->set_clock != nullptr) {
        status = parser->vtable->set_clock(parser, device->clock.devtime, device->clock.systime);
        if (status != QV_STATUS_SUCCESS && status != QV_STATUS_UNSUPPORTED) {
            qv_parser_destroy(parser);
            *out = nullptr;
            return status;
        }
    }

    *out = parser;
    return QV_STATUS_SUCCESS;
}

void qv_parser_deallocate(qv_parser_t *parser)
{
    delete parser;
}

int qv_parser_isinstance(qv_parser_t *parser, const qv_parser_vtable_t *vtable)
{
    return parser != nullptr && parser->vtable == vtable;
}

void qv_sample_statistics_cb(qv_sample_type_t type, const qv_sample_value_t *value, void *userdata)
{
    auto *statistics = static_cast<qv_sample_statistics_t *>(userdata);

    switch (type) {
    case QV_SAMPLE_TIME:
        statistics->divetime = value->time / 1000;
        break;
    case QV_SAMPLE_DEPTH:
        if (value->depth > statistics->maxdepth)
            statistics->maxdepth = value->depth;
        break;
    default:
        break;
    }
}

extern "C" {

qv_status_t qv_parser_new(qv_parser_t **out, qv_device_t *device, const unsigned char *data, size_t size)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;
    *out = nullptr;
    if (device == nullptr || (data == nullptr && size != 0))
        return QV_STATUS_INVALIDARGS;

    qv_family_t family = qv_device_get_type(device);
    const qv_parser_backend_t *backend = qv_parser_backend_find(family, device->devinfo.model);
    if (backend == nullptr) {
        QV_ERROR(device->context, "Unknown device family 0x%08" PRIX32 ".", static_cast<uint32_t>(family));
        return QV_STATUS_INVALIDARGS;
    }

    return qv_parser_backend_new(backend, out, device, data, size);
}

qv_status_t qv_parser_new2(qv_parser_t **out, qv_context_t *context, const qv_descriptor_t *descriptor,
                           const unsigned char *data, size_t size)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;
    *out = nullptr;
    if (descriptor == nullptr || (data == nullptr && size != 0))
        return QV_STATUS_INVALIDARGS;

    return qv_parser_create_family(out, context, qv_descriptor_get_type(descriptor),
                                   qv_descriptor_get_model(descriptor), data, size);
}

qv_family_t qv_parser_get_type(qv_parser_t *parser)
{
    if (parser == nullptr)
        return QV_FAMILY_NULL;
    return parser->vtable->family;
}

qv_status_t qv_parser_set_clock(qv_parser_t *parser, unsigned int devtime, qv_ticks_t systime)
{
    if (parser == nullptr || parser->vtable->set_clock == nullptr)
        return QV_STATUS_UNSUPPORTED;
    return parser->vtable->set_clock(parser, devtime, systime);
}

qv_status_t qv_parser_set_atmospheric(qv_parser_t *parser, double atmospheric)
{
    if (parser == nullptr || parser->vtable->set_atmospheric == nullptr)
        return QV_STATUS_UNSUPPORTED;
    return parser->vtable->set_atmospheric(parser, atmospheric);
}

qv_status_t qv_parser_set_density(qv_parser_t *parser, double density)
{
    if (parser == nullptr || parser->vtable->set_density == nullptr)
        return QV_STATUS_UNSUPPORTED;
    return parser->vtable->set_density(parser, density);
}

qv_status_t qv_parser_get_datetime(qv_parser_t *parser, qv_datetime_t *datetime)
{
    if (parser == nullptr || parser->vtable->get_datetime == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (datetime == nullptr)
        return QV_STATUS_INVALIDARGS;
    return parser->vtable->get_datetime(parser, datetime);
}

qv_status_t qv_parser_get_field(qv_parser_t *parser, qv_field_type_t type, unsigned int index, void *value)
{
    if (parser == nullptr || parser->vtable->get_field == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (value == nullptr)
        return QV_STATUS_INVALIDARGS;
    return parser->vtable->get_field(parser, type, index, value);
}

qv_status_t qv_parser_samples_foreach(qv_parser_t *parser, qv_sample_callback_t callback, void *userdata)
{
    if (parser == nullptr || parser->vtable->samples_foreach == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (callback == nullptr)
        callback = discard_sample;
    return parser->vtable->samples_foreach(parser, callback, userdata);
}

qv_status_t qv_parser_destroy(qv_parser_t *parser)
{
    if (parser == nullptr)
        return QV_STATUS_SUCCESS;

    qv_status_t status = QV_STATUS_SUCCESS;
    if (parser->vtable->destroy != nullptr)
        status = parser->vtable->destroy(parser);

    delete parser;
    return status;
}

} // extern "C"
