#include "common/child.h"
#include "config/parametermap.h"

#include <gtest/gtest.h>

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
                      << "#" << std::string(300, 'x') << "\nint SHORT\nint LMAX 3 extra\nint LMAX 4\nstring NAME pp";
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
