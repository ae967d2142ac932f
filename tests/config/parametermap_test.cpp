#include "common/badinput.h"
#include "common/child.h"
#include "config/parametermap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

typedef std::vector<std::vector<double>> Matrix;

TEST(ParameterMap, ValuesPassThroughTextEncodings) {
  parameterMap pars;
  parameter::set(pars, "X", 0.123456789);
  parameter::set(pars, "S", 0.00001);
  parameter::set(pars, "V", std::vector<double>{1.0, 2.5});
  parameter::set(pars, "M", Matrix{{1, 2}, {3, 4}});
  EXPECT_EQ(pars["X"], "0.123457");
  EXPECT_EQ(pars["S"], "1e-05");
  EXPECT_EQ(pars["V"], "    1\n    2.5\n");
  EXPECT_EQ(parameter::getM(pars, "M", 0), (Matrix{{1, 2}, {3, 4}}));
  pars["I"] = "5.7abc";
  EXPECT_EQ(parameter::getI(pars, "I", 0), 5);
  pars["W"] = "word 1 2";
  EXPECT_TRUE(parameter::getV(pars, "W", 0).empty());
  EXPECT_EQ(parameter::getV(pars, "absent", 2.5), std::vector<double>{2.5});
  EXPECT_EQ(parameter::getM(pars, "absent", 7.0), Matrix{{7.0}});
}

TEST(ParameterMap, ReadsFilesLineByLine) {
  std::string path = ScratchDir("parametermap") + "/pars.dat";
  std::ofstream(path) << "double RADSTEP 0.1234567\nbool XSYM true\nbool YSYM 2\nint NRADIAL 12abc\n#double X 1\n"
                      << "int SHORT\nint LMAX 3 extra\nint LMAX 4\nstring NAME pp\n"
                      << "#" << std::string(300, 'x') << "\nint AFTER 1\n";  // a long line ends the reading
  parameterMap pars;
  pars["KEEP"] = "kept";
  parameter::ReadParsFromFile(pars, path);
  EXPECT_EQ(pars, (parameterMap{{"KEEP", "kept"},
                                {"LMAX", "4"},
                                {"NAME", "pp"},
                                {"NRADIAL", "12"},
                                {"RADSTEP", "0.123457"},
                                {"XSYM", "0"},
                                {"YSYM", "1"}}));
}

TEST(ParameterMap, PrintsInKeyOrderAndFailsOnMissingFile) {
  ChildResult printed = RunInChild([] { parameter::PrintPars({{"lambda", "1"}, {"RADSTEP", "0.5"}, {"LMAX", "4"}}); });
  EXPECT_EQ(printed.output, "LMAX = 4\nRADSTEP = 0.5\nlambda = 1\n");
  // A directory opens but cannot be read: as fatal as a missing file.
  for (const std::string &name : {std::string("/nonexistent/pars.dat"), ScratchDir("parametermap_dir")}) {
    ChildResult missing = RunInChild([&name] {
      parameterMap pars;
      parameter::ReadParsFromFile(pars, name);
    });
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output, "attempting to read non-existent parameter file " + name + "\n");
  }
}

TEST(ParameterMap, LongLinesEndTheReading) {
  badinput::Guard guard;
  const std::string dir = ScratchDir("parametermap_long");
  // 99 characters are a line; 100 end the reading there (a CR of a CRLF line not counted).
  const std::string pad99 = "string A " + std::string(90, 'a'), pad100 = pad99 + "b";
  parameterMap pars;
  parameter::ReadParsFromFile(pars, badinput::WriteText(dir + "/p", pad99 + "\r\nint B 1\n" + pad100 + "\nint C 2\n"));
  EXPECT_EQ(pars, (parameterMap{{"A", std::string(90, 'a')}, {"B", "1"}}));
  EXPECT_TRUE(guard.Printed("Warning: parameter file " + dir + "/p, line 3 has 100 or more characters; reading ends"));
  // A file without line ends stops at once instead of growing one line without bound.
  const auto start = std::chrono::steady_clock::now();
  parameter::ReadParsFromFile(pars, "/dev/zero");
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  EXPECT_EQ(pars.size(), 2u);
  badinput::ExpectRefused([&] { parameter::ReadParsFromFile(pars, dir + "/absent"); }, dir + "/absent",
                          {"attempting to read non-existent parameter file " + dir + "/absent"});
}

TEST(ParameterMap, ValuesThatAreNotWhollyNumbersWarn) {
  badinput::Guard guard;
  const std::string path = ScratchDir("parametermap_warn") + "/p";
  badinput::WriteText(path, "double DELR nan\ndouble DELQ 1e999\ndouble X 1.5.25\nint N 4294967299\nint M 12abc\n"
                            "int K -99999999999\nbool B true\ndouble OK 2.5\nint L 7 extra\nint SHORT\n");
  parameterMap pars{{"DELR", "0.5"}};
  parameter::ReadParsFromFile(pars, path);
  // Non-finite values are not stored; the others convert leniently, without wrapping.
  EXPECT_EQ(pars, (parameterMap{{"B", "0"}, {"DELR", "0.5"}, {"K", "-2147483648"}, {"L", "7"}, {"M", "12"},
                                {"N", "2147483647"}, {"OK", "2.5"}, {"X", "1.5"}}));
  const std::string at = "Warning: parameter file " + path + ", line ";
  for (const std::string &w :
       {at + "1: value 'nan' of DELR is not a finite number; the line is ignored",
        at + "2: value '1e999' of DELQ is not a finite number; the line is ignored",
        at + "3: value '1.5.25' of X is not a number; read as 1.5",
        at + "4: value '4294967299' of N is beyond the range of int; read as 2147483647",
        at + "5: value '12abc' of M is not an integer; read as 12",
        at + "7: value 'true' of B is not an integer; read as 0", at + "9: words after the value of L are ignored",
        at + "10 has no value; it is ignored"})
    EXPECT_TRUE(guard.Printed(w)) << w << "\n" << guard.text;
  EXPECT_FALSE(guard.Printed(" OK "));
}
