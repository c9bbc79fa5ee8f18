#include "device-private.h"
#include "suunto_vyper.h"

#include <algorithm>
#include <array>
#include <cinttypes>

namespace {

// Rows of the dispatch table. A backend that lands replaces the nullptr of
// its row with its open operation (and includes its header above).
constexpr qv_device_backend_t plain(qv_family_t family, const char *name, qv_device_open_t open)
{
    return {family, name, qv_device_extra_t::none, open, nullptr, 0};
}

constexpr qv_device_backend_t with_model(qv_family_t family, const char *name, qv_device_open_extra_t open)
{
    return {family, name, qv_device_extra_t::model, nullptr, open, 0};
}

constexpr qv_device_backend_t with_constant(qv_family_t family, const char *name, qv_device_open_extra_t open,
                                            unsigned int constant)
{
    return {family, name, qv_device_extra_t::constant, nullptr, open, constant};
}

// One row per family, in ascending family order (the lookup relies on it).
constexpr std::array<qv_device_backend_t, 44> backends = {{
    plain(QV_FAMILY_SUUNTO_SOLUTION, "Suunto Solution", nullptr),             // suunto_solution_device_open
    plain(QV_FAMILY_SUUNTO_EON, "Suunto Eon", nullptr),                       // suunto_eon_device_open
    plain(QV_FAMILY_SUUNTO_VYPER, "Suunto Vyper", suunto_vyper_device_open),
    plain(QV_FAMILY_SUUNTO_VYPER2, "Suunto Vyper 2", nullptr),                // suunto_vyper2_device_open
    with_model(QV_FAMILY_SUUNTO_D9, "Suunto D9", nullptr),                    // suunto_d9_device_open
    with_model(QV_FAMILY_SUUNTO_EONSTEEL, "Suunto EON Steel", nullptr),       // suunto_eonsteel_device_open
    plain(QV_FAMILY_REEFNET_SENSUS, "Reefnet Sensus", nullptr),               // reefnet_sensus_device_open
    plain(QV_FAMILY_REEFNET_SENSUSPRO, "Reefnet Sensus Pro", nullptr),        // reefnet_sensuspro_device_open
    plain(QV_FAMILY_REEFNET_SENSUSULTRA, "Reefnet Sensus Ultra", nullptr),    // reefnet_sensusultra_device_open
    plain(QV_FAMILY_UWATEC_ALADIN, "Uwatec Aladin", nullptr),                 // uwatec_aladin_device_open
    plain(QV_FAMILY_UWATEC_MEMOMOUSE, "Uwatec Memomouse", nullptr),           // uwatec_memomouse_device_open
    plain(QV_FAMILY_UWATEC_SMART, "Uwatec Smart", nullptr),                   // uwatec_smart_device_open
    with_model(QV_FAMILY_OCEANIC_VTPRO, "Oceanic VT Pro", nullptr),           // oceanic_vtpro_device_open
    plain(QV_FAMILY_OCEANIC_VEO250, "Oceanic Veo 250", nullptr),              // oceanic_veo250_device_open
    with_model(QV_FAMILY_OCEANIC_ATOM2, "Oceanic Atom 2", nullptr),           // oceanic_atom2_device_open
    with_model(QV_FAMILY_PELAGIC_I330R, "Pelagic i330R", nullptr),            // pelagic_i330r_device_open
    plain(QV_FAMILY_MARES_NEMO, "Mares Nemo", nullptr),                       // mares_nemo_device_open
    plain(QV_FAMILY_MARES_PUCK, "Mares Puck", nullptr),                       // mares_puck_device_open
    with_model(QV_FAMILY_MARES_DARWIN, "Mares Darwin", nullptr),              // mares_darwin_device_open
    with_model(QV_FAMILY_MARES_ICONHD, "Mares Icon HD", nullptr),             // mares_iconhd_device_open
    plain(QV_FAMILY_HW_OSTC, "Heinrichs Weikamp OSTC", nullptr),              // hw_ostc_device_open
    with_constant(QV_FAMILY_HW_FROG, "Heinrichs Weikamp Frog", nullptr, 1),   // hw_ostc3_device_open
    with_constant(QV_FAMILY_HW_OSTC3, "Heinrichs Weikamp OSTC 3", nullptr, 0), // hw_ostc3_device_open
    plain(QV_FAMILY_CRESSI_EDY, "Cressi Edy", nullptr),                       // cressi_edy_device_open
    plain(QV_FAMILY_CRESSI_LEONARDO, "Cressi Leonardo", nullptr),             // cressi_leonardo_device_open
    plain(QV_FAMILY_CRESSI_GOA, "Cressi Goa", nullptr),                       // cressi_goa_device_open
    plain(QV_FAMILY_ZEAGLE_N2ITION3, "Zeagle N2iTiON3", nullptr),             // zeagle_n2ition3_device_open
    plain(QV_FAMILY_ATOMICS_COBALT, "Atomic Aquatics Cobalt", nullptr),       // atomics_cobalt_device_open
    plain(QV_FAMILY_SHEARWATER_PREDATOR, "Shearwater Predator", nullptr),     // shearwater_predator_device_open
    with_model(QV_FAMILY_SHEARWATER_PETREL, "Shearwater Petrel", nullptr),    // shearwater_petrel_device_open
    plain(QV_FAMILY_DIVERITE_NITEKQ, "Dive Rite NiTek Q", nullptr),           // diverite_nitekq_device_open
    plain(QV_FAMILY_CITIZEN_AQUALAND, "Citizen Aqualand", nullptr),           // citizen_aqualand_device_open
    with_model(QV_FAMILY_DIVESYSTEM_IDIVE, "DiveSystem iDive", nullptr),      // divesystem_idive_device_open
    plain(QV_FAMILY_COCHRAN_COMMANDER, "Cochran Commander", nullptr),         // cochran_commander_device_open
    plain(QV_FAMILY_TECDIVING_DIVECOMPUTEREU, "Tecdiving DiveComputer.eu", nullptr), // tecdiving_divecomputereu_device_open
    plain(QV_FAMILY_MCLEAN_EXTREME, "McLean Extreme", nullptr),               // mclean_extreme_device_open
    plain(QV_FAMILY_LIQUIVISION_LYNX, "Liquivision Lynx", nullptr),           // liquivision_lynx_device_open
    plain(QV_FAMILY_SPORASUB_SP2, "Sporasub SP2", nullptr),                   // sporasub_sp2_device_open
    plain(QV_FAMILY_DEEPSIX_EXCURSION, "Deep Six Excursion", nullptr),        // deepsix_excursion_device_open
    plain(QV_FAMILY_SEAC_SCREEN, "Seac Screen", nullptr),                     // seac_screen_device_open
    plain(QV_FAMILY_DEEPBLU_COSMIQ, "Deepblu Cosmiq", nullptr),               // deepblu_cosmiq_device_open
    plain(QV_FAMILY_OCEANS_S1, "Oceans S1", nullptr),                         // oceans_s1_device_open
    plain(QV_FAMILY_DIVESOFT_FREEDOM, "Divesoft Freedom", nullptr),           // divesoft_freedom_device_open
    plain(QV_FAMILY_HALCYON_SYMBIOS, "Halcyon Symbios", nullptr),             // halcyon_symbios_device_open
}};

// Every row uses the operation its kind of argument calls for, and the rows
// stand in strictly ascending family order.
constexpr bool consistent(const std::array<qv_device_backend_t, 44> &table)
{
    for (size_t i = 0; i < table.size(); i++) {
        const qv_device_backend_t &row = table[i];
        if (row.family == QV_FAMILY_NULL || row.name == nullptr)
            return false;
        if (row.extra == qv_device_extra_t::none ? row.open_extra != nullptr : row.open != nullptr)
            return false;
        if (row.extra != qv_device_extra_t::constant && row.constant != 0)
            return false;
        if (i > 0 && table[i - 1].family >= row.family)
            return false;
    }
    return true;
}
static_assert(consistent(backends), "the device dispatch table is malformed");

// Stands in for a missing dive callback, so that backends may always call it.
int discard_dive(const unsigned char *, unsigned int, const unsigned char *, unsigned int, void *)
{
    return 1;
}

} // namespace

std::span<const qv_device_backend_t> qv_device_backends()
{
    return backends;
}

const qv_device_backend_t *qv_device_backend_find(qv_family_t family)
{
    auto row = std::lower_bound(backends.begin(), backends.end(), family,
                                [](const qv_device_backend_t &b, qv_family_t f) { return b.family < f; });
    if (row == backends.end() || row->family != family)
        return nullptr;
    return &*row;
}

qv_status_t qv_device_backend_open(const qv_device_backend_t *backend, qv_device_t **out,
                                   qv_context_t *context, qv_iostream_t *iostream, unsigned int model)
{
    assert(backend != nullptr && out != nullptr);

    bool landed = backend->extra == qv_device_extra_t::none ? backend->open != nullptr
                                                            : backend->open_extra != nullptr;
    if (!landed) {
        QV_ERROR(context, "The %s family (0x%08" PRIX32 ") is not supported yet.", backend->name,
                 static_cast<uint32_t>(backend->family));
        *out = nullptr;
        return QV_STATUS_UNSUPPORTED;
    }

    qv_device_t *device = nullptr;
    qv_status_t status = QV_STATUS_UNSUPPORTED;
    switch (backend->extra) {
    case qv_device_extra_t::none:
        status = backend->open(&device, context, iostream);
        break;
    case qv_device_extra_t::model:
        status = backend->open_extra(&device, context, iostream, model);
        break;
    case qv_device_extra_t::constant:
        status = backend->open_extra(&device, context, iostream, backend->constant);
        break;
    }

    // A backend hands out its device on success only; whatever it left in
    // its out pointer on failure is not the caller's to release.
    *out = status == QV_STATUS_SUCCESS ? device : nullptr;
    return status;
}

qv_status_t qv_device_open_family(qv_device_t **out, qv_context_t *context, qv_family_t family,
                                  unsigned int model, qv_iostream_t *iostream)
{
    assert(out != nullptr);

    const qv_device_backend_t *backend = qv_device_backend_find(family);
    if (backend == nullptr) {
        QV_ERROR(context, "Unknown device family 0x%08" PRIX32 ".", static_cast<uint32_t>(family));
        *out = nullptr;
        return QV_STATUS_INVALIDARGS;
    }

    return qv_device_backend_open(backend, out, context, iostream, model);
}

void qv_device_deallocate(qv_device_t *device)
{
    delete device;
}

int qv_device_isinstance(qv_device_t *device, const qv_device_vtable_t *vtable)
{
    return device != nullptr && device->vtable == vtable;
}

void qv_device_event(qv_device_t *device, qv_event_type_t type, const void *data)
{
    switch (type) {
    case QV_EVENT_WAITING:
        assert(data == nullptr);
        break;
    case QV_EVENT_PROGRESS: {
        assert(data != nullptr);
        [[maybe_unused]] const auto *progress = static_cast<const qv_event_progress_t *>(data);
        assert(progress->maximum != 0);
        assert(progress->maximum >= progress->current);
        break;
    }
    case QV_EVENT_DEVINFO:
    case QV_EVENT_CLOCK:
        assert(data != nullptr);
        break;
    default:
        break;
    }

    if (device == nullptr)
        return;

    switch (type) {
    case QV_EVENT_DEVINFO:
        device->devinfo = *static_cast<const qv_event_devinfo_t *>(data);
        break;
    case QV_EVENT_CLOCK:
        device->clock = *static_cast<const qv_event_clock_t *>(data);
        break;
    default:
        break;
    }

    if (device->event_callback != nullptr && (device->event_mask & type) != 0)
        device->event_callback(device, type, data, device->event_userdata);
}

int qv_device_is_cancelled(qv_device_t *device)
{
    if (device == nullptr || device->cancel_callback == nullptr)
        return 0;
    return device->cancel_callback(device->cancel_userdata) != 0;
}

qv_status_t qv_device_dump_read(qv_device_t *device, unsigned int address, unsigned char *data,
                                size_t size, size_t blocksize)
{
    if (device == nullptr || device->vtable->read == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (blocksize == 0 || (data == nullptr && size != 0))
        return QV_STATUS_INVALIDARGS;
    // A progress event needs a positive maximum: an empty range has nothing
    // to read and nothing to report.
    if (size == 0)
        return QV_STATUS_SUCCESS;

    qv_event_progress_t progress = {0, static_cast<uint32_t>(size)};
    qv_device_event(device, QV_EVENT_PROGRESS, &progress);

    size_t nbytes = 0;
    while (nbytes < size) {
        size_t len = std::min(blocksize, size - nbytes);
        qv_status_t status = device->vtable->read(device, static_cast<unsigned int>(address + nbytes),
                                                  data + nbytes, len);
        if (status != QV_STATUS_SUCCESS)
            return status;

        nbytes += len;
        progress.current += static_cast<uint32_t>(len);
        qv_device_event(device, QV_EVENT_PROGRESS, &progress);
    }

    return QV_STATUS_SUCCESS;
}

extern "C" {

qv_status_t qv_device_open(qv_device_t **out, qv_context_t *context, const qv_descriptor_t *descriptor,
                           qv_iostream_t *iostream)
{
    if (out == nullptr)
        return QV_STATUS_INVALIDARGS;
    *out = nullptr;
    if (descriptor == nullptr)
        return QV_STATUS_INVALIDARGS;

    return qv_device_open_family(out, context, qv_descriptor_get_type(descriptor),
                                 qv_descriptor_get_model(descriptor), iostream);
}

qv_family_t qv_device_get_type(qv_device_t *device)
{
    if (device == nullptr)
        return QV_FAMILY_NULL;
    return device->vtable->family;
}

qv_status_t qv_device_set_cancel(qv_device_t *device, qv_cancel_callback_t callback, void *userdata)
{
    if (device == nullptr)
        return QV_STATUS_UNSUPPORTED;

    device->cancel_callback = callback;
    device->cancel_userdata = userdata;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_device_set_events(qv_device_t *device, unsigned int events, qv_event_callback_t callback,
                                 void *userdata)
{
    if (device == nullptr)
        return QV_STATUS_UNSUPPORTED;

    device->event_mask = events;
    device->event_callback = callback;
    device->event_userdata = userdata;
    return QV_STATUS_SUCCESS;
}

qv_status_t qv_device_set_fingerprint(qv_device_t *device, const unsigned char *data, unsigned int size)
{
    if (device == nullptr || device->vtable->set_fingerprint == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (data == nullptr && size != 0)
        return QV_STATUS_INVALIDARGS;

    QV_HEXDUMP(device->context, QV_LOGLEVEL_INFO, "Fingerprint", data, size);

    return device->vtable->set_fingerprint(device, data, size);
}

qv_status_t qv_device_read(qv_device_t *device, unsigned int address, unsigned char *data, size_t size)
{
    if (device == nullptr || device->vtable->read == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (data == nullptr && size != 0)
        return QV_STATUS_INVALIDARGS;

    return device->vtable->read(device, address, data, size);
}

qv_status_t qv_device_write(qv_device_t *device, unsigned int address, const unsigned char *data, size_t size)
{
    if (device == nullptr || device->vtable->write == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (data == nullptr && size != 0)
        return QV_STATUS_INVALIDARGS;

    return device->vtable->write(device, address, data, size);
}

qv_status_t qv_device_dump(qv_device_t *device, qv_buffer_t *buffer)
{
    if (device == nullptr || device->vtable->dump == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (buffer == nullptr)
        return QV_STATUS_INVALIDARGS;

    qv_buffer_clear(buffer);

    return device->vtable->dump(device, buffer);
}

qv_status_t qv_device_foreach(qv_device_t *device, qv_dive_callback_t callback, void *userdata)
{
    if (device == nullptr || device->vtable->foreach == nullptr)
        return QV_STATUS_UNSUPPORTED;

    if (callback == nullptr)
        callback = discard_dive;

    return device->vtable->foreach(device, callback, userdata);
}

qv_status_t qv_device_timesync(qv_device_t *device, const qv_datetime_t *datetime)
{
    if (device == nullptr || device->vtable->timesync == nullptr)
        return QV_STATUS_UNSUPPORTED;
    if (datetime == nullptr)
        return QV_STATUS_INVALIDARGS;

    return device->vtable->timesync(device, datetime);
}

qv_status_t qv_device_close(qv_device_t *device)
{
    if (device == nullptr)
        return QV_STATUS_SUCCESS;

    // Nothing may cancel the closing exchange.
    device->cancel_callback = nullptr;
    device->cancel_userdata = nullptr;

    qv_status_t status = QV_STATUS_SUCCESS;
    if (device->vtable->close != nullptr)
        status = device->vtable->close(device);

    delete device;
    return status;
}

} // extern "C"
