#include "numeric/sort.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "numeric/matrix.h"
#include "support/zep_test.h"

using SortTest = ZepTest;

namespace {
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Inputs that break naive quicksorts: runs, equal keys, organ pipes, sawtooth, and the
// median-of-three killer shape.
std::vector<std::pair<std::string, std::vector<float>>> Patterns(int n) {
  std::vector<std::pair<std::string, std::vector<float>>> out;
  auto make = [&](const std::string& name, auto f) {
    std::vector<float> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[size_t(i)] = f(i);
    out.push_back({name, v});
  };
  uint32_t seed = 7;
  make("random", [&](int) {
    seed = seed * 1664525u + 1013904223u;
    return float(seed >> 8);
  });
  make("few values", [&](int) {
    seed = seed * 1664525u + 1013904223u;
    return float((seed >> 16) % 4);
  });
  make("ascending", [](int i) { return float(i); });
  make("descending", [&](int i) { return float(n - i); });
  make("equal", [](int) { return 3.0f; });
  make("organ pipe", [&](int i) { return float(std::min(i, n - i)); });
  make("sawtooth", [](int i) { return float(i % 17); });
  // Median-of-3 killer: the pivots chosen are always near the smallest values.
  std::vector<float> killer(static_cast<size_t>(n));
  for (int i = 0; i < n / 2; ++i) {
    killer[size_t(2 * i)] = float(i);
    killer[size_t(2 * i + 1)] = float(n / 2 + i);
  }
  if (n % 2) killer[size_t(n - 1)] = float(n);
  out.push_back({"interleaved", killer});
  return out;
}
}  // namespace

TEST_F(SortTest, SortsEveryPatternLikeTheStandardSort) {
  for (int n : {0, 1, 2, 12, 17, 30, 1000, 20001}) {
    for (auto& [name, values] : Patterns(n)) {
      std::vector<float> want = values;
      std::sort(want.begin(), want.end());
      std::vector<float> heap = values;
      SortFloats(values.data(), n);
      EXPECT_EQ(values, want) << name << " " << n;
      // The fallback for segments that keep partitioning badly, on its own.
      if (n > 0) {
        sortdetail::HeapSort(
            0, n - 1, [&](int i) { return heap[size_t(i)]; },
            [&](int i, int j) { std::swap(heap[size_t(i)], heap[size_t(j)]); });
      }
      EXPECT_EQ(heap, want) << name << " " << n;
    }
  }
}

TEST_F(SortTest, NaNSortsLastAndOtherValuesStayInOrder) {
  std::vector<float> v = {3, kNaN, -std::numeric_limits<float>::infinity(), kNaN, 1, -0.0f, 2};
  SortFloats(v.data(), int(v.size()));
  const std::vector<float> numbers(v.begin(), v.begin() + 5);
  EXPECT_EQ(numbers, (std::vector<float>{-std::numeric_limits<float>::infinity(), -0.0f, 1, 2, 3}));
  EXPECT_TRUE(std::isnan(v[5]) && std::isnan(v[6]));

  // Many NaNs scattered through a long array: still a total order, still no stray reads.
  std::vector<float> many(5000);
  for (size_t i = 0; i < many.size(); ++i) many[i] = i % 3 == 0 ? kNaN : float((i * 7919) % 1000);
  SortFloats(many.data(), int(many.size()));
  const auto firstNaN = std::find_if(many.begin(), many.end(), [](float f) { return f != f; });
  EXPECT_TRUE(std::is_sorted(many.begin(), firstNaN));
  EXPECT_TRUE(std::all_of(firstNaN, many.end(), [](float f) { return f != f; }));
  EXPECT_EQ(many.end() - firstNaN, 1667);
}

TEST_F(SortTest, CompanionsFollowTheirKeys) {
  for (auto& [name, keys] : Patterns(3001)) {
    const std::vector<float> original = keys;
    std::vector<int32_t> who(keys.size());
    for (size_t i = 0; i < who.size(); ++i) who[i] = int32_t(i);
    SortFloatKeys(keys.data(), who.data(), int(keys.size()));
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << name;
    for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(keys[i], original[size_t(who[i])]) << name;

    std::vector<int32_t> ikeys(original.size());
    std::vector<float> values(original.size());
    for (size_t i = 0; i < ikeys.size(); ++i) {
      ikeys[i] = int32_t(original[i]) % 1000 - 500;
      values[i] = float(ikeys[i]) * 0.5f;
    }
    SortIntKeys(ikeys.data(), values.data(), int(ikeys.size()));
    EXPECT_TRUE(std::is_sorted(ikeys.begin(), ikeys.end())) << name;
    for (size_t i = 0; i < ikeys.size(); ++i) ASSERT_EQ(values[i], float(ikeys[i]) * 0.5f);

    std::vector<int> index(original.size());
    IndexSort(index.data(), original.data(), int(original.size()));
    std::vector<int> seen(index);
    std::sort(seen.begin(), seen.end());
    for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], int(i));  // a permutation
    for (size_t i = 1; i < index.size(); ++i) {
      ASSERT_LE(original[size_t(index[i - 1])], original[size_t(index[i])]) << name;
    }
  }
  const float keys[] = {0.5f, -1, 2, kNaN, -3};
  int index[5];
  IndexSort(index, keys, 5);
  EXPECT_EQ(std::vector<int>(index, index + 5), (std::vector<int>{4, 1, 0, 2, 3}));
}

// The prefix sort leaves the first positions exactly as the full index sort orders them,
// equal keys in the same order, and the rest a permutation of the other indexes.
TEST_F(SortTest, IndexSortPrefixKeepsTheFullSortsFirstPositions) {
  for (auto& [name, keys] : Patterns(5001)) {
    keys[17] = kNaN;  // NaN sorts last and is never in a short prefix
    std::vector<int> full(keys.size()), part(keys.size());
    IndexSort(full.data(), keys.data(), int(keys.size()));
    for (int prefix : {0, 1, 15, 16, 17, 625, 2500, 5000, 5001}) {
      IndexSortPrefix(part.data(), keys.data(), int(keys.size()), prefix);
      for (int i = 0; i < prefix; ++i) ASSERT_EQ(part[size_t(i)], full[size_t(i)]) << name << " " << prefix;
      std::vector<int> rest(part.begin() + prefix, part.end()), want(full.begin() + prefix, full.end());
      std::sort(rest.begin(), rest.end());
      std::sort(want.begin(), want.end());
      ASSERT_EQ(rest, want) << name << " " << prefix;
    }
  }
}

TEST_F(SortTest, SelectionAndMedian) {
  struct Case {
    std::vector<float> values;
    float median;
  } cases[] = {{{3, 1}, 2}, {{5, 1, 3}, 3},    {{4, 1, 3, 2}, 2.5f},
               {{7}, 7},    {{2, 2, 2, 9}, 2}, {{kNaN, 1, 3}, 3}};
  for (const Case& c : cases) {
    matrix m(int(c.values.size()), 1);
    m.copyfrom(c.values.data());
    EXPECT_EQ(m.median(), c.median);
  }
  EXPECT_EQ(matrix().median(), 0.0f);

  auto patterns = Patterns(101);
  for (auto& [name, values] : patterns) {
    std::vector<float> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    for (int k : {0, 1, 50, 99, 100}) {
      matrix m(101, 1);
      m.copyfrom(values.data());
      EXPECT_EQ(m.select(k), sorted[size_t(k)]) << name << " " << k;
    }
  }
  matrix plane(3, 2);
  const float six[] = {6, 5, 4, 3, 2, 1};
  plane.copyfrom(six);
  plane.sort();
  EXPECT_EQ(std::vector<float>(plane.x, plane.x + 6), (std::vector<float>{1, 2, 3, 4, 5, 6}));
}
