#include "common/badinput.h"
#include "common/child.h"
#include "config/parametermap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>

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
  EXPECT_EQ(parameter::getV(pars, "absent", 2.5), std::vector<double>{2.5});
  EXPECT_EQ(parameter::getM(pars, "absent", 7.0), Matrix{{7.0}});
  // A whole number set as a double reads back exactly as an integer.
  parameter::set(pars, "N", 1000000.0);
  EXPECT_EQ(pars["N"], "1000000");
  EXPECT_EQ(parameter::getI(pars, "N", 1), 1000000);
  pars["E"] = "1e+06";  // what older writers stored: read exactly, not as 1
  EXPECT_EQ(parameter::getI(pars, "E", 1), 1000000);
  pars["B"] = "true";
  EXPECT_TRUE(parameter::getB(pars, "B", false));
}

TEST(ParameterMap, GettersRefuseTextThatIsNotOneValueOfTheirType) {
  badinput::Guard guard;
  const parameterMap pars{{"R", "nan"},     {"L", "inf"},      {"I", "5.7abc"}, {"F", "2.5"},   {"BIG", "4294967299"},
                          {"W", "word 1 2"}, {"T", "1 2"},     {"H", "0x1p3"},  {"EMPTY", "  "}, {"BOOL", "yes"},
                          {"M", "1 2\n3 x\n"}};
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { parameter::getD(pars, "R", 5.0); }, "parameter R: value 'nan' is not a finite number"},
      {[&] { parameter::getD(pars, "L", 0.3); }, "parameter L: value 'inf' is not a finite number"},
      {[&] { parameter::getD(pars, "H", 1.0); }, "parameter H: value '0x1p3' is not a finite number"},
      {[&] { parameter::getD(pars, "T", 1.0); }, "parameter T: value '1 2' is not one word"},
      {[&] { parameter::getD(pars, "EMPTY", 1.0); }, "parameter EMPTY: value '  ' is empty"},
      {[&] { parameter::getI(pars, "I", 0); }, "parameter I: value '5.7abc' is not an integer"},
      {[&] { parameter::getI(pars, "F", 0); }, "parameter F: value '2.5' is not an integer"},
      {[&] { parameter::getI(pars, "BIG", 0); }, "parameter BIG: value '4294967299' is beyond the range of int"},
      {[&] { parameter::getB(pars, "BOOL", false); }, "parameter BOOL: value 'yes' is not 0, 1, true or false"},
      {[&] { parameter::getV(pars, "W", 0.0); }, "parameter W: value 'word' is not a finite number"},
      {[&] { parameter::getM(pars, "M", 0.0); }, "parameter M: value 'x' is not a finite number"},
  };
  for (const auto &c : cases) badinput::ExpectRefused(c.first, "", {c.second});
  EXPECT_EQ(parameter::getD(pars, "F", 0.0), 2.5);
  EXPECT_EQ(parameter::getVS(pars, "W", ""), (std::vector<std::string>{"word", "1", "2"}));
}

TEST(ParameterMap, ReadsFilesLineByLine) {
  std::string path = ScratchDir("parametermap") + "/pars.dat";
  std::ofstream(path) << "double RADSTEP 0.1234567\nbool XSYM true\nbool YSYM 1\nint NRADIAL 12\n#double X 1\n"
                      << "\n   \nint LMAX 3\r\nint LMAX 4\nstring NAME pp\nint BIG 1e6\n"
                      << "#" << std::string(3000, 'x') << "\nint AFTER 1\n";  // long comments are comments
  parameterMap pars;
  pars["KEEP"] = "kept";
  parameter::ReadParsFromFile(pars, path);
  EXPECT_EQ(pars, (parameterMap{{"AFTER", "1"},
                                {"BIG", "1000000"},
                                {"KEEP", "kept"},
                                {"LMAX", "4"},
                                {"NAME", "pp"},
                                {"NRADIAL", "12"},
                                {"RADSTEP", "0.1234567"},  // every digit written is kept
                                {"XSYM", "1"},
                                {"YSYM", "1"}}));
  EXPECT_EQ(parameter::ExactText(1115.683), "1115.683");
  EXPECT_EQ(parameter::ExactText(0.1), "0.1");
  EXPECT_EQ(std::strtod(parameter::ExactText(1.0 / 3.0).c_str(), nullptr), 1.0 / 3.0);
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

TEST(ParameterMap, FilesWhoseValuesAreNotWhollyNumbersAreRefused) {
  badinput::Guard guard;
  const std::string dir = ScratchDir("parametermap_refuse"), path = dir + "/p";
  const std::pair<std::string, std::string> cases[] = {
      {"double DELR 0.5\ndouble DELX nan\n", "line 2: value 'nan' of DELX is not a finite number"},
      {"double DELQ 1e999\n", "line 1: value '1e999' of DELQ is not a finite number"},
      {"double X 1.5.25\n", "line 1: value '1.5.25' of X is not a finite number"},
      {"double DELQ 1e308ble\n", "line 1: value '1e308ble' of DELQ is not a finite number"},
      {"double H 0x1p-1\n", "line 1: value '0x1p-1' of H is not a finite number"},
      {"int N 4294967299\n", "line 1: value '4294967299' of N is beyond the range of int"},
      {"int M 12abc\n", "line 1: value '12abc' of M is not an integer"},
      {"int M 2.5\n", "line 1: value '2.5' of M is not an integer"},
      {"bool B yes\n", "line 1: value 'yes' of B is not 0, 1, true or false"},
      {"int L 7 extra\n", "line 1: value '7' of L is followed by 'extra'"},
      {"int SHORT\n", "line 1: 'SHORT' has no value"},
      {"dbl R 3\n", "line 1: type 'dbl' is not int, double, bool or string"},
      {"double R 3\nstring A " + std::string(70000, 'a') + "\n", "line 2 has more than 65536 characters"},
  };
  for (const auto &c : cases) {
    parameterMap pars{{"DELR", "0.5"}};
    badinput::ExpectRefused([&] { parameter::ReadParsFromFile(pars, badinput::WriteText(path, c.first)); }, path,
                            {"parameter file " + path + ", " + c.second});
  }
  // A value read from a file that a getter refuses names the file and line; a
  // value set since then names the key only.
  parameterMap read;
  parameter::ReadParsFromFile(read, badinput::WriteText(path, "double R 3\nstring DELR 0.5x\n"));
  badinput::ExpectRefused([&] { parameter::getD(read, "DELR", 0.5); }, path,
                          {"parameter file " + path + ", line 2: value '0.5x' of DELR is not a finite number"});
  parameter::set(read, "DELR", std::string("0.7y"));
  badinput::ExpectRefused([&] { parameter::getD(read, "DELR", 0.5); }, "",
                          {"parameter DELR: value '0.7y' is not a finite number"});
  // Words after a string value are ignored with a warning.
  parameterMap pars;
  parameter::ReadParsFromFile(pars, badinput::WriteText(path, "string NAME pp extra\n"));
  EXPECT_EQ(pars["NAME"], "pp");
  EXPECT_TRUE(guard.Printed("warning: parameter file " + path + ", line 1: words after the value of NAME are ignored"));
  // A file without line ends is refused at once instead of growing one line without bound.
  const auto start = std::chrono::steady_clock::now();
  badinput::ExpectRefused([&] { parameter::ReadParsFromFile(pars, "/dev/zero"); }, "/dev/zero",
                          {"line 1 has more than 65536 characters"});
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  badinput::ExpectRefused([&] { parameter::ReadParsFromFile(pars, dir + "/absent"); }, dir + "/absent",
                          {"attempting to read non-existent parameter file " + dir + "/absent"});
}
