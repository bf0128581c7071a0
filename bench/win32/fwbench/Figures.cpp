// fwbench's statistics and "key=value" output; see Figures.h.
#include "bench/win32/fwbench/Figures.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace fwbench {

double Quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double position = q * static_cast<double>(values.size() - 1);
  const auto below = static_cast<std::size_t>(position);
  const std::size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (position - static_cast<double>(below)) * (values[above] - values[below]);
}

double Median(const std::vector<double>& values) { return Quantile(values, 0.5); }

std::string Join(const std::vector<double>& values, const char* format) {
  std::string joined;
  char buffer[32];
  for (double value : values) {
    if (!joined.empty()) joined += ',';
    std::snprintf(buffer, sizeof buffer, format, value);
    joined += buffer;
  }
  return joined;
}

void Print(const std::string& key, double value) {
  std::printf("%s=%.2f\n", key.c_str(), value);
  std::fflush(stdout);
}
void PrintRatio(const std::string& key, double value) {
  std::printf("%s=%.3f\n", key.c_str(), value);
  std::fflush(stdout);
}
void PrintRatios(const std::string& key, const std::vector<double>& ratios) {
  PrintRatio(key + ".median", Median(ratios));
  PrintRatio(key + ".q1", Quantile(ratios, 0.25));
  PrintRatio(key + ".q3", Quantile(ratios, 0.75));
}

void PrintCount(const std::string& key, long long value) {
  std::printf("%s=%lld\n", key.c_str(), value);
  std::fflush(stdout);
}
void Print(const std::string& key, const std::string& value) {
  std::printf("%s=%s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

}  // namespace fwbench
