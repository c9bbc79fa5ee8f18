// Parse throughput: how many dives (and bytes of dive records) per second a
// parser decodes completely: the date, every summary field and every
// sample, as the download command does for each dive.
#include <libquivelmarine/context.h>
#include <libquivelmarine/parser.h>

#include "parser-private.h"
#include "suunto_vyper_dives.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

struct Totals {
    uint64_t samples = 0;
    double depth = 0.0;
};

void count_sample(qv_sample_type_t type, const qv_sample_value_t *value, void *userdata)
{
    auto *totals = static_cast<Totals *>(userdata);
    totals->samples++;
    if (type == QV_SAMPLE_DEPTH)
        totals->depth += value->depth;
}

// Decodes one record the way an application does; aborts the benchmark on
// a failure, which would make the figures meaningless.
void parse_dive(benchmark::State &state, qv_context_t *context, qv_family_t family, unsigned int model,
                const std::vector<uint8_t> &record)
{
    qv_parser_t *parser = nullptr;
    if (qv_parser_create_family(&parser, context, family, model, record.data(), record.size()) !=
        QV_STATUS_SUCCESS) {
        state.SkipWithError("the parser refused a dive");
        return;
    }

    qv_datetime_t datetime;
    qv_parser_get_datetime(parser, &datetime);
    benchmark::DoNotOptimize(datetime);

    unsigned int divetime = 0, ngasmixes = 0, ntanks = 0;
    double maxdepth = 0.0, surface = 0.0, minimum = 0.0;
    qv_divemode_t divemode = 0;
    qv_decomodel_t decomodel;
    qv_parser_get_field(parser, QV_FIELD_DIVETIME, 0, &divetime);
    qv_parser_get_field(parser, QV_FIELD_MAXDEPTH, 0, &maxdepth);
    qv_parser_get_field(parser, QV_FIELD_TEMPERATURE_SURFACE, 0, &surface);
    qv_parser_get_field(parser, QV_FIELD_TEMPERATURE_MINIMUM, 0, &minimum);
    qv_parser_get_field(parser, QV_FIELD_DIVEMODE, 0, &divemode);
    qv_parser_get_field(parser, QV_FIELD_DECOMODEL, 0, &decomodel);
    qv_parser_get_field(parser, QV_FIELD_GASMIX_COUNT, 0, &ngasmixes);
    for (unsigned int i = 0; i < ngasmixes; i++) {
        qv_gasmix_t gasmix;
        qv_parser_get_field(parser, QV_FIELD_GASMIX, i, &gasmix);
        benchmark::DoNotOptimize(gasmix);
    }
    qv_parser_get_field(parser, QV_FIELD_TANK_COUNT, 0, &ntanks);
    for (unsigned int i = 0; i < ntanks; i++) {
        qv_tank_t tank;
        qv_parser_get_field(parser, QV_FIELD_TANK, i, &tank);
        benchmark::DoNotOptimize(tank);
    }
    benchmark::DoNotOptimize(divetime + maxdepth + surface + minimum + divemode + decomodel.conservatism);

    Totals totals;
    if (qv_parser_samples_foreach(parser, count_sample, &totals) != QV_STATUS_SUCCESS)
        state.SkipWithError("the samples of a dive failed");
    benchmark::DoNotOptimize(totals);

    qv_parser_destroy(parser);
}

qv_context_t *quiet_context()
{
    qv_context_t *context = nullptr;
    qv_context_new(&context);
    qv_context_set_loglevel(context, QV_LOGLEVEL_NONE);
    return context;
}

// Runs over the records in turn, one dive per iteration.
void run(benchmark::State &state, qv_family_t family, unsigned int model,
         const std::vector<std::vector<uint8_t>> &records)
{
    qv_context_t *context = quiet_context();
    size_t next = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> &record = records[next];
        parse_dive(state, context, family, model, record);
        bytes += static_cast<int64_t>(record.size());
        next = (next + 1) % records.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
    state.counters["record_bytes"] =
        benchmark::Counter(static_cast<double>(bytes) / static_cast<double>(state.iterations()));
    qv_context_free(context);
}

// The Vyper simulator's built-in logbook.
void BM_ParseVyperLogbook(benchmark::State &state)
{
    std::vector<std::vector<uint8_t>> records;
    for (const qvsim::vyper::Dive &dive : qvsim::vyper::builtin_logbook())
        records.push_back(qvsim::vyper::encode(dive));
    run(state, QV_FAMILY_SUUNTO_VYPER, 0x0A, records);
}
BENCHMARK(BM_ParseVyperLogbook);

// The longest dive a Vyper holds: a profile that fills its whole 8 KiB ring
// (about 8000 sample periods), to show the cost per profile byte.
void BM_ParseVyperFullMemoryDive(benchmark::State &state)
{
    qvsim::vyper::Dive dive = qvsim::vyper::builtin_logbook().at(1);
    dive.profile.clear();
    static constexpr int pattern[] = {10, 10, 10, 0, 1, -1, 0, 2, -2, 0, -10, -10, -10};
    while (qvsim::vyper::encode(dive).size() + sizeof(pattern) / sizeof(pattern[0]) <= 8000) {
        for (int feet : pattern)
            dive.profile.push_back(qvsim::vyper::depth(feet));
        dive.profile.push_back(qvsim::vyper::event(qvsim::vyper::EVENT_BOOKMARK));
    }
    run(state, QV_FAMILY_SUUNTO_VYPER, 0x0A, {qvsim::vyper::encode(dive)});
}
BENCHMARK(BM_ParseVyperFullMemoryDive);

} // namespace

BENCHMARK_MAIN();
