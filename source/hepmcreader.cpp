#include "source/internal/hepmcreader.h"

#include <climits>
#include <cstring>
#include <streambuf>
#include <vector>

#include "config/fatal.h"
#include "config/internal/bytesource.h"
#include "config/numberreader.h"
#include "config/output.h"

#ifdef FEMTOKIT_HAVE_HEPMC3
#include <HepMC3/GenEvent.h>
#include <HepMC3/GenParticle.h>
#include <HepMC3/GenVertex.h>
#include <HepMC3/ReaderAscii.h>
#include <HepMC3/ReaderAsciiHepMC2.h>
#include <HepMC3/Setup.h>
#endif

namespace femtokit {

int HepMCVersion(const std::string &filename) {
  LineReader in(filename, false);
  if (!in.IsOpen()) return 0;
  for (int i = 0; i < 5 && in.Next(); i++) {
    const std::string_view text = in.Text();
    if (text.rfind("HepMC::Asciiv3-START_EVENT_LISTING", 0) == 0) return 3;
    if (text.rfind("HepMC::IO_GenEvent-START_EVENT_LISTING", 0) == 0) return 2;
    if (text.rfind("HepMC::", 0) != 0) return 0;
  }
  return 0;
}

#ifdef FEMTOKIT_HAVE_HEPMC3

namespace {

// The events of a HepMC3 ASCII file, each checked line by line by the strict
// reader before HepMC3's reader sees it (the library trusts its input: a
// particle or vertex reference out of range crashes it). An event that fails
// a check, or that the file cuts short, ends the stream after the complete
// events before it, with a warning naming the file, line and event. HepMC2
// files pass through as they are.
class EventFeed : public std::streambuf {
 public:
  EventFeed(const std::string &filename, int version) : in_(filename, false), version_(version) {}

 protected:
  int_type underflow() override {
    text_.clear();
    while (text_.empty() && !done_) Fill();
    if (text_.empty()) return traits_type::eof();
    setg(&text_[0], &text_[0], &text_[0] + text_.size());
    return traits_type::to_int_type(*gptr());
  }

 private:
  void Append() {
    text_.append(in_.Text().data(), in_.Text().size());
    text_ += '\n';
  }
  // The next piece of text: header lines, one checked event, or the end.
  void Fill() {
    if (version_ != 3) {  // HepMC2: line by line
      if (in_.Next()) Append();
      else done_ = true;
      return;
    }
    if (!pending_) {
      if (!in_.Next()) {
        done_ = true;
        return;
      }
      if (!(in_.Size() > 0 && in_.Word(0) == "E")) {  // header and footer lines
        Append();
        return;
      }
    }
    pending_ = false;
    Event();
  }
  [[noreturn]] void Stop(const std::string &why) {
    Warn("WARNING: HepMC file %s: event %d is malformed or truncated at line %ld (%s); reading stops after %d "
         "complete events, keeping the particles read so far\n",
         in_.filename().c_str(), events_ + 1, in_.Line(), why.c_str(), events_);
    throw Stopped();
  }
  long long Int(std::size_t i, long long lo, long long hi, const char *what) {
    long long v;
    if (i >= in_.Size() || !in_.IsInteger(i, v) || v < lo || v > hi)
      Stop(Format("%s is not an integer from %lld to %lld", what, lo, hi));
    return v;
  }
  void Numbers(std::size_t first, std::size_t n, const char *what) {
    double v;
    for (std::size_t i = first; i < first + n; i++)
      if (i >= in_.Size() || !in_.IsNumber(i, v)) Stop(Format("%s needs %zu finite numbers", what, n));
  }
  // An event: its "E" line is the current line.
  void Event() {
    const std::size_t start = text_.size();
    try {
      if (!in_.Terminated()) Stop("the file ends inside the line");
      const long long nv = Int(2, 0, 100000000, "the vertex count"), np = Int(3, 0, 100000000, "the particle count");
      Int(1, LLONG_MIN, LLONG_MAX, "the event number");
      if (in_.Size() > 4) {
        if (in_.Size() != 9 || in_.Word(4) != "@") Stop("an event line is \"E n vertices particles [@ x y z t]\"");
        Numbers(5, 4, "the event position");
      }
      Append();
      long long vertices = 0, particles = 0, lines = 0;  // vertices known, particles, vertex lines
      while (true) {
        if (!in_.Next()) {
          if (particles != np) Stop("the file ends inside the event");
          done_ = true;
          break;
        }
        if (!in_.Terminated()) Stop("the file ends inside the line");
        const std::string_view key = in_.Size() > 0 ? in_.Word(0) : std::string_view();
        if (key == "E" || key.rfind("HepMC::", 0) == 0) {
          if (particles != np || lines > nv)
            Stop(Format("the event announced %lld vertices and %lld particles and holds %lld vertex lines and %lld "
                        "particles", nv, np, lines, particles));
          if (key == "E") pending_ = true;
          else footer_ = true;
          break;
        }
        if (key == "P") {
          if (in_.Size() != 10) Stop("a particle line is \"P id parent pdg px py pz e m status\"");
          if (Int(1, 1, np, "the particle id") != particles + 1) Stop("particle ids must follow one another from 1");
          // A particle parent implies that particle's end vertex: vertices known so far are at most
          // the vertex lines and the particles with a particle parent.
          if (Int(2, -vertices, particles, "the parent (a vertex or a particle defined before)") > 0) vertices++;
          Int(3, INT_MIN, INT_MAX, "the pdg code");
          Numbers(4, 5, "a particle");
          Int(9, INT_MIN, INT_MAX, "the status");
          particles++;
        } else if (key == "V") {
          if (in_.Size() != 4 && in_.Size() != 9) Stop("a vertex line is \"V id status [particles] [@ x y z t]\"");
          Int(1, -nv, -1, "the vertex id");
          Int(2, INT_MIN, INT_MAX, "the vertex status");
          const std::string_view list = in_.Word(3);
          if (list.size() < 3 || list.front() != '[' || list.back() != ']') Stop("a vertex needs its incoming particles [i,j,...]");
          std::size_t at = 1;
          while (at < list.size() - 1) {
            std::size_t end = list.find(',', at);
            if (end == std::string_view::npos) end = list.size() - 1;
            long long id = 0;
            if (!ParseInteger(std::string(list.substr(at, end - at)), id) || id < 1 || id > particles)
              Stop("an incoming particle of a vertex is none defined before");
            at = end + 1;
          }
          if (in_.Size() == 9) {
            if (in_.Word(4) != "@") Stop("a vertex position follows \"@\"");
            Numbers(5, 4, "a vertex position");
          }
          vertices++;
          lines++;
        } else if (key == "U") {
          if (in_.Size() != 3 || !(in_.Word(1) == "GEV" || in_.Word(1) == "MEV") ||
              !(in_.Word(2) == "MM" || in_.Word(2) == "CM"))
            Stop("a units line is \"U GEV|MEV MM|CM\"");
        } else if (key != "A" && key != "W" && key != "C" && key != "T" && key != "N" && !key.empty()) {
          Stop(Format("a line of an event begins with %s", QuotedWord(key).c_str()));
        }
        Append();
      }
      events_++;
      if (footer_) {
        Append();
        footer_ = false;
      }
    } catch (const Stopped &) {
      text_.resize(start);
      done_ = true;
    }
  }
  struct Stopped {};

  LineReader in_;
  int version_;
  std::string text_;
  bool pending_ = false, footer_ = false, done_ = false;
  int events_ = 0;
};

// mm to fm.
constexpr double kFmPerMm = 1.0e12;

template <class Reader>
int ReadEvents(Reader &reader, const std::istream &stream, const std::string &filename, int neventsmax, int status, long long ida, long long idb,
               const std::function<void(const HepMCParticle &)> &take) {
  int events = 0;
  long novertex = 0;
  HepMC3::GenEvent event;
  while (events < neventsmax) {
    event.clear();
    const bool ok = reader.read_event(event);
    if (!ok || (reader.failed() && event.particles().empty())) {
      // The end of the listing, or an event the library refused.
      if (!(stream.eof() && event.particles().empty()))
        Warn("WARNING: HepMC file %s: event %d is malformed or truncated (the HepMC3 library could not read it); "
             "reading stops after %d complete events, keeping the particles read so far\n",
             filename.c_str(), events + 1, events);
      break;
    }
    event.set_units(HepMC3::Units::MEV, HepMC3::Units::MM);
    for (const auto &p : event.particles()) {
      if (p->status() != status || (p->pid() != ida && p->pid() != idb)) continue;
      const HepMC3::ConstGenVertexPtr v = p->production_vertex();
      if (!v) {
        novertex++;
        continue;
      }
      const HepMC3::FourVector &m = p->momentum();
      const HepMC3::FourVector x = v->position();
      take({p->pid(), m.px(), m.py(), m.pz(), m.e(), kFmPerMm * x.x(), kFmPerMm * x.y(), kFmPerMm * x.z(),
            kFmPerMm * x.t(), events + 1});
    }
    events++;
    if (reader.failed()) break;
  }
  if (novertex > 0)
    Warn("WARNING: HepMC file %s: %ld selected particles have no production vertex and are skipped\n",
         filename.c_str(), novertex);
  return events;
}

}  // namespace

int ReadHepMC(const std::string &filename, int version, int neventsmax, int status, long long ida, long long idb,
              const std::function<void(const HepMCParticle &)> &take) {
  // The library's own messages would bypass the program's output channel.
  HepMC3::Setup::set_print_errors(false);
  HepMC3::Setup::set_print_warnings(false);
  EventFeed feed(filename, version);
  std::istream stream(&feed);
  if (version == 3) {
    HepMC3::ReaderAscii reader(stream);
    return ReadEvents(reader, stream, filename, neventsmax, status, ida, idb, take);
  }
  HepMC3::ReaderAsciiHepMC2 reader(stream);
  return ReadEvents(reader, stream, filename, neventsmax, status, ida, idb, take);
}

#else

int ReadHepMC(const std::string &filename, int, int, int, long long, long long,
              const std::function<void(const HepMCParticle &)> &) {
  FatalFile(filename,
            "%s is a HepMC file, and this build of femtokit reads no HepMC files (build it with HepMC3, Debian package "
            "libhepmc3-dev)\n",
            filename.c_str());
}

#endif

}  // namespace femtokit
