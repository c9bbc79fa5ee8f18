// Download cost: the CPU time the library spends per KiB of dive data when a
// Vyper-family computer's whole logbook is downloaded through the simulated
// device on an in-memory stream. The protocol's own waits happen on the
// stream's virtual clock, so what is measured is the host's work only
// (framing, checksums, buffering, tracing checks, event delivery).
#include <libquivelmarine/context.h>
#include <libquivelmarine/descriptor.h>
#include <libquivelmarine/device.h>
#include <libquivelmarine/iostream.h>

#include "sim/memstream.h"
#include "sim/suunto_vyper.h"
#include "sim/suunto_vyper_dives.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

struct Received {
    uint64_t dives = 0;
    uint64_t bytes = 0;
};

int count_dive(const unsigned char *, unsigned int size, const unsigned char *, unsigned int, void *userdata)
{
    auto *received = static_cast<Received *>(userdata);
    received->dives++;
    received->bytes += size;
    return 1;
}

// The logbook repeated until the profile ring is nearly full, so that one
// download moves several KiB of dive data.
std::vector<std::vector<uint8_t>> full_logbook()
{
    std::vector<std::vector<uint8_t>> dives;
    size_t total = 0;
    const auto logbook = qvsim::vyper::builtin_logbook();
    while (true) {
        for (const auto &dive : logbook) {
            auto record = qvsim::vyper::encode(dive);
            if (total + record.size() > 7000)
                return dives;
            total += record.size();
            dives.push_back(std::move(record));
        }
    }
}

// The model table's "Suunto Vyper" row.
const qv_descriptor_t *vyper_descriptor()
{
    qv_iterator_t *iterator = nullptr;
    qv_descriptor_t *descriptor = nullptr;
    const qv_descriptor_t *found = nullptr;
    qv_descriptor_iterator_new(&iterator);
    while (found == nullptr && qv_iterator_next(iterator, &descriptor) == QV_STATUS_SUCCESS) {
        if (qv_descriptor_get_type(descriptor) == QV_FAMILY_SUUNTO_VYPER && qv_descriptor_get_model(descriptor) == 0x0A)
            found = descriptor;
    }
    qv_iterator_free(iterator);
    return found;
}

void BM_VyperDownload(benchmark::State &state)
{
    qv_context_t *context = nullptr;
    qv_context_new(&context);
    qv_context_set_loglevel(context, QV_LOGLEVEL_WARNING);

    const qv_descriptor_t *descriptor = vyper_descriptor();
    const auto dives = full_logbook();
    const auto image = qvsim::SuuntoVyper::build_image(qvsim::SuuntoVyper::Identity{}, dives);

    uint64_t bytes = 0;
    for (auto _ : state) {
        qvsim::SuuntoVyper device(image);
        qvsim::Clock clock;
        qv_iostream_t *stream = nullptr;
        qv_device_t *vyper = nullptr;
        Received received;
        if (qvsim_memstream_open(&stream, context, device, clock) != QV_STATUS_SUCCESS ||
            qv_device_open(&vyper, context, descriptor, stream) != QV_STATUS_SUCCESS) {
            state.SkipWithError("the simulated device could not be opened");
            qv_iostream_close(stream);
            break;
        }
        qv_status_t status = qv_device_foreach(vyper, count_dive, &received);
        qv_device_close(vyper);
        qv_iostream_close(stream);
        if (status != QV_STATUS_SUCCESS || received.dives != dives.size()) {
            state.SkipWithError("the download failed");
            break;
        }
        bytes += received.bytes;
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    // CPU seconds per KiB of dive data.
    state.counters["cpu_per_KiB"] = benchmark::Counter(static_cast<double>(bytes) / 1024.0,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    qv_context_free(context);
}

} // namespace

BENCHMARK(BM_VyperDownload)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
