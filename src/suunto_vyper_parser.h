// The dive-record decoder of the Suunto Vyper family (every model except the
// Spyder, whose dives are kept in the Eon format).
#ifndef QV_SUUNTO_VYPER_PARSER_H
#define QV_SUUNTO_VYPER_PARSER_H

#include <libquivelmarine/context.h>
#include <libquivelmarine/parser.h>

#include <cstddef>

// Creates a parser for one Vyper dive record (forward byte order, as the
// download delivers it); the record is copied. QV_STATUS_INVALIDARGS without
// out, QV_STATUS_NOMEMORY when the allocation fails. The record itself is
// checked on first use: date and time, fields and samples answer
// QV_STATUS_DATAFORMAT for a record they cannot decode.
qv_status_t suunto_vyper_parser_create(qv_parser_t **out, qv_context_t *context, const unsigned char *data,
                                       size_t size);

#endif
