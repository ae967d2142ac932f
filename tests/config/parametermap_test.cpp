#include "common/child.h"
#include "config/parametermap.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

std::string WriteFile(const std::string &name, const std::string &text) {
  std::string path = ScratchDir("parametermap") + "/" + name;
  std::ofstream(path) << text;
  return path;
}

}  // namespace

TEST(ParameterMap, TypedStoresUseTextEncodings) {
  parameterMap pars;
  parameter::set(pars, "X", 0.123456789);
  EXPECT_EQ(pars["X"], "0.123457");
  EXPECT_DOUBLE_EQ(parameter::getD(pars, "X", 0.0), 0.123457);
  parameter::set(pars, "D", 5.0);
  EXPECT_EQ(pars["D"], "5");
  parameter::set(pars, "S", 0.00001);
  EXPECT_EQ(pars["S"], "1e-05");
  parameter::set(pars, "N", -12);
  EXPECT_EQ(pars["N"], "-12");
  parameter::set(pars, "B", true);
  EXPECT_EQ(pars["B"], "1");
  parameter::set(pars, "C", "two words");
  EXPECT_EQ(parameter::getS(pars, "C", ""), "two words");
  parameter::set(pars, "V", std::vector<double>{1.0, 2.5});
  EXPECT_EQ(pars["V"], "    1\n    2.5\n");
  parameter::set(pars, "M", std::vector<std::vector<double>>{{1, 2}, {3, 4}});
  EXPECT_EQ(pars["M"], "    1 2 \n    3 4 \n");
  parameter::set(pars, "VS", std::vector<std::string>{"a", "b"});
  EXPECT_EQ(pars["VS"], "    a\n    b\n");
}

TEST(ParameterMap, ReadersParseLeadingValueAndFallBackToDefaults) {
  parameterMap pars;
  pars["I"] = "12abc";
  pars["F"] = "5.7";
  EXPECT_EQ(parameter::getI(pars, "I", 0), 12);
  EXPECT_EQ(parameter::getI(pars, "F", 0), 5);
  EXPECT_EQ(parameter::getI(pars, "absent", 7), 7);
  EXPECT_TRUE(parameter::getB(pars, "absent", true));
  EXPECT_EQ(parameter::getS(pars, "absent", "dflt"), "dflt");
  EXPECT_EQ(parameter::getV(pars, "absent", 2.5), std::vector<double>{2.5});
  EXPECT_EQ(parameter::getVS(pars, "absent", "x"), std::vector<std::string>{"x"});
  EXPECT_EQ(parameter::getM(pars, "absent", 7.0), (std::vector<std::vector<double>>{{7.0}}));

  pars["V"] = "    1\n    2\n";
  EXPECT_EQ(parameter::getV(pars, "V", 0), (std::vector<double>{1, 2}));
  pars["W"] = "word 1 2";
  EXPECT_TRUE(parameter::getV(pars, "W", 0).empty());
  pars["M"] = "    1 2 \n\n  junk\n    3 4 \n";
  EXPECT_EQ(parameter::getM(pars, "M", 0), (std::vector<std::vector<double>>{{1, 2}, {3, 4}}));
  pars["VS"] = "    a\n    b\n";
  EXPECT_EQ(parameter::getVS(pars, "VS", ""), (std::vector<std::string>{"a", "b"}));
}

TEST(ParameterMap, ReadsFilesLineByLine) {
  std::string longcomment = "#" + std::string(300, 'x') + "\n";
  std::string path = WriteFile("pars.dat",
                               "double RADSTEP 0.1234567\n"
                               "bool XSYM true\n"
                               "bool YSYM 2\n"
                               "int NRADIAL 12abc\n"
                               "#double X 1\n"
                               "int\n"
                               "a b\n" +
                                   longcomment +
                                   "string " + std::string(150, 'n') + " longline\n"
                                   "int SHORT\n"
                                   "double LMAX 3 extra words\n"
                                   "int LMAX 4\n"
                                   "unknown Q 1\n"
                                   "string NAME pp");
  parameterMap pars;
  pars["KEEP"] = "kept";
  parameter::ReadParsFromFile(pars, path);
  EXPECT_EQ(pars["RADSTEP"], "0.123457");
  EXPECT_EQ(pars["XSYM"], "0");
  EXPECT_EQ(pars["YSYM"], "1");
  EXPECT_EQ(pars["NRADIAL"], "12");
  EXPECT_EQ(pars.count("X"), 0u);
  EXPECT_EQ(pars.count("SHORT"), 0u);  // two words: nothing stored, nothing spills over
  EXPECT_EQ(pars[std::string(150, 'n')], "longline");  // long lines do not end the reading
  EXPECT_EQ(pars["LMAX"], "4");                         // last line wins
  EXPECT_EQ(pars.count("Q"), 0u);
  EXPECT_EQ(pars["NAME"], "pp");  // last line without newline
  EXPECT_EQ(pars["KEEP"], "kept");

  parameterMap empty;
  parameter::ReadParsFromFile(empty, WriteFile("empty.dat", ""));
  EXPECT_TRUE(empty.empty());
}

TEST(ParameterMap, PrintsInKeyOrderAndFailsOnMissingFile) {
  ChildResult printed = RunInChild([] {
    parameterMap pars;
    pars["RADSTEP"] = "0.5";
    pars["LMAX"] = "4";
    pars["lambda"] = "1";
    parameter::PrintPars(pars);
  });
  EXPECT_EQ(printed.output, "LMAX = 4\nRADSTEP = 0.5\nlambda = 1\n");

  ChildResult missing = RunInChild([] {
    parameterMap pars;
    parameter::ReadParsFromFile(pars, "/nonexistent/dir/pars.dat");
  });
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.output, "attempting to read non-existent parameter file /nonexistent/dir/pars.dat\n");
}
