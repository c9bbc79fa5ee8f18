// The parser base that every dive-record decoder builds on. A backend's
// parser record derives from qv_parser_t, adds its own state (typically the
// cached interpretation of the record's header) and describes its
// operations in a static qv_parser_vtable_t. The base keeps the parser's own
// copy of the dive record and does the argument checks.
#ifndef QV_PARSER_PRIVATE_H
#define QV_PARSER_PRIVATE_H

#include <libquivelmarine/context.h>
#include <libquivelmarine/datetime.h>
#include <libquivelmarine/parser.h>

#include "context-private.h"

#include <cassert>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <type_traits>

// The operations of a parser, in this order. Every slot after family may be
// nullptr: the public wrapper then answers QV_STATUS_UNSUPPORTED. The
// wrappers have already checked the parser and the pointers they document.
struct qv_parser_vtable_t {
    size_t size;        // sizeof the backend's parser record
    qv_family_t family; // the family the backend decodes
    qv_status_t (*set_clock)(qv_parser_t *parser, unsigned int devtime, qv_ticks_t systime);
    qv_status_t (*set_atmospheric)(qv_parser_t *parser, double atmospheric); // pascal
    qv_status_t (*set_density)(qv_parser_t *parser, double density);         // kg/m^3
    // datetime is never nullptr here.
    qv_status_t (*get_datetime)(qv_parser_t *parser, qv_datetime_t *datetime);
    // value is never nullptr here; the backend checks the index.
    qv_status_t (*get_field)(qv_parser_t *parser, qv_field_type_t type, unsigned int index, void *value);
    // callback is never nullptr here.
    qv_status_t (*samples_foreach)(qv_parser_t *parser, qv_sample_callback_t callback, void *userdata);
    // Releases the backend's own resources; the record and the copy of the
    // dive are freed by qv_parser_destroy afterwards.
    qv_status_t (*destroy)(qv_parser_t *parser);
};

struct qv_parser_t {
    const qv_parser_vtable_t *vtable = nullptr;
    qv_context_t *context = nullptr;
    // The parser's own copy of the dive record: nullptr when size is 0.
    const unsigned char *data = nullptr;
    size_t size = 0;

    // Backend records may hold RAII members: they are destroyed through this
    // destructor when the parser is destroyed or deallocated.
    virtual ~qv_parser_t() = default;

private:
    std::unique_ptr<unsigned char[]> storage; // owns what data points to

    template <typename T>
    friend T *qv_parser_allocate(qv_context_t *context, const qv_parser_vtable_t *vtable,
                                 const unsigned char *data, size_t size);
};

// Creates a backend's parser record of type T (derived from qv_parser_t,
// default constructible) bound to the vtable, with its own copy of size
// bytes of data (no copy and a nullptr data for size 0). Logs "Failed to
// allocate memory." and returns nullptr when memory runs out, for the record
// or for the copy (the record is then released).
template <typename T>
T *qv_parser_allocate(qv_context_t *context, const qv_parser_vtable_t *vtable, const unsigned char *data,
                      size_t size)
{
    static_assert(std::is_base_of_v<qv_parser_t, T>);
    assert(vtable != nullptr);
    assert(vtable->size >= sizeof(qv_parser_t));
    assert(vtable->size == sizeof(T));
    assert(data != nullptr || size == 0);

    T *parser = new (std::nothrow) T();
    if (parser == nullptr) {
        QV_ERROR(context, "Failed to allocate memory.");
        return nullptr;
    }

    if (size != 0) {
        qv_parser_t *base = parser;
        base->storage.reset(new (std::nothrow) unsigned char[size]);
        if (base->storage == nullptr) {
            QV_ERROR(context, "Failed to allocate memory.");
            delete parser;
            return nullptr;
        }
        std::memcpy(base->storage.get(), data, size);
        base->data = base->storage.get();
        base->size = size;
    }

    parser->vtable = vtable;
    parser->context = context;
    return parser;
}

// Frees the parser and its copy of the dive without calling destroy (for a
// creation that fails half-way). nullptr is accepted.
void qv_parser_deallocate(qv_parser_t *parser);

// True when the parser is present and was created with the vtable.
int qv_parser_isinstance(qv_parser_t *parser, const qv_parser_vtable_t *vtable);

// What the shared sample-statistics callback gathers: the time of the last
// sample group in whole seconds and the largest depth.
struct qv_sample_statistics_t {
    unsigned int divetime = 0; // seconds
    double maxdepth = 0.0;     // metres
};

// Sample callback for a backend that derives missing summary fields from its
// own samples: userdata points to a qv_sample_statistics_t, zeroed before
// the sample loop. QV_SAMPLE_TIME sets divetime to the time in whole
// seconds; QV_SAMPLE_DEPTH raises maxdepth; every other type is ignored.
void qv_sample_statistics_cb(qv_sample_type_t type, const qv_sample_value_t *value, void *userdata);

// ---------------------------------------------------------------------------
// Family dispatch of qv_parser_new and qv_parser_new2.
//
// The backends' create operations take (out, context, data, size), some of
// them followed by one number: the model number, or a constant fixed by the
// row.

using qv_parser_create_t = qv_status_t (*)(qv_parser_t **out, qv_context_t *context,
                                           const unsigned char *data, size_t size);
using qv_parser_create_extra_t = qv_status_t (*)(qv_parser_t **out, qv_context_t *context,
                                                 const unsigned char *data, size_t size, unsigned int extra);

// What the number after the size is.
enum class qv_parser_extra_t {
    none,     // create takes (out, context, data, size)
    model,    // create_extra takes the model number
    constant, // create_extra takes the row's constant
};

// Any model (for qv_parser_backend_t::model).
inline constexpr unsigned int QV_PARSER_ANY_MODEL = 0xFFFFFFFFu;

// One row of the dispatch table. A family may have several rows: the first
// row of the family whose model is QV_PARSER_ANY_MODEL or equals the
// model asked for is used. A parser that is not part of the build yet has
// a nullptr operation: creating it answers QV_STATUS_UNSUPPORTED with an
// error line naming it.
struct qv_parser_backend_t {
    qv_family_t family;
    unsigned int model; // QV_PARSER_ANY_MODEL, or the one model this row serves
    const char *name;   // the dive format, as users know it, for messages
    qv_parser_extra_t extra;
    qv_parser_create_t create;             // for qv_parser_extra_t::none
    qv_parser_create_extra_t create_extra; // for the two others
    unsigned int constant;                 // for qv_parser_extra_t::constant
};

// The whole dispatch table, grouped by family in family order.
std::span<const qv_parser_backend_t> qv_parser_backends();

// The row for a family and model, or nullptr for a family the library does
// not know.
const qv_parser_backend_t *qv_parser_backend_find(qv_family_t family, unsigned int model);

// What qv_parser_new2 does after its argument checks: creates the parser
// for family and model. QV_STATUS_INVALIDARGS (logged) for a family the
// library does not know; otherwise as qv_parser_backend_create.
qv_status_t qv_parser_create_family(qv_parser_t **out, qv_context_t *context, qv_family_t family,
                                    unsigned int model, const unsigned char *data, size_t size);

// What qv_parser_new does with the row it found: creates the parser through
// the row with the device's context and the model of its last devinfo
// event, then sets the device's last clock pair when the parser takes one.
// A failure to set the clock other than QV_STATUS_UNSUPPORTED releases the
// parser and is returned. *out receives the parser or nullptr.
qv_status_t qv_parser_backend_new(const qv_parser_backend_t *backend, qv_parser_t **out, qv_device_t *device,
                                  const unsigned char *data, size_t size);

// Creates a parser through one dispatch row. *out receives the backend's
// parser or nullptr. QV_STATUS_UNSUPPORTED (logged) when the row has no
// backend yet; otherwise the backend's status.
qv_status_t qv_parser_backend_create(const qv_parser_backend_t *backend, qv_parser_t **out,
                                     qv_context_t *context, unsigned int model, const unsigned char *data,
                                     size_t size);

#endif
