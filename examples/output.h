// qvtool: output writers for the dives of the download and parse commands.
//
// A writer is a record that begins with the qvtool_output_t base and is
// driven through its table of operations: write once per dive, free at the
// end (which also finishes the writer's file). Two writers exist:
//   - the XML writer puts every dive into one text file, optionally in
//     imperial units;
//   - the raw writer stores each dive's bytes in a file of its own, named
//     from a template (%f fingerprint, %n number, %t start time, %% percent).
#ifndef QVTOOL_OUTPUT_H
#define QVTOOL_OUTPUT_H

#include <libquivelmarine/common.h>
#include <libquivelmarine/parser.h>

#include <cassert>
#include <new>
#include <type_traits>

struct qvtool_output_t;

// The operations of a writer, in this order. write and free may be absent.
struct qvtool_output_vtable_t {
    size_t size; // sizeof the writer's record
    // Writes one dive: the parser made for it, its raw bytes and its
    // fingerprint (null when there is none).
    qv_status_t (*write)(qvtool_output_t *output, qv_parser_t *parser, const unsigned char *data,
                         unsigned int size, const unsigned char *fingerprint, unsigned int fsize);
    // Finishes the writer's output and releases its resources; the record
    // itself is released by qvtool_output_free afterwards.
    qv_status_t (*free)(qvtool_output_t *output);
};

// The base of every writer.
struct qvtool_output_t {
    const qvtool_output_vtable_t *vtable = nullptr;
    unsigned int number = 0; // dives handed to qvtool_output_write so far

    // Writer records may hold RAII members, destroyed through this
    // destructor when the writer is freed.
    virtual ~qvtool_output_t() = default;
};

// Units of the XML writer.
typedef enum qvtool_units_t {
    QVTOOL_UNITS_METRIC = 0,
    QVTOOL_UNITS_IMPERIAL = 1,
} qvtool_units_t;

// Creates a writer record of type T (derived from qvtool_output_t, default
// constructible) bound to the vtable, with number 0. Null when memory runs
// out.
template <typename T>
T *qvtool_output_allocate(const qvtool_output_vtable_t *vtable)
{
    static_assert(std::is_base_of_v<qvtool_output_t, T>);
    assert(vtable != nullptr);
    assert(vtable->size >= sizeof(qvtool_output_t));
    assert(vtable->size == sizeof(T));

    T *output = new (std::nothrow) T();
    if (output == nullptr)
        return nullptr;

    output->vtable = vtable;
    output->number = 0;
    return output;
}

// Releases a writer record without calling its free operation (for a
// creation that fails half-way). Null is accepted.
void qvtool_output_deallocate(qvtool_output_t *output);

// Hands one dive to the writer: counts it (number + 1) and returns the
// write operation's status. QV_STATUS_SUCCESS without effect for a null
// writer or one without a write operation.
qv_status_t qvtool_output_write(qvtool_output_t *output, qv_parser_t *parser,
                                const unsigned char *data, unsigned int size,
                                const unsigned char *fingerprint, unsigned int fsize);

// Finishes the writer's output, releases the writer and returns the free
// operation's status. QV_STATUS_SUCCESS for a null writer.
qv_status_t qvtool_output_free(qvtool_output_t *output);

// The XML writer on the file filename (created or truncated), in the given
// units. Writes the opening "<device>" element. Null when filename is null,
// the file cannot be created or memory runs out.
qvtool_output_t *qvtool_xml_output_new(const char *filename, qvtool_units_t units);

// The raw writer with the file-name template (copied). Null when the
// template is null or memory runs out.
qvtool_output_t *qvtool_raw_output_new(const char *template_);

#endif
