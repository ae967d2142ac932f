#ifndef FEMTOKIT_SOURCE_SOURCEPARAMETERS_H
#define FEMTOKIT_SOURCE_SOURCEPARAMETERS_H

#include <string>
#include <vector>

#include "config/parametermap.h"

namespace femtokit {

// One parameter of a source model, as the model checks it and as the
// program's help, the fit tables and the Python module describe it.
struct SourceParameter {
  const char *name;     // key in the model's spars
  const char *unit;     // "fm", "MeV", "rad", "" for pure numbers
  double def;           // value InitSPars writes
  double min, max;      // the allowed range ...
  bool minOpen, maxOpen;  // ... with open (excluded) or closed ends
  double step;          // first step of a fit (same unit)
  bool integer;         // a count (read as int)
  const char *meaning;  // one line
};

// The parameters of one source model, in the order a user sees them.
struct SourceModel {
  const char *name;  // "gx1d", "levy", "gauss3d", "blast", "events"
  const char *title;  // one line: what the model is
  std::vector<SourceParameter> parameters;

  // The parameter of that name; nullptr when the model has none.
  const SourceParameter *Find(const std::string &key) const;
};

// "(0, 1000] fm", "[0, 1]": the range as the messages show it.
std::string RangeText(const SourceParameter &p);

// True when value lies in p's range (and is an integer where p counts).
bool InRange(const SourceParameter &p, double value);

// The value of p in spars (p.def when absent). Fatal, naming the model, the
// parameter, the value and the range, when the text is not one finite number
// or the value lies outside the range.
double ReadChecked(const parameterMap &spars, const SourceModel &model, const SourceParameter &p);
// The same by name; fatal when the model has no parameter of that name.
double ReadChecked(const parameterMap &spars, const SourceModel &model, const std::string &name);

// Every parameter of the model present in spars checked at once (a fill calls
// this before it computes anything).
void CheckAll(const parameterMap &spars, const SourceModel &model);

// The models' tables.
const SourceModel &GX1DModel();
const SourceModel &LevyModel();
const SourceModel &Gauss3DModel();
const SourceModel &BlastModel();
const SourceModel &EventsModel();
// All of them, and one by its name (nullptr when unknown).
const std::vector<const SourceModel *> &SourceModels();
const SourceModel *FindSourceModel(const std::string &name);

}  // namespace femtokit

#endif
