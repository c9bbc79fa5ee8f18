// qvtool: the writer base shared by the XML and raw writers.
#include "output.h"

void qvtool_output_deallocate(qvtool_output_t *output)
{
    delete output;
}

qv_status_t qvtool_output_write(qvtool_output_t *output, qv_parser_t *parser,
                                const unsigned char *data, unsigned int size,
                                const unsigned char *fingerprint, unsigned int fsize)
{
    if (output == nullptr || output->vtable->write == nullptr)
        return QV_STATUS_SUCCESS;

    output->number++;
    return output->vtable->write(output, parser, data, size, fingerprint, fsize);
}

qv_status_t qvtool_output_free(qvtool_output_t *output)
{
    if (output == nullptr)
        return QV_STATUS_SUCCESS;

    qv_status_t status = QV_STATUS_SUCCESS;
    if (output->vtable->free != nullptr)
        status = output->vtable->free(output);
    delete output;
    return status;
}
