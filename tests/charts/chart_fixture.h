// Test support for the chart modules: a plot with room for a series, the
// runtime and registry started once, and the reference series with the
// vectors two independent indicator libraries computed over it
// (tests/charts/ta_reference.txt, written by scripts/ta_reference/gen.js).
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "charts/alloc.h"
#include "charts/ta.h"
#include "testlog.h"

// The runtime, the pools and the registry, before the first test.
class ChartRuntime : public ::testing::Environment {
 public:
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    ASSERT_EQ(alloc_init(), 0);
    ASSERT_EQ(ta_init(), 0);
  }
};

// A plot that frees its arrays and instances when it goes.
struct TestPlot {
  chart_plot p{};
  TestPlot() = default;
  TestPlot(const TestPlot&) = delete;
  ~TestPlot() {
    alloc_clear_overlays(&p);
    alloc_clear_indicators(&p);
    alloc_free_values(&p);
  }
  chart_plot* operator->() { return &p; }
  chart_plot* get() { return &p; }

  // Samples from bars; change[0] = 0, then close minus the previous close.
  void set_bars(const std::vector<double>& open, const std::vector<double>& high, const std::vector<double>& low,
                const std::vector<double>& close, const std::vector<double>& volume) {
    int32_t n = (int32_t)close.size();
    EXPECT_EQ(alloc_chart_values(&p, n), 0);
    p.count = n;
    for (int32_t i = 0; i < n; i++) {
      p.times[i] = (ss_time)(i + 1);
      p.open[i] = open[i];
      p.high[i] = high[i];
      p.low[i] = low[i];
      p.close[i] = close[i];
      p.volume[i] = volume[i];
      p.change[i] = i ? close[i] - close[i - 1] : 0;
    }
    p.first_visible = 0;
    p.last_visible = n - 1;
  }
  // A close-only series: open = high = low = close, volume 0 unless given.
  void set_closes(const std::vector<double>& close, const std::vector<double>& volume = {}) {
    std::vector<double> v = volume.empty() ? std::vector<double>(close.size(), 0.0) : volume;
    set_bars(close, close, close, close, v);
  }
};

inline bool no_value(double v) { return v == kChartNoValue; }

// The reference file: the series and one vector per label, "nan" = none.
struct Reference {
  int32_t n = 0;
  std::map<std::string, std::vector<double>> series;  // open ... volume and every "ref" label

  static const Reference& get() {
    static Reference r = load();
    return r;
  }
  const std::vector<double>& operator[](const std::string& label) const {
    auto it = series.find(label);
    if (it == series.end()) {
      ADD_FAILURE() << "no reference vector " << label;
      static std::vector<double> empty;
      return empty;
    }
    return it->second;
  }

 private:
  static Reference load() {
    Reference r;
    const char* dir = std::getenv("AMBIT_SOURCE_DIR");
    std::string path = std::string(dir ? dir : ".") + "/tests/charts/ta_reference.txt";
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream words(line);
      std::string key, label, w;
      words >> key;
      if (key == "n") {
        words >> r.n;
        continue;
      }
      label = key;
      if (key == "ref") words >> label;
      std::vector<double> v;
      while (words >> w) v.push_back(w == "nan" ? NAN : std::strtod(w.c_str(), nullptr));
      r.series[label] = v;
    }
    return r;
  }
};

// One line checked against a reference: from `from` on, every sample where
// the reference has a value must agree within 1e-9 relative; samples before
// `first` must have no value (the warm-up). With gap_is_zero a sample where
// ours has no value passes when the reference gives 0 there (the libraries
// write 0 where a ratio has a zero divisor; the chart leaves a gap).
struct RefCheck {
  const double* ours;
  int32_t n;
  int32_t from;
  int32_t first;
  bool gap_is_zero = false;
};

template <class Expected>
void expect_matches(const RefCheck& c, Expected expected, const std::string& what) {
  int checked = 0;
  for (int32_t i = 0; i < c.n; i++) {
    double a = c.ours[i];
    if (i < c.first) {
      EXPECT_TRUE(no_value(a)) << what << " warm-up sample " << i << " = " << a;
      continue;
    }
    if (i < c.from) continue;
    double b = expected(i);
    if (std::isnan(b)) continue;
    if (c.gap_is_zero && no_value(a) && b == 0) continue;
    ASSERT_FALSE(no_value(a)) << what << " sample " << i << " has no value, reference " << b;
    double tol = 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
    EXPECT_NEAR(a, b, tol) << what << " sample " << i;
    checked++;
  }
  EXPECT_GT(checked, 0) << what << ": nothing compared";
}
