#pragma once
// Recorded figures of the quality tests (PSNR and the like): a text file of rows
// "key ... value value", the key being every field before the last few numbers. A test
// measures its rows, and either records them (when its environment variable is set) or
// expects each within a tolerance of the recorded one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <locale>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using FigureRows = std::map<std::string, std::vector<double>>;

// The rows of the file at path whose last `values` fields are numbers.
inline FigureRows ReadFigureBaseline(const std::string& path, size_t values) {
  FigureRows rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    std::vector<std::string> fields;
    for (std::string f; s >> f;) fields.push_back(f);
    if (fields.size() <= values) continue;
    const size_t keys = fields.size() - values;
    std::string key = fields[0];
    for (size_t k = 1; k < keys; ++k) key += " " + fields[k];
    std::vector<double> v(values);
    bool ok = true;
    for (size_t k = 0; k < values && ok; ++k) {
      std::istringstream number(fields[keys + k]);
      number.imbue(std::locale::classic());
      ok = static_cast<bool>(number >> v[k]);
    }
    if (ok) rows[key] = v;
  }
  return rows;
}

// With the environment variable `record` set, writes the measured rows in order under the
// header line and returns true (the test then skips); otherwise expects every measured
// row in the file, each value within tolerance, failures named by the labels.
inline bool CheckFigureBaseline(const std::string& path, const char* record,
                                const std::string& header, const std::vector<std::string>& order,
                                const FigureRows& measured, const std::vector<std::string>& labels,
                                double tolerance) {
  if (std::getenv(record)) {
    std::ofstream out(path);
    out.imbue(std::locale::classic());
    out << "# " << header << "\n";
    out.setf(std::ios::fixed);
    out.precision(3);
    for (const std::string& key : order) {
      out << key;
      for (double v : measured.at(key)) out << " " << v;
      out << "\n";
    }
    EXPECT_TRUE(out.good()) << path;
    return true;
  }
  const FigureRows baseline = ReadFigureBaseline(path, labels.size());
  for (const std::string& key : order) {
    const auto it = baseline.find(key);
    if (it == baseline.end()) {
      ADD_FAILURE() << key << " is not in the baseline";
      continue;
    }
    const std::vector<double>& got = measured.at(key);
    for (size_t k = 0; k < labels.size(); ++k) {
      EXPECT_NEAR(got[k], it->second[k], tolerance) << key << " " << labels[k];
    }
  }
  return false;
}
