// Data directories are replaced whole: an error or a kill at any step leaves
// the old set or the new one, never a mix, and nothing outside is touched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "arrays/array3d.h"
#include "arrays/charray.h"
#include "common/child.h"
#include "config/fatal.h"
#include "config/fileio.h"
#include "config/internal/directorywriter.h"
#include "config/output.h"
#include "kernel/kernel.h"

namespace fs = std::filesystem;

namespace {

struct Throwing {
  Throwing() {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
    femtokit::SetVerbosity(femtokit::Verbosity::Silent);
  }
  ~Throwing() {
    femtokit::SetDirectoryWriteHook(nullptr);
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
    femtokit::SetVerbosity(femtokit::Verbosity::Normal);
  }
};

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// An array whose every element is `value`.
struct Filled {
  CCHArray a;
  Filled(int lmax, double value) : a(lmax, 3, 1.0) {
    a.ForEachTriple([&](int lx, int ly, int lz) {
      for (int ir = 0; ir < 3; ++ir) a.SetElement(lx, ly, lz, ir, value);
    });
  }
  void WriteAllA(const std::string &dir) const { a.WriteAllA(dir); }
  void WriteAX(const std::string &dir) const { a.WriteAX(dir); }
};

// The value every lx <= 1 element of the directory's LMAX-2 array holds (the
// others follow from them): -1 when the set is unreadable or mixed.
double SetValue(const std::string &dir) {
  try {
    CCHArray a(2, 3, 1.0);
    a.ReadAllA(dir);
    const double v = a.GetElement(0, 0, 0, 0);
    bool same = true;
    a.ForEachTriple([&](int lx, int ly, int lz) {
      for (int ir = 0; ir < 3; ++ir) same = same && (lx > 1 || a.GetElement(lx, ly, lz, ir) == v);
    });
    return same ? v : -1.0;
  } catch (const femtokit::Error &) {
    return -1.0;
  }
}

// Names beside `dir` that start with "."+its name (scratch directories).
int ScratchEntries(const std::string &dir) {
  const std::string prefix = "." + fs::path(dir).filename().string() + ".";
  int n = 0;
  for (const auto &e : fs::directory_iterator(fs::path(dir).parent_path()))
    if (e.path().filename().string().rfind(prefix, 0) == 0) ++n;
  return n;
}

}  // namespace

TEST(DirectoryWriter, AKillAtAnyStepLeavesTheOldOrTheNewSet) {
  const std::string dir = ScratchDir("dw_kill") + "/set";
  Filled(2, 1.0).WriteAllA(dir);
  std::ofstream(dir + "/notes.txt") << "kept";
  const Filled fresh(2, 2.0);
  bool sawold = false, sawnew = false;
  for (int k = 0;; ++k) {
    ASSERT_LT(k, 100) << "the write never completed";
    // The hook ends the child at its k-th step, with no clean-up: a kill.
    const ChildResult r = RunInChild([&] {
      int step = 0;
      femtokit::SetDirectoryWriteHook([&](const char *, const std::string &) -> int {
        if (step++ == k) _exit(3);
        return 0;
      });
      fresh.WriteAllA(dir);
    });
    const double v = SetValue(dir);
    EXPECT_TRUE(v == 1.0 || v == 2.0) << "step " << k << ": " << v;
    EXPECT_EQ(ReadText(dir + "/notes.txt"), "kept") << "step " << k;
    sawold = sawold || v == 1.0;
    sawnew = sawnew || v == 2.0;
    if (v == 2.0) Filled(2, 1.0).WriteAllA(dir);  // back to the old set for the next step
    if (r.status == 0) break;
    ASSERT_EQ(r.status, 3);
  }
  EXPECT_TRUE(sawold && sawnew);
}

TEST(DirectoryWriter, AFailingStepIsOneErrorAndLeavesTheOldSetAndNoScratch) {
  Throwing guard;
  const std::string dir = ScratchDir("dw_fail") + "/set";
  Filled(2, 1.0).WriteAllA(dir);
  fs::create_directory(dir + "/sub");
  std::ofstream(dir + "/sub/x.dat") << "x";
  const Filled fresh(2, 2.0);
  for (const char *failing : {"mkdir", "open", "close", "carry", "swap"}) {
    femtokit::SetDirectoryWriteHook(
        [&](const char *step, const std::string &) { return std::strcmp(step, failing) == 0 ? EACCES : 0; });
    try {
      fresh.WriteAllA(dir);
      ADD_FAILURE() << failing << ": no error";
    } catch (const femtokit::Error &e) {
      EXPECT_NE(std::string(e.what()).find(dir), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("Permission denied"), std::string::npos) << e.what();
      EXPECT_EQ(e.file().rfind(dir, 0), 0u) << e.file();
    }
    femtokit::SetDirectoryWriteHook(nullptr);
    EXPECT_EQ(SetValue(dir), 1.0) << failing;
    EXPECT_EQ(ScratchEntries(dir), 0) << failing;
    EXPECT_EQ(ReadText(dir + "/sub/x.dat"), "x") << failing;
  }
  // A failed removal of the old set after the swap is no error: the new set stands.
  femtokit::SetDirectoryWriteHook(
      [&](const char *step, const std::string &) { return std::strcmp(step, "cleanup") == 0 ? EIO : 0; });
  fresh.WriteAllA(dir);
  EXPECT_EQ(SetValue(dir), 2.0);
  EXPECT_EQ(ReadText(dir + "/sub/x.dat"), "x");
}

TEST(DirectoryWriter, ARewriteWithFewerFilesLeavesNoStaleFileButKeepsForeignOnes) {
  const std::string dir = ScratchDir("dw_fewer") + "/set";
  CCHArray big(4, 3, 1.0);
  big.RandomizeA(1.0);
  big.WriteAllA(dir);
  std::ofstream(dir + "/README") << "mine";
  fs::create_directories(dir + "/plots/old");
  std::ofstream(dir + "/plots/old/a.png") << "png";
  ASSERT_TRUE(fs::exists(dir + "/lx4_ly0_lz0.tmp"));
  Filled(2, 2.0).WriteAllA(dir);
  EXPECT_FALSE(fs::exists(dir + "/lx4_ly0_lz0.tmp") || fs::exists(dir + "/lx0_ly1_lz3.tmp"));
  EXPECT_EQ(SetValue(dir), 2.0);
  // A later read of the larger shape fails instead of mixing sets.
  CCHArray again(4, 3, 1.0);
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  EXPECT_THROW(again.ReadAllA(dir), femtokit::Error);
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
  EXPECT_EQ(ReadText(dir + "/README"), "mine");
  EXPECT_EQ(ReadText(dir + "/plots/old/a.png"), "png");
  // The lx <= 1 form after the full one: the lx >= 2 files go too.
  Filled(2, 3.0).WriteAX(dir);
  EXPECT_FALSE(fs::exists(dir + "/lx2_ly0_lz0.tmp"));
  // 3D arrays and kernels alike.
  C3DArray a3(3, 1.0, false, false, false), b3(1, 1.0, false, false, false);
  a3.WriteArray(dir + "/a3");
  b3.WriteArray(dir + "/a3");
  EXPECT_FALSE(fs::exists(dir + "/a3/ix2_iy2.tmp"));
  EXPECT_TRUE(fs::exists(dir + "/a3/ix0_iy0.tmp"));
}

TEST(DirectoryWriter, LinksAtScratchOrFinalNamesAreNeverWrittenThrough) {
  const std::string base = ScratchDir("dw_links"), dir = base + "/set", victim = base + "/victim.txt";
  std::ofstream(victim) << "precious";
  fs::create_directories(base + "/victimdir");
  Filled(2, 1.0).WriteAllA(dir);
  // Links at the names of the old scheme's scratch files and at final names.
  fs::create_symlink(victim, dir + "/lx0_ly0_lz0.tmp.partial");
  fs::remove(dir + "/lx1_ly0_lz0.tmp");
  fs::create_symlink(victim, dir + "/lx1_ly0_lz0.tmp");
  // Links at the first scratch-directory names of this process.
  for (int n = 0; n < 50; ++n)
    fs::create_symlink(base + "/victimdir",
                       base + "/.set.new-" + std::to_string(getpid()) + "-" + std::to_string(n));
  Filled(2, 2.0).WriteAllA(dir);
  EXPECT_EQ(SetValue(dir), 2.0);
  EXPECT_EQ(ReadText(victim), "precious");
  EXPECT_TRUE(fs::is_empty(base + "/victimdir"));
  EXPECT_FALSE(fs::is_symlink(dir + "/lx1_ly0_lz0.tmp"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir + "/lx0_ly0_lz0.tmp.partial")));
  // A directory given through a link is replaced where it points; the link stays.
  fs::create_directory_symlink(dir, base + "/link");
  Filled(2, 3.0).WriteAllA(base + "/link");
  EXPECT_TRUE(fs::is_symlink(base + "/link"));
  EXPECT_EQ(SetValue(dir), 3.0);
}

TEST(DirectoryWriter, RefusesTheWorkingDirectoryAndFilesInTheWay) {
  Throwing guard;
  const std::string base = ScratchDir("dw_refuse");
  const fs::path cwd = fs::current_path();
  fs::create_directories(base + "/here/deeper");
  fs::current_path(base + "/here/deeper");
  for (const char *dir : {".", "..", "../../here"}) {
    try {
      Filled(2, 1.0).WriteAllA(dir);
      ADD_FAILURE() << dir;
    } catch (const femtokit::Error &e) {
      EXPECT_NE(std::string(e.what()).find("working directory"), std::string::npos) << e.what();
    }
  }
  fs::current_path(cwd);
  std::ofstream(base + "/file") << "x";
  EXPECT_THROW(Filled(2, 1.0).WriteAllA(base + "/file"), femtokit::Error);
  EXPECT_EQ(ReadText(base + "/file"), "x");
  EXPECT_TRUE(femtokit::MatchesNumbered("ell2_q0006.00.tmp", "ell#_q#.tmp"));
  EXPECT_FALSE(femtokit::MatchesNumbered("ell2_q.tmp", "ell#_q#.tmp"));
  EXPECT_FALSE(femtokit::MatchesNumbered("lx0_ly0_lz0.tmp.keep", "lx#_ly#_lz#.tmp"));
}

TEST(DirectoryWriter, KernelAndItsMeshFileAreOneStep) {
  const std::string base = ScratchDir("dw_kernel"), pars = base + "/k.dat";
  std::ofstream(pars) << "int NQMAX 2\ndouble DELQ 4\nint NRMAX 3\ndouble DELR 0.5\nint KLMAX 0\n";
  femtokit::SetVerbosity(femtokit::Verbosity::Silent);
  CKernel k(pars);
  k.Write(base + "/kd", {{"kparameters.dat", "int NQMAX 2\n"}});
  EXPECT_EQ(ReadText(base + "/kd/kparameters.dat"), "int NQMAX 2\n");
  EXPECT_TRUE(fs::exists(base + "/kd/ell0_q0006.00.tmp"));
  // The mesh file fails: neither it nor the tables change.
  CKernel k1(pars);
  const ChildResult r = RunInChild([&] {
    femtokit::SetDirectoryWriteHook([](const char *step, const std::string &path) {
      return std::strcmp(step, "close") == 0 && path.find("kparameters") != std::string::npos ? ENOSPC : 0;
    });
    k1.Write(base + "/kd", {{"kparameters.dat", "int NQMAX 9\n"}});
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Error writing " + base + "/kd/kparameters.dat"), std::string::npos) << r.output;
  EXPECT_EQ(ReadText(base + "/kd/kparameters.dat"), "int NQMAX 2\n");
  femtokit::SetVerbosity(femtokit::Verbosity::Normal);
}
