#include "numeric/numbertext.h"

#include <clocale>
#include <string>
#include <vector>

#include "numeric/matrix.h"
#include "platform/errors.h"
#include "support/zep_test.h"
#include "test_planes.h"

using NumberTextTest = ZepTest;

namespace {
std::string Thrown(const std::string& text) {
  try {
    ParseNumber(text);
  } catch (const TextException& e) {
    return e.text();
  }
  return "(no exception)";
}
}  // namespace

TEST_F(NumberTextTest, AcceptedNumbers) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"2.5", 2.5},
      {"3*4", 12},
      {"3 / 4", 0.75},
      {"1e3", 1000},
      {"  -7", -7},
      {"+4", 4},
      {"1.5*2", 3},
      {"1.5 * 0.123", 1.5 * 0.123},
      {"0.123/1.5", 0.123 / 1.5},
      {"5a", 5},
      {"1,2", 2},
      {"8 ", 8},
      {"1,", 1},
      {"0x10", 16},
      {"2*-3", -6},
      {"1e-400", 0},  // an underflow is a tiny number, not an error
  };
  for (const Case& c : cases) {
    double got = -12345;
    EXPECT_NO_THROW(got = ParseNumber(c.text)) << c.text;
    EXPECT_DOUBLE_EQ(got, c.value) << c.text;
  }
}

TEST_F(NumberTextTest, RejectedNumbersThrowTheEntryBack) {
  const char* cases[] = {"",      "5/0", "*3",  "abc",         "2*",   " ",    "5ab",
                         "1e999", "inf", "nan", "1e300*1e300", "1,,2", "3/ x", "-"};
  for (const char* text : cases) {
    EXPECT_EQ(Thrown(text), std::string("Invalid entry:\n") + text + "\nTry again!") << text;
  }
}

TEST_F(NumberTextTest, ListsFillAPlane) {
  struct Case {
    const char* text;
    std::vector<float> values;
  } cases[] = {
      {"1, 2*3, 8/2", {1, 6, 4}},
      {"1,2", {1, 2, 0}},
      {"1,2,", {1, 2, 0}},
      {"1,2,3,4,5", {1, 2, 3}},
      {" 0.1 ,0.2,0.3", {0.1f, 0.2f, 0.3f}},
      {"1/3", {1.0f / 3.0f, 0, 0}},
  };
  for (const Case& c : cases) {
    matrix m(3, 1);
    m.fill(9);
    m.parse(c.text);
    EXPECT_EQ(Values(m), c.values) << c.text;
  }
  // A bad list leaves the plane as it was.
  for (const char* bad : {"1;2", "", "1,x", "1,2/0", "4e38*10"}) {
    matrix m(3, 1);
    m.fill(9);
    EXPECT_THROW(m.parse(bad), TextException) << bad;
    EXPECT_EQ(Values(m), (std::vector<float>{9, 9, 9})) << bad;
  }

  matrix kernel;
  kernel.parselist("-0.5,0,0.5", 1);
  EXPECT_EQ(kernel.nx, 3);
  EXPECT_EQ(kernel.ny, 1);
  EXPECT_EQ(Values(kernel), (std::vector<float>{-0.5f, 0, 0.5f}));
  matrix two;
  two.parselist("1,2,3,4,5,6", 2);
  EXPECT_EQ(two.nx, 3);
  EXPECT_EQ(two.ny, 2);
  EXPECT_EQ(two.z[1][0], 4.0f);
}

TEST_F(NumberTextTest, DecimalPointDoesNotFollowTheDesktopLocale) {
  const char* comma[] = {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"};
  const char* used = nullptr;
  for (const char* name : comma) {
    if (std::setlocale(LC_ALL, name)) {
      used = name;
      break;
    }
  }
  if (!used) GTEST_SKIP() << "no locale with a decimal comma is installed";
  EXPECT_EQ(ParseNumber("2.5"), 2.5);
  matrix m(2, 1);
  m.parse("1.5,2.25");
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(Values(m), (std::vector<float>{1.5f, 2.25f}));
}
