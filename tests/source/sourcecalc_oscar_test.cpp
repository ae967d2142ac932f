#include "source/sourcecalc_oscar.h"
#include "source/species.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/output.h"
#include "config/parametermap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/child.h"

namespace {

const double kMpi = 139.58;

// Throwing errors; warnings collected, everything else dropped.
struct Capture {
  std::string warnings;
  Capture() {
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
    femtokit::SetOutput([this](femtokit::Verbosity level, const std::string &text) {
      if (level == femtokit::Verbosity::Quiet) warnings += text;
    });
  }
  ~Capture() {
    femtokit::SetOutput(femtokit::OutputFunction());
    femtokit::SetFatalPolicy(femtokit::FatalPolicy::Exit);
  }
};

// A particle in MeV (momenta), fm and fm/c (position, time).
struct Particle {
  int id;
  double px, py, pz, x, y, z, t;
  double E() const { return std::sqrt(kMpi * kMpi + px * px + py * py + pz * pz); }
};

// The default format: five header lines; per event "n 0", the particles, three trailer lines.
std::string DefaultFormat(const std::vector<std::vector<Particle>> &events) {
  std::ostringstream s;
  s.precision(17);
  s << "OSC1999A\nfinal_id_p_x\n" << std::string(200, 'h') << "\nheader 4\nheader 5\n";
  for (const auto &ev : events) {
    s << ev.size() << " 0\n";
    int i = 0;
    for (const Particle &p : ev)
      s << i++ << " " << p.id << " 0 " << p.px / 1000 << " " << p.py / 1000 << " " << p.pz / 1000 << " "
        << p.E() / 1000 << " 0.14 " << p.x << " " << p.y << " " << p.z << " " << p.t << "\n";
    s << "0 0\ntrailer 2\ntrailer 3\n";
  }
  return s.str();
}

std::string OSCAR2013(const std::vector<std::vector<Particle>> &events) {
  std::ostringstream s;
  s.precision(17);
  s << "#!OSCAR2013 particle_lists t x y z mass p0 px py pz pdg ID charge\n# Units: fm fm fm fm GeV GeV GeV GeV "
       "GeV none none e\n# generator\n";
  int n = 0;
  for (const auto &ev : events) {
    s << "# event " << n << " out " << ev.size() << "\n";
    for (const Particle &p : ev)
      s << p.t << " " << p.x << " " << p.y << " " << p.z << " 0.14 " << p.E() / 1000 << " " << p.px / 1000 << " "
        << p.py / 1000 << " " << p.pz / 1000 << " " << p.id << " 7 1\n";
    s << "# event " << n++ << " end 0 impact   0.000\n";
  }
  return s.str();
}

std::string WriteFile(const std::string &name, const std::string &text) {
  const std::string file = ScratchDir("oscar_" + name) + "/events.txt";
  std::ofstream(file) << text;
  return file;
}

// A calculator for pi+ pairs of total momentum 600 MeV/c (pa = 300) reading file.
void UseFile(CSourceCalc_OSCAR &c, const std::string &file) {
  c.SetIDs(211, 211);
  parameter::set(c.spars, "OSCARfilename", file);
}

// A pi+ with transverse momentum 300 MeV/c along +x (phi = 90 degrees), rapidity y.
Particle Along(double x, double y, double z, double t, double rapidity = 0.0) {
  const double mT = std::sqrt(300.0 * 300.0 + kMpi * kMpi);
  return {211, 300.0, 0.0, mT * std::sinh(rapidity), x, y, z, t};
}

}  // namespace

TEST(OSCAR, SeparationsMeansAndRadiiOfKnownPoints) {
  Capture capture;
  const double Ea = std::sqrt(300.0 * 300.0 + kMpi * kMpi), gamma = Ea / kMpi;
  // Three pions at rest in the pair frame's transverse motion, emitted at the
  // reference time 12 fm/c: out separations are Lorentz-contracted lengths
  // stretched by gamma, side and long ones unchanged.
  const std::vector<std::vector<Particle>> events = {
      {Along(0, 0, 0, 12), Along(1, 2, 0, 12)}, {Along(3, -1, 4, 12)}};
  for (const std::string &text : {DefaultFormat(events), OSCAR2013(events)}) {
    CSourceCalc_OSCAR c;
    UseFile(c, WriteFile("known", text));
    CSourceCalc_OSCAR::Points ra, rb;
    EXPECT_EQ(c.ReadR(ra, rb), 2);
    ASSERT_EQ(ra.size(), 3u);
    EXPECT_TRUE(rb.empty());
    EXPECT_NEAR(ra[1][1] - ra[0][1], gamma * 1.0, 1e-12);
    EXPECT_NEAR(ra[2][2] - ra[1][2], -3.0, 1e-12);
    EXPECT_NEAR(ra[2][3] - ra[0][3], 4.0, 1e-12);
    EXPECT_NEAR(ra[0][0], ra[2][0] + gamma * 3.0 * (300.0 / Ea), 1e-12);  // t' = gamma (12 - v x)

    // Pairs (1,0), (2,0), (2,1): out separations gamma (1, 3, 2), side (2, -1, -3), long (0, 4, 4).
    CCHArray A(2, 8, 1.0, true, true, true);  // 8 fm: the pair (2,0), 8.2 fm apart, lies beyond
    c.CalcS(&A);
    const CSourceCalc_OSCAR::Summary &s = c.LastSummary();
    EXPECT_EQ(s.pairs, 3.0);
    EXPECT_EQ(s.na, 3.0);
    EXPECT_EQ(s.nb, 3.0);
    auto radius = [](double a, double b, double d) {
      const double mean = (a + b + d) / 3;
      return std::sqrt(0.5 * ((a * a + b * b + d * d) / 3 - mean * mean));
    };
    EXPECT_NEAR(s.mean[0], 2.0 * gamma, 1e-12);
    EXPECT_NEAR(s.mean[1], -2.0 / 3, 1e-12);
    EXPECT_NEAR(s.mean[2], 8.0 / 3, 1e-12);
    EXPECT_NEAR(s.radius[0], gamma * radius(1, 3, 2), 1e-12);
    EXPECT_NEAR(s.radius[1], radius(2, -1, -3), 1e-12);
    EXPECT_NEAR(s.radius[2], radius(0, 4, 4), 1e-12);
    double integral = 0.0, inside = 0.0;
    for (double d : {std::hypot(gamma, 2.0), std::hypot(3 * gamma, 1.0, 4.0), std::hypot(2 * gamma, 3.0, 4.0)})
      inside += d < 8.0;
    EXPECT_EQ(inside, 2.0);
    for (int ir = 0; ir < 8; ir++)
      integral += 4.0 * M_PI / 3.0 * (std::pow(ir + 1.0, 3) - std::pow(ir, 3)) * A.GetElement(0, 0, 0, ir);
    EXPECT_NEAR(integral, inside / 3.0, 1e-12);
  }
}

TEST(OSCAR, FramesFollowTheWorldline) {
  Capture capture;
  // Points on one free worldline give one row: the emission point moves with
  // the particle to the common time in its longitudinally comoving frame.
  // A longitudinal offset at equal times appears as cosh(y) times the offset.
  const double y = 0.4, mT = std::sqrt(300.0 * 300.0 + kMpi * kMpi);
  const double vx = 300.0 / (mT * std::cosh(y)), vz = std::tanh(y);
  const std::vector<std::vector<Particle>> events = {
      {Along(1, 2, 3, 5, y), Along(1 + 7 * vx, 2, 3 + 7 * vz, 12, y), Along(1, 2, 4, 5, y)}};
  CSourceCalc_OSCAR c;
  UseFile(c, WriteFile("worldline", OSCAR2013(events)));
  CSourceCalc_OSCAR::Points ra, rb;
  c.ReadR(ra, rb);
  ASSERT_EQ(ra.size(), 3u);
  for (int k = 0; k < 4; k++) EXPECT_NEAR(ra[0][k], ra[1][k], 1e-12) << k;
  EXPECT_NEAR(ra[2][3] - ra[0][3], std::cosh(y), 1e-12);
}

TEST(OSCAR, SelectionAndSpecies) {
  Capture capture;
  // Kept: the reference particle. Dropped: another species, pT outside the
  // window, azimuth outside (80, 100) degrees (a particle along +y has phi = 0),
  // rapidity outside (-1, 1), pT = 0.
  Particle ref = Along(0, 0, 0, 12);
  Particle kaon = ref, slow = ref, sideways = ref, forward = Along(0, 0, 0, 12, 1.2), still = ref;
  kaon.id = 321;
  slow.px = 250;
  sideways.px = 0;
  sideways.py = 300;
  still.px = 0;
  std::vector<Particle> ev = {ref, kaon, slow, sideways, forward, still, ref};
  ev.back().x = 1;
  CSourceCalc_OSCAR c;
  c.SetSPars(600, 20, 80, 100, -1, 1);
  UseFile(c, WriteFile("select", DefaultFormat({ev})));
  parameter::set(c.spars, "DELPT", 301.0);  // lets pT = 0 through the window, so that only the direction drops it
  CSourceCalc_OSCAR::Points ra, rb;
  c.ReadR(ra, rb);
  EXPECT_EQ(ra.size(), 3u);  // ref, ref' and slow (inside the wide window)
  parameter::set(c.spars, "DELPT", 20.0);
  c.ReadR(ra, rb);
  EXPECT_EQ(ra.size(), 2u);

  // Unlike species: pi+ into list a, pi- into list b, N_a N_b pairs.
  Particle minus = ref;
  minus.id = -211;
  minus.x = 2;
  CSourceCalc_OSCAR u;
  u.SetIDs(211, -211);
  EXPECT_FALSE(parameter::getB(u.spars, "AEQUALB", true));
  parameter::set(u.spars, "OSCARfilename", WriteFile("unlike", OSCAR2013({{ref, minus, minus, ref}})));
  CCHArray A(2, 20, 1.0, false, false, false);
  u.CalcS(&A);
  EXPECT_EQ(u.LastSummary().na, 2.0);
  EXPECT_EQ(u.LastSummary().nb, 2.0);
  EXPECT_EQ(u.LastSummary().pairs, 4.0);

  // Species codes and their masses.
  CSourceCalc_OSCAR ids;
  ids.SetIDs(2212, 2212);
  EXPECT_EQ(parameter::getD(ids.spars, "Mb", 0), 938.28);
  EXPECT_TRUE(parameter::getB(ids.spars, "AEQUALB", false));
  // Any species of the table, antiparticles by the negative code; others with their mass.
  ids.SetIDs(-321, 3122);
  EXPECT_EQ(parameter::getD(ids.spars, "Ma", 0), 493.677);
  EXPECT_EQ(parameter::getD(ids.spars, "Mb", 0), 1115.68);  // six significant digits in the map
  EXPECT_FALSE(parameter::getB(ids.spars, "AEQUALB", true));
  EXPECT_EQ(femtokit::SpeciesMass(1000010020), 1875.613);
  EXPECT_EQ(femtokit::SpeciesName(-3312), "anti-Xi- (-3312)");
  EXPECT_EQ(femtokit::SpeciesMass(-111), 0.0);  // pi0 is its own antiparticle
  EXPECT_THROW(ids.SetIDs(9999999, 211), femtokit::Error);
  EXPECT_THROW(ids.SetIDs(211, 12), femtokit::Error);
  ids.SetIDs(9999999, 9999999, 1500.0, 1500.0);
  EXPECT_EQ(parameter::getD(ids.spars, "Ma", 0), 1500.0);
  EXPECT_THROW(ids.SetIDs(9999999, 211, 0.0, 139.58), femtokit::Error);
}

TEST(OSCAR, MalformedFilesEndTheReadingInOrder) {
  const std::vector<Particle> ev = {Along(0, 0, 0, 12), Along(1, 0, 0, 12), Along(2, 0, 0, 12)};
  const std::string good = DefaultFormat({ev, ev});
  const std::string good13 = OSCAR2013({ev, ev});
  struct Case {
    std::string name, text;
    int events;
    std::size_t particles;
  };
  const std::string truncated = good.substr(0, good.rfind("0 0\ntrailer"));  // second event loses its trailer: fine
  std::string cut = good.substr(0, good.size() - 60);                        // second event ends mid-record
  std::string word = good;
  word.replace(word.find("3 0\n", word.find("trailer 3")) + 4, 1, "x");  // a field of the second event is no number
  std::string nan13 = good13;
  nan13.replace(nan13.find("# event 1 out 3\n") + 16, 4, "nan ");
  std::string short13 = good13;
  short13.replace(short13.find("# event 1 out 3"), 15, "# event 1 out 4");
  // A record cut by the end of the file, even inside a number ("1e" of "1e+01"), is truncation.
  const std::string last = good.substr(0, good.rfind("\n0 0\ntrailer"));
  const std::string cutword = last.substr(0, last.rfind(' ') + 2) + "e";
  const Case cases[] = {
      {"trailer", truncated, 2, 6},  {"cut", cut, 1, 5},          {"cutword", cutword, 1, 5},
      {"short13", short13, 1, 6},    {"open13", good13.substr(0, good13.rfind("# event")), 1, 6},
      {"empty", "", 0, 0},           {"headeronly", "1\n2\n", 0, 0}};
  for (const Case &k : cases) {
    Capture capture;
    CSourceCalc_OSCAR c;
    UseFile(c, WriteFile("bad_" + k.name, k.text));
    CSourceCalc_OSCAR::Points ra, rb;
    EXPECT_EQ(c.ReadR(ra, rb), k.events) << k.name;
    EXPECT_EQ(ra.size(), k.particles) << k.name;
    if (k.name == "trailer") {
      EXPECT_EQ(capture.warnings, "") << k.name;
    } else {
      EXPECT_NE(capture.warnings.find("WARNING"), std::string::npos) << k.name;
      if (k.events > 0 || k.name == "badheader") {
        EXPECT_NE(capture.warnings.find(std::to_string(k.events) + " complete events"), std::string::npos)
            << k.name << ": " << capture.warnings;
      }
    }
    // The fill goes on with what was read; without pairs it warns and leaves A zero.
    CCHArray A(2, 10, 1.0, true, true, true);
    A.SetElement(0, 0, 0, 0, 5.0);
    EXPECT_NO_THROW(c.CalcS(&A)) << k.name;
    if (k.particles < 2) {
      EXPECT_EQ(A.GetElement(0, 0, 0, 0), 0.0);
      EXPECT_NE(capture.warnings.find("no pair"), std::string::npos);
    }
  }

  Capture capture;
  CSourceCalc_OSCAR c;
  CSourceCalc_OSCAR::Points ra, rb;
  // A word that is no number on a complete line is refused with file, line and column.
  const std::pair<std::string, std::string> refused[] = {
      {word, "line 14, column 1: index 'x' is not an integer"},
      {nan13, "line 10, column 1: t 'nan' is not a finite number"},
      {"1\n2\n3\n4\n5\nthree 0\n", "line 6, column 1: particle count 'three' is not an integer"},
  };
  for (const auto &r : refused) {
    const std::string file = WriteFile("refused", r.first);
    UseFile(c, file);
    try {
      c.ReadR(ra, rb);
      ADD_FAILURE() << r.second;
    } catch (const femtokit::Error &e) {
      EXPECT_EQ(e.file(), file);
      EXPECT_NE(std::string(e.what()).find(file + ", " + r.second), std::string::npos) << e.what();
    }
  }
  // A missing file and an OSCAR2013 header without the columns needed are fatal and name the file.
  UseFile(c, ScratchDir("oscar_missing") + "/none.txt");
  try {
    c.ReadR(ra, rb);
    FAIL();
  } catch (const femtokit::Error &e) {
    EXPECT_EQ(e.file(), ScratchDir("oscar_missing") + "/none.txt");
  }
  UseFile(c, WriteFile("columns", "#!OSCAR2013 particle_lists t x y z mass p0 px py pdg\n"));
  EXPECT_THROW(c.ReadR(ra, rb), femtokit::Error);
  // NMAX caps a list (it may hold NMAX, not more); NEVENTSMAX limits the events.
  UseFile(c, WriteFile("cap", good13));
  parameter::set(c.spars, "NMAX", 6);
  EXPECT_EQ(c.ReadR(ra, rb), 2);
  parameter::set(c.spars, "NMAX", 5);
  const std::string cap = parameter::getS(c.spars, "OSCARfilename", "");
  try {
    c.ReadR(ra, rb);
    FAIL();
  } catch (const femtokit::Error &e) {
    EXPECT_EQ(e.file(), cap);
    EXPECT_EQ(std::string(e.what()),
              "event file " + cap + ", event 2 (line 12): too many type-a particles, more than NMAX=5; increase NMAX");
  }
  parameter::set(c.spars, "NMAX", 100);
  parameter::set(c.spars, "NEVENTSMAX", 1);
  EXPECT_EQ(c.ReadR(ra, rb), 1);
  EXPECT_EQ(ra.size(), 3u);
}

TEST(OSCAR, ShippedEventFileGivesItsKnownRadii) {
  Capture capture;
  CSourceCalc_OSCAR c;
  c.ReadSPars(std::string(FEMTOKIT_SOURCE_DIR) + "/data/oscar/oscarparameters.dat");
  parameter::set(c.spars, "OSCARfilename", std::string(FEMTOKIT_SOURCE_DIR) + "/data/oscar/gauss_events.oscar");
  CCHArray A(std::string(FEMTOKIT_SOURCE_DIR) + "/data/oscar/aparameters.dat");
  c.CalcS(&A);
  // The generator's source (tools/oscar/make_oscar_events.cpp): Rside = 4 fm,
  // Rlong^2 = <cosh^2 y> 25 + <sinh^2 y> 9, Rout^2 = gamma^2 (16 + v^2 (<cosh^2 y> 9 + <sinh^2 y> 25))
  // with <sinh^2 y> = 0.03 for |y| < 0.3, gamma = 1.744, v = 0.822; from about
  // 670 selected pions the radii scatter by 3 %.
  const CSourceCalc_OSCAR::Summary &s = c.LastSummary();
  EXPECT_GT(s.na, 500.0);
  EXPECT_EQ(s.pairs, s.na * (s.na - 1) / 2);
  const double sh2 = 0.03, gamma = std::sqrt(kMpi * kMpi + 200.0 * 200.0) / kMpi, v = 200.0 / (gamma * kMpi);
  const double expected[3] = {gamma * std::sqrt(16 + v * v * ((1 + sh2) * 9 + sh2 * 25)), 4.0,
                              std::sqrt((1 + sh2) * 25 + sh2 * 9)};
  for (int k = 0; k < 3; k++) {
    EXPECT_NEAR(s.radius[k], expected[k], 0.08 * expected[k]) << k;
    EXPECT_NEAR(s.mean[k], 0.0, 1.5) << k;
  }
  // Nearly every pair lies inside the 60 fm mesh.
  EXPECT_GT(s.inside / s.pairs, 0.999);
}

#ifdef FEMTOKIT_HAVE_ZLIB
#include <zlib.h>

TEST(OSCAR, GzipFileGivesThePlainFilesParticles) {
  Capture capture;
  std::vector<std::vector<Particle>> events;
  for (int e = 0; e < 40; e++) {
    std::vector<Particle> ev;
    for (int i = 0; i < 30; i++) ev.push_back(Along(0.1 * i, -0.2 * e, 0.3 * i * e, 12.0 - 0.01 * i, 0.001 * i));
    events.push_back(ev);
  }
  const std::string text = OSCAR2013(events);
  const std::string plain = WriteFile("gz_plain", text), gz = ScratchDir("oscar_gz") + "/events.oscar.gz";
  gzFile f = gzopen(gz.c_str(), "wb");
  gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
  gzclose(f);
  CSourceCalc_OSCAR::Points ra, rb, za, zb;
  CSourceCalc_OSCAR c;
  UseFile(c, plain);
  EXPECT_EQ(c.ReadR(ra, rb), 40);
  UseFile(c, gz);
  EXPECT_EQ(c.ReadR(za, zb), 40);
  EXPECT_EQ(ra, za);
  EXPECT_EQ(ra.size(), 1200u);
  EXPECT_EQ(capture.warnings, "");
}
#endif
