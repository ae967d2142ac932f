#include "fit/qmatrix.h"

#include "fit/feeddown.h"
#include "fit/smearing.h"
#include "qmatrix_testutil.h"

using qmtest::WriteMatrix;
using qmtest::WriteText;

class QMatrixFiles : public qmtest::Quiet {};

TEST_F(QMatrixFiles, BadMatricesEndWithAMessageNamingTheFile) {
  const std::string dir = ScratchDir("qmatrix_bad");
  struct Case {
    const char *text, *message;
  };
  const Case cases[] = {
      {"2 1 2 1\n1 0\n0\n", "wrong size: row 1 (line 3) holds 1 entries, NCOLS is 2"},
      {"2 1 2 1\n1 0 0\n0 1\n", "wrong size: row 0 (line 2) holds 3 entries"},
      {"2 1 2 1\n1 0\n", "wrong size: 1 rows, NROWS is 2"},
      {"2 1 2 1\n1 0\n0 1\n0 0\n", "wrong size: more than NROWS=2 rows"},
      {"2 1 3 1\n# the matrix transposed\n1 0\n0 1\n0 0\n", "wrong size: row 0 (line 3) holds 2 entries, NCOLS is 3"},
      {"2 1 2 1\n1 -0.5\n0 1.5\n", "negative entry -0.5 at row 0, column 1"},
      {"2 1 2 1\n0.9 0\n0 1\n", "column 0 (q = 0.5 MeV/c) sums to 0.9, not 1"},
      {"2 1 2 1\n1 0\n0 0\n", "column 1 (q = 1.5 MeV/c) sums to 0, not 1"},
      {"2 1 2 1\n1 nan\n0 1\n", "line 2, column 3: entry 'nan' is not a finite number"},
      {"2 1 2 1\n1 0\n0 inf\n", "line 3, column 3: entry 'inf' is not a finite number"},
      {"2 1 2 1\n1 0x\n0 1\n", "line 2, column 3: entry '0x' is not a number"},
      {"2 1 2 1\n1 0x1p-1\n0 1\n", "line 2, column 3: entry '0x1p-1' is not a number"},
      {"2 1 2\n1 0\n0 1\n", "the header needs the four numbers"},
      {"2.5 1 2 1\n", "line 1, column 1: NROWS '2.5' is not an integer"},
      {"2 1 100001 1\n", "line 1, column 5: NCOLS '100001' is out of range (1 ... 100000)"},
      {"2 0 2 1\n", "bin widths"},
      {"# nothing but a comment\n\n", "holds no header"},
  };
  auto feeddown = [&](const std::string &matrix) {
    CFeedDown fd(WriteText(dir + "/fd.dat",
                           "double lambdaGen 0.5\nint NRESIDUALS 1\nstring RESIDUAL0_NAME p\n"
                           "string RESIDUAL0_TYPE matrix\ndouble lambda_p 0.5\n"
                           "string RESIDUAL0_MATRIX " +
                               matrix + "\n"));
  };
  auto smearing = [&](const std::string &matrix) {
    CMomentumSmearing sm(WriteText(dir + "/sm.dat", "string MATRIXFILE " + matrix + "\n"));
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    const std::string file = WriteText(dir + "/bad.dat", c.text);
    qmtest::ExpectFileError([&] { feeddown("bad.dat"); }, file, c.message);
    qmtest::ExpectFileError([&] { smearing("bad.dat"); }, file, c.message);
  }
  qmtest::ExpectFileError([&] { smearing("missing.dat"); }, dir + "/missing.dat", "cannot open matrix file");
  // A counts matrix is not normalised, but must hold some pairs.
  WriteText(dir + "/zeros.dat", "2 1 2 1\n0 0\n0 0\n");
  qmtest::ExpectFileError(
      [&] {
        CMomentumSmearing sm(WriteText(dir + "/c.dat", "string MATRIXFILE zeros.dat\nstring MATRIXTYPE counts\n"));
      },
      dir + "/zeros.dat", "positive, finite total");
  // An absolute name is taken as it is; rows that receive nothing draw one warning.
  std::string warnings;
  femtokit::SetOutput([&](femtokit::Verbosity, const std::string &text) { warnings += text; });
  const std::string holes = WriteText(dir + "/holes.dat", "3 1 2 1\n1 0\n0 0\n0 1\n");
  CMomentumSmearing sm(WriteText(dir + "/abs.dat", "string MATRIXFILE " + holes + "\n"));
  EXPECT_NE(warnings.find(holes + ": 1 of 3 rows receive no pairs"), std::string::npos) << warnings;
}

TEST_F(QMatrixFiles, MomentumUnitsAreConvertedOnlyByTheirFlag) {
  const std::string dir = ScratchDir("qmatrix_units");
  auto identity = [](int i, int j) { return i == j ? 1.0 : 0.0; };
  // The same 1 MeV/c mesh written in q_inv (2 MeV/c) and in k* GeV/c (0.001).
  WriteMatrix(dir + "/qinv.dat", 10, 2.0, 10, 2.0, identity);
  WriteMatrix(dir + "/gev.dat", 10, 0.001, 10, 0.001, identity);
  CCHArray in(0, 10, 1.0, true, true, true), out(0, 10, 1.0, true, true, true);
  for (int i = 0; i < 10; ++i) in.SetElement(0, 0, 0, i, 1.0 / (i + 1));
  for (const char *setting :
       {"string MATRIXFILE qinv.dat\nstring UNITS qinv_MeV\n", "string MATRIXFILE gev.dat\nstring UNITS kstar_GeV\n"}) {
    CMomentumSmearing sm(WriteText(dir + "/sm.dat", setting));
    EXPECT_DOUBLE_EQ(sm.GetMatrix().GetRowStep(), 1.0);
    EXPECT_DOUBLE_EQ(sm.GetMatrix().GetColStep(), 1.0);
    sm.Apply(&in, &out);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out.GetElement(0, 0, 0, i), 1.0 / (i + 1));
  }
  // Without the flag the widths stay as written, and the arrays do not fit.
  CMomentumSmearing raw(WriteText(dir + "/raw.dat", "string MATRIXFILE qinv.dat\n"));
  qmtest::ExpectFileError([&] { raw.Apply(&in, &out); }, dir + "/qinv.dat", "10 bins of 2 MeV/c");
  // Feed-down: a residual's own units override the file-wide ones.
  CFeedDown fd(WriteText(dir + "/fd.dat",
                         "double lambdaGen 0.5\nint NRESIDUALS 2\nstring UNITS qinv_MeV\n"
                         "string RESIDUAL0_NAME a\nstring RESIDUAL0_TYPE matrix\n"
                         "string RESIDUAL0_MATRIX qinv.dat\ndouble lambda_a 0.25\n"
                         "string RESIDUAL1_NAME b\nstring RESIDUAL1_TYPE matrix\n"
                         "string RESIDUAL1_MATRIX gev.dat\nstring RESIDUAL1_UNITS kstar_GeV\n"
                         "double lambda_b 0.25\n"));
  fd.SetParentCorrelation("a", &in);
  fd.SetParentCorrelation("b", &in);
  fd.Apply(&in, &out);
  for (int i = 0; i < 10; ++i) EXPECT_DOUBLE_EQ(out.GetElement(0, 0, 0, i), 1.0 / (i + 1));
}
