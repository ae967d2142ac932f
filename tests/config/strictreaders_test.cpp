// Every reader of numeric text refuses the same words with the same message:
// file, line, column, the quantity and the word. One table of bad words, one
// table of readers, each with the bad word planted at a known place.
#include <functional>

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "common/badinput.h"
#include "common/child.h"
#include "common/testutil.h"
#include "config/numberreader.h"
#include "fit/smearing.h"
#include "kernel/kernel.h"
#include "kernel/kernelwf.h"
#include "source/sourcecalc_oscar.h"
#include "wavefunction/wavefunction_generic.h"

using badinput::ExpectRefused;
using badinput::Guard;
using badinput::WriteText;

namespace {

struct Reader {
  const char *name;
  // Writes the input with `word` planted, returns the file that holds it;
  // read() then reads it.
  std::function<std::string(const std::string &dir, const std::string &word)> write;
  std::function<void(const std::string &dir)> read;
  const char *where;  // "line L, column C: <quantity>" of the planted word
};

std::string Replace(std::string text, const std::string &word) { return text.replace(text.find('@'), 1, word); }

std::vector<Reader> Readers() {
  return {
      {"1D kernel",
       [](const std::string &d, const std::string &w) {
         WriteText(d + "/kparameters.dat", "int NQMAX 1\nint NRMAX 3\nint KLMAX 0\n");
         return WriteText(d + "/ell0_q0002.00.tmp", Replace("3 0.5\n1\n@\n3\n", w));
       },
       [](const std::string &d) { CKernel(d + "/kparameters.dat").Read(d); }, "line 3, column 1: value"},
      {"3D kernel",
       [](const std::string &d, const std::string &w) {
         WriteText(d + "/k.dat", "int NQMAX 1\nint NRMAX 2\nint NCTHETA 1\ndouble DELQ 4\ndouble DELR 0.5\n");
         return WriteText(d + "/q0002.00.tmp", Replace("2 1\n1 @\n3 4\n", w));
       },
       [](const std::string &d) { CKernelWF(d + "/k.dat").Read(d); }, "line 2, column 3: value"},
      {"harmonic array",
       [](const std::string &d, const std::string &w) {
         return WriteText(d + "/lx0_ly0_lz0.tmp", Replace("2 1\n1\n@\n", w));
       },
       [](const std::string &d) { CCHArray(0, 2, 1.0).ReadAX(d); }, "line 3, column 1: value"},
      {"3D array",
       [](const std::string &d, const std::string &w) {
         C3DArray(1, 1.0, true, true, true).WriteArray(d);
         return WriteText(d + "/ix0_iy0.tmp", Replace(" @\n", w));
       },
       [](const std::string &d) { C3DArray(1, 1.0, true, true, true).ReadArray(d); }, "line 1, column 2: value"},
      {"matrix",
       [](const std::string &d, const std::string &w) {
         WriteText(d + "/sm.dat", "string MATRIXFILE m.dat\n");
         return WriteText(d + "/m.dat", Replace("2 1 2 1\n1 0\n0 @\n", w));
       },
       [](const std::string &d) { CMomentumSmearing s(d + "/sm.dat"); }, "line 3, column 3: entry"},
      {"sigma table",
       [](const std::string &d, const std::string &w) {
         WriteText(d + "/sm.dat", "string MODE gaussian\nstring SIGMAFILE s.dat\n");
         return WriteText(d + "/s.dat", Replace("# q sigma\n0 2\n10 @\n", w));
       },
       [](const std::string &d) { CMomentumSmearing s(d + "/sm.dat"); }, "line 3, column 4: sigma"},
      {"phase table",
       [](const std::string &d, const std::string &w) {
         WriteText(d + "/wf.dat",
                   "int NQMAX 3\ndouble DELQ 5\ndouble M1 1\ndouble M2 1\nint NCHANNELS 1\n"
                   "string CHANNEL0_PHASEFILE p.dat\n");
         return WriteText(d + "/p.dat", Replace("0 0 0\n100 0.1 @\n", w));
       },
       [](const std::string &d) { CWaveFunction_generic wf(d + "/wf.dat"); }, "line 2, column 9: ddelta/dq"},
      {"event file",
       [](const std::string &d, const std::string &w) {
         return WriteText(d + "/events.oscar",
                          Replace("#!OSCAR2013 particle_lists t x y z mass p0 px py pz pdg ID charge\n"
                                  "# event 0 out 1\n0 1 2 3 0.14 @ 0.6 0 0 211 0 1\n# event 0 end\n",
                                  w));
       },
       [](const std::string &d) {
         CSourceCalc_OSCAR c;
         parameter::set(c.spars, "OSCARfilename", d + "/events.oscar");
         CSourceCalc_OSCAR::Points ra, rb;
         c.ReadR(ra, rb);
       },
       "line 3, column 14: p0"},
  };
}

}  // namespace

TEST(StrictReaders, EveryReaderRefusesTheSameWordsTheSameWay) {
  Guard guard;
  const struct {
    std::string word, reason;
  } words[] = {
      {"0x1p-1", "is not a number"},
      {"0.1.5", "is not a number"},
      {"1e308ble", "is not a number"},
      {"1.5-2.5", "is not a number"},  // two numbers glued together
      {"3,5", "is not a number"},
      {"nan", "is not a finite number"},
      {"-inf", "is not a finite number"},
      {"1e999", "is not a finite number"},
      // A long word is no number at any length (no cut into two at 127 characters).
      {"0." + std::string(126, '1'), "is longer than 64 characters, no number"},
  };
  for (const Reader &r : Readers()) {
    const std::string dir = ScratchDir(std::string("strict_") + r.name);
    for (const auto &w : words) {
      SCOPED_TRACE(std::string(r.name) + ": " + w.word);
      const std::string file = r.write(dir, w.word);
      ExpectRefused([&] { r.read(dir); }, file,
                    {file + ", " + r.where + " " + femtokit::QuotedWord(w.word) + " " + w.reason});
    }
    // The same input with a number there is read.
    SCOPED_TRACE(r.name);
    r.write(dir, "1");
    EXPECT_NO_THROW(r.read(dir));
  }
}

TEST(StrictReaders, TextAfterTheValues) {
  Guard guard;
  const std::string dir = ScratchDir("strict_trailing");
  // Streams of values warn about text after the last one.
  WriteText(dir + "/k.dat", "int NQMAX 1\nint NRMAX 1\nint NCTHETA 1\n");
  const std::string q = WriteText(dir + "/q0002.00.tmp", "1 1\n0.5 0.25 junk\n");
  CKernelWF k(dir + "/k.dat");
  k.Read(dir);
  EXPECT_EQ(k.GetPsiSquared(0, 0, 1), 1.25);
  EXPECT_TRUE(guard.Printed("Warning: " + q + ", line 2, column 10: text after the last value is ignored")) << guard.text;
  // One value short is refused, whatever the length of the last word.
  WriteText(q, "1 1\n" + std::string(127, '1') + "5\n");
  ExpectRefused([&] { k.Read(dir); }, q, {"longer than 64 characters"});
  WriteText(q, "1 1\n0.5\n");
  ExpectRefused([&] { k.Read(dir); }, q, {"ends after 1 of its 2 values"});
  // Files of rows refuse a row with another number of words.
  WriteText(dir + "/wf.dat", "int NQMAX 3\ndouble DELQ 5\ndouble M1 1\ndouble M2 1\nint NCHANNELS 1\n"
                             "string CHANNEL0_PHASEFILE p.dat\n");
  const std::string p = WriteText(dir + "/p.dat", "0 0 0\n10 0.1.5 0.01 junk\n");
  ExpectRefused([&] { CWaveFunction_generic wf(dir + "/wf.dat"); }, p,
                {p + ", line 2: a row q, delta, ddelta/dq needs 3 numbers, the line holds 4 words"});
  WriteText(p, "0 0 0 # a comment is no word\n100 0.1 0.01\n");
  EXPECT_NO_THROW(CWaveFunction_generic wf(dir + "/wf.dat"));
}

TEST(StrictReaders, LineReaderSplitsLinesOfAnyLength) {
  Guard guard;
  const std::string f = WriteText(ScratchDir("strict_lines") + "/l.dat",
                                  "a  b # c\n\n\t# only a comment\n" + std::string(300, 'x') + " 7\r\n 1e3");
  femtokit::LineReader in(f);
  ASSERT_TRUE(in.NextWithWords());
  EXPECT_EQ(in.Size(), 2u);
  EXPECT_EQ(in.Where(1), f + ", line 1, column 4");
  ASSERT_TRUE(in.NextWithWords());
  EXPECT_EQ(in.Line(), 4);
  ASSERT_EQ(in.Size(), 2u);
  EXPECT_EQ(in.Word(0).size(), 300u);
  EXPECT_EQ(in.Integer(1, 0, 10, "count"), 7);  // "\r" is white space
  EXPECT_TRUE(in.Terminated());
  ASSERT_TRUE(in.NextWithWords());
  EXPECT_EQ(in.Number(0, "x"), 1000.0);
  EXPECT_FALSE(in.Terminated());  // the file ends without a newline
  ExpectRefused([&] { in.Integer(0, 0, 10, "count"); }, f, {f + ", line 5, column 2: count '1e3' is not an integer"});
  ExpectRefused([&] { in.ExpectWords(2, "a pair"); }, f, {f + ", line 5: a pair needs 2 numbers, the line holds 1 words"});
  EXPECT_FALSE(in.NextWithWords());
  // Without comments '#' is a word.
  femtokit::LineReader raw(f, false);
  ASSERT_TRUE(raw.Next());
  EXPECT_EQ(raw.Size(), 4u);
}

#ifdef FEMTOKIT_HAVE_ZLIB
#include <zlib.h>

namespace {
std::string Gzip(const std::string &path, const std::string &text) {
  gzFile f = gzopen(path.c_str(), "wb");
  gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
  gzclose(f);
  return path;
}
}  // namespace

TEST(StrictReaders, GzipFilesReadAsTheirText) {
  Guard guard;
  const std::string dir = ScratchDir("strict_gzip");
  // Lines across block boundaries and one longer than a block (2.5 MB).
  std::string text = "1 2\n" + std::string(2500000, 'y') + " 3\n";
  for (int i = 0; i < 200000; i++) text += std::to_string(i) + " 0.5\n";
  text += "9 9";  // no newline at the end
  for (const std::string &f : {WriteText(dir + "/plain.dat", text), Gzip(dir + "/z.dat.gz", text)}) {
    femtokit::LineReader in(f);
    EXPECT_EQ(in.Compressed(), f.back() == 'z');
    long lines = 0;
    double sum = 0.0;
    while (in.NextWithWords()) {
      lines++;
      sum += in.Number(in.Size() - 1, "last");
    }
    EXPECT_EQ(lines, 200003) << f;
    EXPECT_EQ(sum, 2 + 3 + 0.5 * 200000 + 9) << f;
    EXPECT_FALSE(in.Terminated()) << f;
  }
  // A compressed file cut short is a truncated file: the lines before stand, with a warning.
  const std::string whole = testutil::ReadText(dir + "/z.dat.gz");
  const std::string cut = WriteText(dir + "/cut.gz", whole.substr(0, whole.size() / 2));
  femtokit::LineReader in(cut);
  long lines = 0;
  while (in.NextWithWords()) lines++;
  EXPECT_GT(lines, 2);
  EXPECT_LT(lines, 200003);
  EXPECT_TRUE(guard.Printed("ends early")) << guard.text;
  // Corrupt compressed data is refused, naming the file.
  std::string bad = whole;
  for (std::size_t i = 20; i < 200; i++) bad[i] = static_cast<char>(i * 7);
  const std::string corrupt = WriteText(dir + "/bad.gz", bad);
  ExpectRefused(
      [&] {
        femtokit::LineReader r(corrupt);
        while (r.Next()) {
        }
      },
      corrupt, {"Error reading the compressed file " + corrupt});
}
#else
TEST(StrictReaders, GzipFilesAreRefusedWithoutZlib) {
  Guard guard;
  const std::string f = WriteText(ScratchDir("strict_gzip") + "/z.gz", std::string("\x1f\x8b\x08\x00rest", 8));
  ExpectRefused(
      [&] {
        femtokit::LineReader r(f);
        r.Next();
      },
      f, {"is gzip-compressed", "zlib1g-dev"});
}
#endif
