#include "config/numberreader.h"

#include <climits>
#include <cmath>

#include "common/badinput.h"
#include "common/child.h"

using badinput::ExpectRefused;
using badinput::Guard;
using badinput::WriteText;

TEST(NumberReader, WholeWordsOnly) {
  double x = -7.0;
  const std::pair<const char *, double> numbers[] = {{"1", 1.0},       {"-2.5", -2.5},     {".25", 0.25},
                                                     {"5.", 5.0},      {"+1E-3", 1e-3},    {"1.7976931348623157e308", 1.7976931348623157e308},
                                                     {"1e-400", 0.0},  {"-0", 0.0},        {"4.9e-324", 4.9e-324}};
  for (const auto &n : numbers) {
    ASSERT_TRUE(femtokit::ParseNumber(n.first, x)) << n.first;
    EXPECT_EQ(x, n.second) << n.first;
  }
  // Not numbers: non-finite, beyond a double, malformed, other syntaxes, trailing text.
  for (const char *word : {"nan", "-nan", "inf", "Infinity", "1e999", "-1e309", "1.5.25", "3.5abc", "0x10", "", "+",
                           ".", "e5", "1e", "1e+", "--1", "1,5", " 1", "1 "}) {
    x = -7.0;
    EXPECT_FALSE(femtokit::ParseNumber(word, x)) << word;
    EXPECT_EQ(x, -7.0) << word;  // untouched
  }
  EXPECT_FALSE(femtokit::ParseNumber("1" + std::string(400, '0'), x));  // 1e400
  long long n;
  ASSERT_TRUE(femtokit::ParseInteger("-9223372036854775808", n));
  EXPECT_EQ(n, LLONG_MIN);
  ASSERT_TRUE(femtokit::ParseInteger("4294967299", n));
  EXPECT_EQ(n, 4294967299LL);  // no wrap to 3
  for (const char *word : {"9223372036854775808", "3.5", "1e3", "12abc", "", "-", "+-1"})
    EXPECT_FALSE(femtokit::ParseInteger(word, n)) << word;
}

TEST(NumberReader, RefusalsNameFilePositionAndWord) {
  Guard guard;
  const std::string dir = ScratchDir("numberreader"), f = dir + "/values.dat";
  const struct {
    std::string text, message;
  } cases[] = {
      {"1 2\n  nan 4\n", "line 2, column 3: value 'nan' is not a finite number"},
      {"1\n1e999\n", "line 2, column 1: value '1e999' is not a finite number"},
      {"1.5.25\n", "line 1, column 1: value '1.5.25' is not a number"},
      {"0.5\t-inf", "line 1, column 5: value '-inf' is not a finite number"},
      {"1 " + std::string(70, '7'), "line 1, column 3: value '" + std::string(40, '7') + "...' is longer than 64"},
      {std::string("2\0 3", 4), "line 1, column 1: value '2?' is not a number"},
  };
  for (const auto &c : cases) {
    WriteText(f, c.text);
    ExpectRefused(
        [&] {
          femtokit::NumberReader in(f);
          double v;
          while (in.Next(v, "value")) {
          }
        },
        f, {f + ", " + c.message});
  }
  // Counts: integers in the caller's range, no wrapping, no splitting of "3.5".
  const std::pair<const char *, const char *> counts[] = {{"4294967299", "out of range (0 ... 2147483647)"},
                                                          {"99999999999999999999", "is out of range"},
                                                          {"3.5", "is not an integer"},
                                                          {"-1", "out of range (0 ... 2147483647)"}};
  for (const auto &c : counts) {
    WriteText(f, c.first);
    ExpectRefused(
        [&] {
          femtokit::NumberReader in(f);
          long long n;
          in.Next(n, 0, INT_MAX, "NRADIAL");
        },
        f, {"line 1, column 1: NRADIAL '" + std::string(c.first) + "'", c.second});
  }
  // End of file, text after the values, and a device that never ends.
  WriteText(f, " 1\n2 \n\n3 # x\n");
  femtokit::NumberReader in(f);
  double v[3];
  for (double &x : v) ASSERT_TRUE(in.Next(x, "value"));
  EXPECT_EQ(v[2], 3.0);
  in.WarnIfTrailing();
  EXPECT_TRUE(guard.Printed("Warning: " + f + ", line 4, column 3: text after the last value is ignored"));
  femtokit::NumberReader one(WriteText(f, " 1 \n"));
  double x;
  EXPECT_TRUE(one.Next(x, "value") && !one.Next(x, "value"));
  femtokit::NumberReader zero("/dev/zero");
  ExpectRefused([&] { zero.Next(x, "value"); }, "/dev/zero", {"longer than 64 characters"});
  EXPECT_FALSE(femtokit::NumberReader(dir + "/absent").IsOpen());
}

TEST(NumberReader, MemoryBudget) {
  Guard guard;
  EXPECT_EQ(femtokit::SaturatingProduct(UINT64_MAX / 2, 3), UINT64_MAX);
  EXPECT_EQ(femtokit::SaturatingProduct(1u << 20, 1u << 20), std::uint64_t(1) << 40);
  EXPECT_EQ(femtokit::GetMemoryBudget(), femtokit::kDefaultMemoryBudget);
  femtokit::CheckTableSize("f.dat", "N=100", 100, 8);
  ExpectRefused([] { femtokit::CheckTableSize("f.dat", "f.dat: NRADIAL=2147483647", 1ull << 40, 8); }, "f.dat",
                {"f.dat: NRADIAL=2147483647 asks for a table of 1099511627776 values (8.8e+03 GB)",
                 "more than the memory budget of 2.15 GB"});
  femtokit::SetMemoryBudget(799);
  ExpectRefused([] { femtokit::CheckTableSize("", "N=100", 100, 8); }, "", {"N=100 asks"});
  femtokit::SetMemoryBudget(femtokit::kDefaultMemoryBudget);
}
