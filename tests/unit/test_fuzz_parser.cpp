// Replays the parser fuzz target's seed corpus and its saved crash inputs
// through the same harness, compiled here without libFuzzer, so that every
// input that once broke a parser stays covered by the ordinary test run.
#include "../../fuzz/parser_harness.h"

#include "suunto_vyper_dives.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> files_in(const fs::path &directory)
{
    std::vector<fs::path> files;
    if (!fs::is_directory(directory))
        return files;
    for (const fs::directory_entry &entry : fs::directory_iterator(directory)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path());
    }
    return files;
}

std::vector<uint8_t> read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const fs::path fuzz_dir = fs::path(QV_TEST_SOURCE_DIR) / "fuzz";

// A seed is a whole, valid dive of a family the harness knows: the fuzzer
// starts from the paths a real dive takes.
TEST(FuzzParserCorpus, SeedsAreValidDives)
{
    std::vector<fs::path> seeds = files_in(fuzz_dir / "corpus" / "parser");
    ASSERT_FALSE(seeds.empty());

    qv_context_t *context = nullptr;
    ASSERT_EQ(qv_context_new(&context), QV_STATUS_SUCCESS);
    for (const fs::path &seed : seeds) {
        SCOPED_TRACE(seed.string());
        std::vector<uint8_t> input = read_file(seed);
        ASSERT_GT(input.size(), QV_FUZZ_PARSER_PREFIX);
        uint32_t index = qv_fuzz::read_le32(input.data());
        ASSERT_LT(index, qv_fuzz_parser_families.size());

        qv_parser_t *parser = nullptr;
        ASSERT_EQ(qv_parser_create_family(&parser, context, qv_fuzz_parser_families[index],
                                          qv_fuzz::read_le32(input.data() + 4), input.data() + QV_FUZZ_PARSER_PREFIX,
                                          input.size() - QV_FUZZ_PARSER_PREFIX),
                  QV_STATUS_SUCCESS);
        qv_fuzz::Samples samples;
        EXPECT_EQ(qv_parser_samples_foreach(parser, qv_fuzz::on_sample, &samples), QV_STATUS_SUCCESS);
        EXPECT_GT(samples.count, 10u);
        qv_parser_destroy(parser);

        EXPECT_EQ(qv_fuzz_parser_run(input.data(), input.size()), 0);
    }
    qv_context_free(context);
}

// Every saved input runs to its end (a crash would end the test program).
TEST(FuzzParserCorpus, RegressionsRunClean)
{
    std::vector<fs::path> inputs = files_in(fuzz_dir / "regressions" / "parser");
    for (const fs::path &input : inputs) {
        SCOPED_TRACE(input.string());
        std::vector<uint8_t> bytes = read_file(input);
        EXPECT_EQ(qv_fuzz_parser_run(bytes.data(), bytes.size()), 0);
    }
}

// The harness on the simulator's dives, cut at every length: each prefix of
// a dive is a record the parsers must refuse or decode without a stray read.
TEST(FuzzParserCorpus, EveryPrefixOfTheSimulatorsDives)
{
    for (const qvsim::vyper::Dive &dive : qvsim::vyper::builtin_logbook()) {
        std::vector<uint8_t> record = qvsim::vyper::encode(dive);
        std::vector<uint8_t> input = {0, 0, 0, 0, 0x0A, 0, 0, 0};
        input.insert(input.end(), record.begin(), record.end());
        for (size_t size = 0; size <= input.size(); size++)
            EXPECT_EQ(qv_fuzz_parser_run(input.data(), size), 0);
    }
}

} // namespace
