// Expanding a list template over many records: the list file action writes
// every changed file of a large directory through one such call.
#include <benchmark/benchmark.h>

#include <string>

#include "actions/macro_expander.h"

namespace {

using quorvel::DateTime;
using quorvel::FileData;
using quorvel::FileKind;
using quorvel::FileList;

FileList MakeRecords(int count) {
    FileList files;
    files.reserve(static_cast<std::size_t>(count));
    const DateTime base = *DateTime::FromParts(2024, 3, 1, 8, 0, 0);
    for (int i = 0; i < count; ++i) {
        files.emplace_back("/srv/data/projects/dir" + std::to_string(i % 50) + "/report-" +
                               std::to_string(i) + ".csv",
                           DateTime(base.Days() + i / 1440.0), 1000LL * i + 17,
                           static_cast<FileKind>(1 + i % 3));
    }
    return files;
}

void ExpandTemplate(benchmark::State& state, const char* text) {
    const FileList files = MakeRecords(10000);
    const DateTime run = DateTime::Now();
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto result = quorvel::ExpandList(files, run, text, 0, 0);
        bytes += result.text.size();
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(files.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// One line per file: name, size, time.
void BM_ExpandListTypical(benchmark::State& state) {
    ExpandTemplate(state, "%(%File %Size %Time=\"dd.mm.yyyy hh:nn:ss\"%Chr=\"10\"%)");
}
BENCHMARK(BM_ExpandListTypical)->Unit(benchmark::kMillisecond);

// The same with percent signs closing each macro, as many users write them.
void BM_ExpandListClosedMacros(benchmark::State& state) {
    ExpandTemplate(state, "%(%File% %Size% %Time=\"dd.mm.yyyy hh:nn:ss\"%%Chr=\"10\"%%)");
}
BENCHMARK(BM_ExpandListClosedMacros)->Unit(benchmark::kMillisecond);

// Heavier: file format, grouped size, kind texts and nested parameters.
void BM_ExpandListRich(benchmark::State& state) {
    ExpandTemplate(state,
                   "%(\"%File=\"P/N.E\"\";%Size=\"K,\";%Added=\"new\"%Changed=\"changed\"%Deleted="
                   "\"deleted\";%Substring=\"1,6,%Name\";%Time=\"yyyy-mm-dd\"%Chr=\"10\"%)");
}
BENCHMARK(BM_ExpandListRich)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
