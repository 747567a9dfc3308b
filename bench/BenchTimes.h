#pragma once
// Console output as usual, and each benchmark's real time per iteration kept
// for the ratios the programs print at the end: the median where the run was
// repeated, else the single run's time.
#include <benchmark/benchmark.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace benchsupport {

class TimesReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            const double ns = run.GetAdjustedRealTime() * NsPerUnit(run.time_unit);
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") mTimes[name] = ns;
                mAggregated.insert(name);
            } else if (run.iterations > 0 && !mAggregated.count(name)) {
                mTimes[name] = ns;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Nanoseconds per iteration of the benchmark function, -1 when it did not run.
    double Ns(const std::string& functionName) const {
        const auto it = mTimes.find(functionName);
        return it == mTimes.end() ? -1.0 : it->second;
    }

private:
    static double NsPerUnit(benchmark::TimeUnit unit) {
        switch (unit) {
        case benchmark::kMicrosecond:
            return 1e3;
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kSecond:
            return 1e9;
        default:
            return 1.0;
        }
    }

    std::map<std::string, double> mTimes;
    std::set<std::string> mAggregated;
};

} // namespace benchsupport
