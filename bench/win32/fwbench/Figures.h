// fwbench's statistics and its output: quantiles of a series of runs, and the "key=value" lines,
// one per figure, that scripts/bench.sh collects and bench/report.py judges.
#pragma once

#include <string>
#include <vector>

namespace fwbench {

// The q-quantile (0..1) by linear interpolation between the closest ranks; 0 for no values.
double Quantile(std::vector<double> values, double q);
double Median(const std::vector<double>& values);
// The values comma-separated, each formatted with `format`.
std::string Join(const std::vector<double>& values, const char* format = "%.1f");

// Each prints one line and flushes it, so that a run cut short still leaves what it measured.
void Print(const std::string& key, double value);  // two decimals
void Print(const std::string& key, const std::string& value);
void PrintRatio(const std::string& key, double value);  // three decimals
// KEY.median, KEY.q1 and KEY.q3 of pairwise ratios: how they centre and how far they strayed.
void PrintRatios(const std::string& key, const std::vector<double>& ratios);
void PrintCount(const std::string& key, long long value);

}  // namespace fwbench
