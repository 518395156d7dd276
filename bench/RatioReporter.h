// A console reporter that, after the usual table, prints for every benchmark named ".../ours" the
// ratio of its time to the benchmark of the same name ending in ".../baseline" measured in the
// same run (ours / baseline: below 1 is faster than the baseline).
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

namespace zarn::bench {

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override;
    void Finalize() override;

private:
    std::map<std::string, double> m_ours;     // case name -> nanoseconds per iteration
    std::map<std::string, double> m_baseline; // case name -> nanoseconds per iteration
};

// Runs the registered benchmarks with the ratio reporter; for main().
int RunWithRatios(int argc, char** argv);

} // namespace zarn::bench
