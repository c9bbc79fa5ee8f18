// libFuzzer target: the dive-record parsers of every family in
// qv_fuzz_parser_families (parser_harness.h describes the input layout).
#include "parser_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return qv_fuzz_parser_run(data, size);
}
