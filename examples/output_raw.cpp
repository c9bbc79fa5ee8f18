// qvtool: the raw writer. Each dive's bytes go into a file of their own,
// named from a template with the placeholders
//   %f  the fingerprint, two upper-case hexadecimal digits per byte
//   %n  the dive's number, four digits ("0001" for the first)
//   %t  the dive's start, "YYYYMMDDThhmmss" (time zone ignored)
//   %%  a percent sign
#include "common.h"
#include "output.h"

#include <cstdio>
#include <string>

namespace {

struct raw_output_t : qvtool_output_t {
    std::string template_;
};

qv_status_t qvtool_raw_output_write(qvtool_output_t *output, qv_parser_t *parser,
                                    const unsigned char *data, unsigned int size,
                                    const unsigned char *fingerprint, unsigned int fsize);

const qvtool_output_vtable_t raw_vtable = {
    sizeof(raw_output_t),
    qvtool_raw_output_write,
    nullptr,
};

// The longest file name, terminator included.
constexpr size_t FILENAME_MAX_SIZE = 1024;

// Appends text to the name being built; false when the name would no
// longer fit.
bool append(char *buffer, size_t &length, const char *text, size_t n)
{
    if (n >= FILENAME_MAX_SIZE - length)
        return false;
    for (size_t i = 0; i < n; ++i)
        buffer[length++] = text[i];
    buffer[length] = '\0';
    return true;
}

// Builds the file name of one dive into buffer (FILENAME_MAX_SIZE bytes).
// False for a bad placeholder, a start time that cannot be read or a name
// that does not fit.
bool make_filename(char *buffer, const std::string &template_, qv_parser_t *parser,
                   unsigned int number, const unsigned char *fingerprint, unsigned int fsize)
{
    size_t length = 0;
    buffer[0] = '\0';

    for (size_t i = 0; i < template_.size(); ++i) {
        char c = template_[i];
        if (c != '%') {
            if (!append(buffer, length, &c, 1))
                return false;
            continue;
        }

        if (++i == template_.size())
            return false; // a percent sign at the end

        char text[32];
        switch (template_[i]) {
        case '%':
            if (!append(buffer, length, "%", 1))
                return false;
            break;
        case 'f':
            for (unsigned int j = 0; fingerprint != nullptr && j < fsize; ++j) {
                std::snprintf(text, sizeof(text), "%02X", fingerprint[j]);
                if (!append(buffer, length, text, 2))
                    return false;
            }
            break;
        case 'n': {
            int n = std::snprintf(text, sizeof(text), "%04u", number);
            if (!append(buffer, length, text, static_cast<size_t>(n)))
                return false;
            break;
        }
        case 't': {
            qv_datetime_t dt = {};
            qv_status_t status = qv_parser_get_datetime(parser, &dt);
            if (status != QV_STATUS_SUCCESS && status != QV_STATUS_UNSUPPORTED)
                return false;
            int n = std::snprintf(text, sizeof(text), "%04i%02i%02iT%02i%02i%02i",
                                  static_cast<int>(dt.year), static_cast<int>(dt.month),
                                  static_cast<int>(dt.day), static_cast<int>(dt.hour),
                                  static_cast<int>(dt.minute), static_cast<int>(dt.second));
            if (n < 0 || static_cast<size_t>(n) >= sizeof(text) ||
                !append(buffer, length, text, static_cast<size_t>(n)))
                return false;
            break;
        }
        default:
            return false; // an unknown placeholder
        }
    }
    return true;
}

qv_status_t qvtool_raw_output_write(qvtool_output_t *abstract, qv_parser_t *parser,
                                    const unsigned char *data, unsigned int size,
                                    const unsigned char *fingerprint, unsigned int fsize)
{
    auto *output = static_cast<raw_output_t *>(abstract);

    char name[FILENAME_MAX_SIZE];
    if (!make_filename(name, output->template_, parser, output->number, fingerprint, fsize)) {
        QVTOOL_ERROR("Failed to generate filename from template.");
        return QV_STATUS_SUCCESS;
    }

    FILE *file = std::fopen(name, "wb");
    if (file == nullptr) {
        QVTOOL_ERROR("Failed to open the output file.");
        return QV_STATUS_SUCCESS;
    }
    bool written = data == nullptr || size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0)
        written = false;
    if (!written)
        QVTOOL_ERROR("Failed to write the output file.");

    return QV_STATUS_SUCCESS;
}

} // namespace

qvtool_output_t *qvtool_raw_output_new(const char *template_)
{
    if (template_ == nullptr)
        return nullptr;

    raw_output_t *output = qvtool_output_allocate<raw_output_t>(&raw_vtable);
    if (output == nullptr)
        return nullptr;

    try {
        output->template_ = template_;
    } catch (...) {
        qvtool_output_deallocate(output);
        return nullptr;
    }
    return output;
}
