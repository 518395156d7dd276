#include "bench/RatioReporter.h"

#include <cstdio>

namespace zarn::bench {

void TRatioReporter::ReportRuns(const std::vector<Run>& reports) {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
        if (run.run_type != Run::RT_Iteration || run.error_occurred)
            continue;
        const std::string name = run.benchmark_name();
        const double nanoseconds = run.GetAdjustedRealTime() *
                                   benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                                   benchmark::GetTimeUnitMultiplier(run.time_unit);
        for (const auto& [suffix, target] :
             {std::pair{std::string("/ours"), &m_ours}, std::pair{std::string("/baseline"), &m_baseline}}) {
            const std::size_t at = name.find(suffix);
            if (at != std::string::npos)
                (*target)[name.substr(0, at) + name.substr(at + suffix.size())] = nanoseconds;
        }
    }
}

void TRatioReporter::Finalize() {
    ConsoleReporter::Finalize();
    std::printf("\n%-48s %14s %14s %10s\n", "case", "ours (ns)", "baseline (ns)", "ours/base");
    for (const auto& [name, ours] : m_ours) {
        const auto baseline = m_baseline.find(name);
        if (baseline == m_baseline.end())
            continue;
        std::printf("%-48s %14.0f %14.0f %10.2f\n", name.c_str(), ours, baseline->second,
                    ours / baseline->second);
    }
}

int RunWithRatios(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace zarn::bench
