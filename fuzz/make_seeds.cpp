// Writes the seed corpus of the parser fuzz target: every dive of the
// simulators' built-in logbooks, encoded in its device's format and
// prefixed with its family index and model (parser_harness.h).
//
// Usage: make_seeds DIRECTORY
#include "parser_harness.h"

#include "suunto_vyper_dives.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Index of family in the harness table.
uint32_t family_index(qv_family_t family)
{
    for (size_t i = 0; i < qv_fuzz_parser_families.size(); i++) {
        if (qv_fuzz_parser_families[i] == family)
            return static_cast<uint32_t>(i);
    }
    std::fprintf(stderr, "family 0x%08X is not in the fuzz table\n", static_cast<unsigned int>(family));
    std::exit(1);
}

void put_le32(std::vector<uint8_t> &out, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool write_seed(const std::string &path, qv_family_t family, uint32_t model, const std::vector<uint8_t> &record)
{
    std::vector<uint8_t> input;
    put_le32(input, family_index(family));
    put_le32(input, model);
    input.insert(input.end(), record.begin(), record.end());

    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    bool ok = std::fwrite(input.data(), 1, input.size(), file) == input.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "%s: write failed\n", path.c_str());
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];

    // Suunto Vyper: the Vyper model (0x0A), every dive of the logbook.
    const auto dives = qvsim::vyper::builtin_logbook();
    for (size_t i = 0; i < dives.size(); i++) {
        char name[64];
        std::snprintf(name, sizeof(name), "/suunto_vyper_%zu.bin", i + 1);
        if (!write_seed(directory + name, QV_FAMILY_SUUNTO_VYPER, 0x0A, qvsim::vyper::encode(dives[i])))
            return 1;
    }
    return 0;
}
