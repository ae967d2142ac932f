// The event-file source on HepMC input: the same particles as an OSCAR2013
// file give the same lists whatever the HepMC units, format version or
// compression; status and species select; a damaged file ends the reading in
// order; a build without HepMC3 refuses such files by name.
#include "source/sourcecalc_oscar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "arrays/charray.h"
#include "common/badinput.h"
#include "common/child.h"
#include "config/parametermap.h"
#include "math/random.h"

#ifdef FEMTOKIT_HAVE_HEPMC3
#include <HepMC3/GenEvent.h>
#include <HepMC3/GenParticle.h>
#include <HepMC3/GenVertex.h>
#include <HepMC3/WriterAscii.h>
#include <HepMC3/WriterAsciiHepMC2.h>
#endif
#ifdef FEMTOKIT_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

using badinput::Guard;

CSourceCalc_OSCAR::Points Read(const std::string &file, int ida = 211, int status = 1, int *events = nullptr) {
  CSourceCalc_OSCAR c;
  c.SetIDs(ida, ida);
  c.SetSPars(600, 100, 0, 360, -2, 2);
  parameter::set(c.spars, "OSCARfilename", file);
  parameter::set(c.spars, "STATUS", status);
  CSourceCalc_OSCAR::Points ra, rb;
  const int n = c.ReadR(ra, rb);
  if (events) *events = n;
  return ra;
}

#ifdef FEMTOKIT_HAVE_HEPMC3
// A particle: code, status, momentum (MeV), emission point (fm, fm/c).
struct P {
  int id, status;
  double px, py, pz, x, y, z, t;
  double E() const { return std::sqrt(139.58 * 139.58 + px * px + py * py + pz * pz); }
};

std::vector<std::vector<P>> Events() {
  CRandom rng(4);
  std::vector<std::vector<P>> events(6);
  for (auto &ev : events)
    for (int i = 0; i < 40; i++)
      ev.push_back({i % 7 == 3 ? -211 : 211, i % 9 == 4 ? 2 : 1, 300 + 20 * rng.gauss(), 30 * rng.gauss(),
                    40 * rng.gauss(), 4 * rng.gauss(), 4 * rng.gauss(), 5 * rng.gauss(), 12 + 3 * rng.gauss()});
  return events;
}

std::string FinalStateOSCAR2013(const std::vector<std::vector<P>> &events) {
  std::ostringstream s;
  s.precision(17);
  s << "#!OSCAR2013 particle_lists t x y z mass p0 px py pz pdg ID charge\n";
  int n = 0;
  for (const auto &ev : events) {
    int final = 0;
    for (const P &p : ev) final += p.status == 1;
    s << "# event " << n << " out " << final << "\n";
    for (const P &p : ev)
      if (p.status == 1)
        s << p.t << " " << p.x << " " << p.y << " " << p.z << " 0.14 " << p.E() / 1000 << " " << p.px / 1000 << " "
          << p.py / 1000 << " " << p.pz / 1000 << " " << p.id << " 7 1\n";
    s << "# event " << n++ << " end 0 impact   0.000\n";
  }
  return s.str();
}

void ExpectSame(const CSourceCalc_OSCAR::Points &a, const CSourceCalc_OSCAR::Points &b, const std::string &what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (std::size_t i = 0; i < a.size(); i++)
    for (int k = 0; k < 4; k++) ASSERT_NEAR(a[i][k], b[i][k], 1e-9 * (1 + std::fabs(b[i][k]))) << what << " " << i;
}

// The events through HepMC3's writers, in the given units.
template <class Writer>
std::string WriteHepMC(const std::string &file, const std::vector<std::vector<P>> &events, HepMC3::Units::MomentumUnit mu,
                       HepMC3::Units::LengthUnit lu) {
  Writer out(file);
  const double pscale = mu == HepMC3::Units::GEV ? 1e-3 : 1.0, lscale = lu == HepMC3::Units::MM ? 1e-12 : 1e-13;
  int n = 0;
  for (const auto &ev : events) {
    HepMC3::GenEvent event(mu, lu);
    event.set_event_number(n++);
    auto beam = std::make_shared<HepMC3::GenVertex>();
    beam->add_particle_in(std::make_shared<HepMC3::GenParticle>(HepMC3::FourVector(0, 0, 1, 1), 2212, 4));
    event.add_vertex(beam);
    for (const P &p : ev) {
      auto v = std::make_shared<HepMC3::GenVertex>(
          HepMC3::FourVector(p.x * lscale, p.y * lscale, p.z * lscale, p.t * lscale));
      auto parent = std::make_shared<HepMC3::GenParticle>(HepMC3::FourVector(0, 0, 0, 1), 211, 11);
      beam->add_particle_out(parent);
      v->add_particle_in(parent);
      v->add_particle_out(std::make_shared<HepMC3::GenParticle>(
          HepMC3::FourVector(p.px * pscale, p.py * pscale, p.pz * pscale, p.E() * pscale), p.id, p.status));
      event.add_vertex(v);
    }
    out.write_event(event);
  }
  out.close();
  return file;
}
#endif

}  // namespace

#ifdef FEMTOKIT_HAVE_HEPMC3

TEST(HepMC, SameParticlesAsOSCARInAnyUnitsVersionAndCompression) {
  Guard guard;
  const std::string dir = ScratchDir("hepmc_same");
  const auto events = Events();
  const std::string oscar = badinput::WriteText(dir + "/e.oscar", FinalStateOSCAR2013(events));
  const CSourceCalc_OSCAR::Points ref = Read(oscar);
  ASSERT_GT(ref.size(), 100u);
  int n = 0;
  ExpectSame(Read(WriteHepMC<HepMC3::WriterAscii>(dir + "/gev_mm.hepmc3", events, HepMC3::Units::GEV, HepMC3::Units::MM),
                  211, 1, &n),
             ref, "HepMC3 GeV mm");
  EXPECT_EQ(n, 6);
  ExpectSame(Read(WriteHepMC<HepMC3::WriterAscii>(dir + "/mev_cm.hepmc3", events, HepMC3::Units::MEV, HepMC3::Units::CM)),
             ref, "HepMC3 MeV cm");
  ExpectSame(Read(WriteHepMC<HepMC3::WriterAsciiHepMC2>(dir + "/v2.hepmc2", events, HepMC3::Units::GEV,
                                                        HepMC3::Units::MM)),
             ref, "HepMC2 GeV mm");
  // pi- and the status-2 particles are other selections.
  const auto minus = Read(dir + "/mev_cm.hepmc3", -211), decayed = Read(dir + "/mev_cm.hepmc3", 211, 2);
  std::size_t nminus = 0, ndecayed = 0;
  for (const auto &ev : events)
    for (const P &p : ev) {
      nminus += p.id == -211 && p.status == 1;
      ndecayed += p.id == 211 && p.status == 2;
    }
  EXPECT_EQ(minus.size(), nminus);
  EXPECT_EQ(decayed.size(), ndecayed);
  EXPECT_GT(ndecayed, 0u);
#ifdef FEMTOKIT_HAVE_ZLIB
  std::ifstream in(dir + "/gev_mm.hepmc3", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  gzFile f = gzopen((dir + "/z.hepmc3.gz").c_str(), "wb");
  gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
  gzclose(f);
  ExpectSame(Read(dir + "/z.hepmc3.gz"), ref, "gzip HepMC3");
#endif
  EXPECT_FALSE(guard.Printed("WARNING")) << guard.text;
}

TEST(HepMC, DamagedFileEndsTheReadingInOrder) {
  Guard guard;
  const std::string dir = ScratchDir("hepmc_damaged");
  const auto events = Events();
  const std::string file =
      WriteHepMC<HepMC3::WriterAscii>(dir + "/e.hepmc3", events, HepMC3::Units::GEV, HepMC3::Units::MM);
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The fourth event's first particle line loses its momentum.
  std::size_t at = text.find("\nE 3 ");
  at = text.find("\nP ", at) + 1;
  const std::size_t end = text.find('\n', at);
  text.replace(at, end - at, "P 1 0 2212 x");
  int n = 0;
  const auto ra = Read(badinput::WriteText(dir + "/bad.hepmc3", text), 211, 1, &n);
  EXPECT_EQ(n, 3);
  EXPECT_TRUE(guard.Printed("event 4 is malformed or truncated")) << guard.text;
  EXPECT_TRUE(guard.Printed("after 3 complete events")) << guard.text;
  std::vector<std::vector<P>> first(events.begin(), events.begin() + 3);
  ExpectSame(ra, Read(badinput::WriteText(dir + "/three.oscar", FinalStateOSCAR2013(first))), "three events");

  // Each damage in the fourth event stops the reading after three, with the reason; none reaches the library.
  std::ifstream again(file, std::ios::binary);
  const std::string good((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
  const std::size_t e3 = good.find("\nE 3 ") + 1, v = good.find("\nV -2 0 [", e3) + 1;
  struct Damage {
    std::string name, text, reason;
  };
  std::string farref = good, unknown = good, cut = good.substr(0, good.find("\nE 4 ") - 7);
  farref.replace(farref.find('[', v), 1, "[7430,");
  unknown.insert(v, "Q 1 2 3\n");
  const Damage damages[] = {
      {"farref", farref, "an incoming particle of a vertex is none defined before"},
      {"unknown", unknown, "a line of an event begins with 'Q'"},
      {"cut", cut, "the file ends inside"},
  };
  for (const Damage &d : damages) {
    Guard g;
    int k = 0;
    Read(badinput::WriteText(dir + "/" + d.name + ".hepmc3", d.text), 211, 1, &k);
    EXPECT_EQ(k, 3) << d.name;
    EXPECT_TRUE(g.Printed("event 4 is malformed or truncated at line")) << d.name << g.text;
    EXPECT_TRUE(g.Printed(d.reason)) << d.name << g.text;
  }
}

TEST(HepMC, ShippedFileGivesTheGeneratorsRadii) {
  Guard guard;
  CSourceCalc_OSCAR c;
  c.ReadSPars(std::string(FEMTOKIT_SOURCE_DIR) + "/data/oscar/oscarparameters.dat");
  parameter::set(c.spars, "OSCARfilename", std::string(FEMTOKIT_SOURCE_DIR) + "/data/hepmc/gauss_events.hepmc3");
  CCHArray A(4, 60, 1.0, true, true, true);
  c.CalcS(&A);
  // tools/hepmc/make_hepmc_events.cpp: the source of data/oscar (Rside = 4 fm, see the OSCAR test).
  const double sh2 = 0.03, m = 139.58, gamma = std::sqrt(m * m + 200.0 * 200.0) / m, v = 200.0 / (gamma * m);
  const double expected[3] = {gamma * std::sqrt(16 + v * v * ((1 + sh2) * 9 + sh2 * 25)), 4.0,
                              std::sqrt((1 + sh2) * 25 + sh2 * 9)};
  const CSourceCalc_OSCAR::Summary &s = c.LastSummary();
  EXPECT_EQ(s.events, 60);
  EXPECT_GT(s.na, 300.0);
  for (int k = 0; k < 3; k++) EXPECT_NEAR(s.radius[k], expected[k], 0.1 * expected[k]) << k;
}

#else

TEST(HepMC, RefusedWithoutTheLibrary) {
  Guard guard;
  const std::string file = badinput::WriteText(ScratchDir("hepmc_none") + "/e.hepmc3",
                                               "HepMC::Version 3.01.02\nHepMC::Asciiv3-START_EVENT_LISTING\n");
  badinput::ExpectRefused([&] { Read(file); }, file, {"is a HepMC file", "libhepmc3-dev"});
}

#endif
