// Parameter files: the input is the file. Every stored value is then read back
// through each typed getter.
#include "config/parametermap.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::Setup(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = fuzz::FreshScratch() + "/pars.dat";
  fuzz::WriteFile(path, std::string(reinterpret_cast<const char *>(data), size));
  parameterMap pars;
  parameter::set(pars, "KEPT", 1);
  if (!fuzz::Run(true, [&] { parameter::ReadParsFromFile(pars, path); })) return 0;
  if (pars.find("KEPT") == pars.end()) fuzz::Finding("an entry that was not in the file disappeared");
  for (const auto &entry : pars) {
    if (entry.first.size() > 65536 || entry.second.size() > 65536) fuzz::Finding("a word longer than a line was stored");
    // A getter of another type than the line's may refuse the text: in order.
    fuzz::Run(false, [&] { parameter::getD(pars, entry.first, 0.0); });
    fuzz::Run(false, [&] { parameter::getI(pars, entry.first, 0); });
    fuzz::Run(false, [&] { parameter::getB(pars, entry.first, false); });
    fuzz::Run(false, [&] { parameter::getV(pars, entry.first, 0.0); });
    fuzz::Run(false, [&] { parameter::getM(pars, entry.first, 0.0); });
    parameter::getVS(pars, entry.first, "");
  }
  parameter::PrintPars(pars);
  return 0;
}
