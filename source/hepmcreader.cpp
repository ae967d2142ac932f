#include "source/internal/hepmcreader.h"

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

// The bytes of a file, decompressed when it is compressed, as a stream for HepMC3's readers.
class SourceBuffer : public std::streambuf {
 public:
  explicit SourceBuffer(ByteSource &source) : source_(source), buffer_(std::size_t(1) << 20) {}

 protected:
  int_type underflow() override {
    const std::size_t n = source_.Read(buffer_.data(), buffer_.size());
    if (n == 0) return traits_type::eof();
    setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
    return traits_type::to_int_type(*gptr());
  }

 private:
  ByteSource &source_;
  std::vector<char> buffer_;
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
  ByteSource source(filename);
  if (!source.IsOpen()) FatalFile(filename, "Cannot open event file %s\n", filename.c_str());
  SourceBuffer buffer(source);
  std::istream stream(&buffer);
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
