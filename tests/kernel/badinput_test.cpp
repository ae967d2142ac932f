// Bad kernel parameter files and kernel directories: refused with a message
// naming the file, before any table is allocated.
#include "kernel/kernel.h"
#include "kernel/kernelwf.h"

#include <gtest/gtest.h>

#include "common/badinput.h"
#include "common/child.h"

using badinput::ExpectRefused;
using badinput::Guard;
using badinput::WriteText;

TEST(CKernelBadInput, ParametersAreCheckedBeforeAllocation) {
  Guard guard;
  const std::string f = ScratchDir("kernel_badpars") + "/kparameters.dat";
  const std::pair<std::string, std::string> cases[] = {
      {"int KLMAX 2000000000\n", "KLMAX=2000000000 asks for a table of 2000000001 values"},  // 48 GB of slots
      {"int NQMAX 100000\nint NRMAX 100000\n", "KLMAX=24, NQMAX=100000, NRMAX=100000 asks for a table of"},
      {"int NQMAX -1\n", "NQMAX=-1 must not be negative"},
      {"int NRMAX -80\n", "NRMAX=-80 must not be negative"},
      {"double DELR 0\n", "DELQ=4 and DELR=0 must be finite and positive"},
      {"double DELQ -2\n", "DELQ=-2 and DELR=0.5 must be finite and positive"},
      // The q mesh lies where wave functions are defined (a fuzzing finding: DELQ 1e308).
      {"int NQMAX 2\ndouble DELQ 1e308\n", "NQMAX=2, DELQ=1e+308 give q from 5e+307 to 1.5e+308 MeV/c, outside the "
                                           "supported range 0.01 ... 1000 MeV/c"},
      {"int NQMAX 60\ndouble DELQ 20\n", "NQMAX=60, DELQ=20 give q from 10 to 1190 MeV/c"},
      {"int NQMAX 3\ndouble DELQ 0.001\n", "NQMAX=3, DELQ=0.001 give q from 0.0005 to 0.0025 MeV/c"},
  };
  for (const auto &c : cases) {
    WriteText(f, c.first);
    ExpectRefused([&] { CKernel k(f); }, f, {"kernel parameter file " + f + ": " + c.second});
  }
  // A refused ParsInit leaves an existing kernel as it was.
  CKernel k(WriteText(f, "int NQMAX 2\nint NRMAX 3\n"));
  ExpectRefused([&] { k.ParsInit(WriteText(f, "int NQMAX 5000000\nint NRMAX 5000\n")); }, f, {"asks for a table"});
  EXPECT_EQ(k.GetNQMAX(), 2);
  EXPECT_EQ(k.GetValue(0, 1, 2), 0.0);
}

TEST(CKernelBadInput, DataFilesAreReadStrictly) {
  Guard guard;
  const std::string dir = ScratchDir("kernel_badfiles"), file = dir + "/ell0_q0002.00.tmp";
  const std::string pars = WriteText(dir + "/kparameters.dat", "int NQMAX 1\nint NRMAX 3\nint KLMAX 0\n");
  CKernel k(pars);
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      // A NaN step no longer passes the 1e-8 mesh check; neither does a step 1e-7 off.
      {"3 nan\n1 2 3\n", {file + ", line 1, column 3: DELR 'nan' is not a finite number"}},
      {"3 0.5000001\n1 2 3\n",
       {"Inconsistent values for nrmax or delr in data files!\n" + file +
        ": NRMAX=3, DELR=0.5000001; the kernel needs NRMAX>=3, DELR=0.5"}},
      {"2 0.5\n1 2\n", {"Inconsistent values for nrmax or delr in data files!\n", file + ": NRMAX=2"}},
      {"4294967299 0.5\n1 2 3\n", {"NRMAX '4294967299' is out of range"}},  // not 3
      {"3.5\n1 2 3\n", {"NRMAX '3.5' is not an integer"}},
      {"3 0.5\n1 inf 3\n", {"line 2, column 3: value 'inf' is not a finite number"}},
      {"3 0.5\n1 2 3.0.1\n", {"value '3.0.1' is not a number"}},
      {"3 0.5\n1 2\n", {"Kernel data file " + file + " holds 2 values, fewer than its header announces (3)"}},
      {"999999999 0.5\n1 2 3\n", {"holds 3 values, fewer than its header announces (999999999)"}},
  };
  for (const auto &c : cases) {
    WriteText(file, c.first);
    ExpectRefused([&] { k.Read(dir); }, file, c.second);
  }
  // Values beyond NRMAX are part of the format; text after the announced ones is warned about.
  WriteText(file, "4 0.500000001\n1 2 3 4\n");
  k.Read(dir);
  EXPECT_EQ(k.GetValue(0, 0, 2), 3.0);
  EXPECT_FALSE(guard.Printed("Warning"));
  WriteText(file, "4 0.5\n1 2 3 4\n 5 anything\n");
  k.Read(dir);
  EXPECT_TRUE(guard.Printed("Warning: " + file + ", line 3, column 2: text after the last value is ignored")) << guard.text;
}

TEST(CKernelWFBadInput, ParametersAreCheckedBeforeAllocation) {
  Guard guard;
  const std::string f = ScratchDir("kernelwf_badpars") + "/kparameters.dat";
  const std::pair<std::string, std::string> cases[] = {
      // 2.4 GB from a 17-byte file; a product beyond any memory; NCTHETA+1 beyond int.
      {"int NCTHETA 99991\n", "NQMAX=25, NRMAX=120, NCTHETA=99991 asks for a table of 299976000 values"},
      {"int NQMAX 2147483647\n", "NQMAX=2147483647, NRMAX=120, NCTHETA=120 asks for a table of 31181462554440 values"},
      {"int NCTHETA 2147483647\n", "NQMAX=25, NRMAX=120, NCTHETA=2147483647 asks for a table of 6442450944000 values"},
      {"int NQMAX 2147483647\nint NRMAX 2147483647\nint NCTHETA 2147483647\n",
       "NQMAX=2147483647, NRMAX=2147483647, NCTHETA=2147483647 asks for a table of 18446744073709551615 values"},
      // (the last saturated, not wrapped)
      {"int NQMAX 2\ndouble DELQ 1e308\n", "NQMAX=2, DELQ=1e+308 give q from 5e+307 to 1.5e+308 MeV/c, outside the "
                                           "supported range 0.01 ... 1000 MeV/c"},
  };
  for (const auto &c : cases) {
    WriteText(f, c.first);
    ExpectRefused([&] { CKernelWF k(f); }, f, {"3D kernel parameter file " + f + ": " + c.second});
  }
  for (const char *text : {"int NCTHETA 0\n", "int NQMAX -3\n", "double DELQ -1\n"}) {
    WriteText(f, text);
    ExpectRefused([&] { CKernelWF k(f); }, f, {"CKernelWF: " + f + " sets", "the counts must be at least 1"});
  }
  // A refused file leaves an existing kernel as it was; an accepted one resizes it.
  CKernelWF k(WriteText(f, "int NQMAX 2\nint NRMAX 3\nint NCTHETA 4\n"));
  ExpectRefused([&] { k.ParsInit(WriteText(f, "int NCTHETA 2147483647\n").c_str()); }, f, {"asks for a table"});
  EXPECT_EQ(k.GetNCTHETA(), 4);
  k.ParsInit(WriteText(f, "int NQMAX 1\nint NRMAX 2\nint NCTHETA 6\n").c_str());
  EXPECT_EQ(k.GetNCTHETA(), 6);
  k.Value(0, 1, 6) = 0.5;
  EXPECT_EQ(k.GetPsiSquared(0, 1, 6), 1.5);
}
