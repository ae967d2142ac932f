#ifndef FEMTOKIT_CONFIG_PARAMETERMAP_H
#define FEMTOKIT_CONFIG_PARAMETERMAP_H

#include <map>
#include <string>
#include <vector>

// Ordered map from parameter name to value text. Every typed value passes
// through text: a double from a file keeps every digit it was written with,
// one set through set() keeps 6 significant digits (a whole number all of them). Values read from a
// parameter file remember where they came from, so that a getter that refuses
// one names the file and line.
class parameterMap : public std::map<std::string, std::string> {
 public:
  using std::map<std::string, std::string>::map;
  struct Origin {
    std::string file;
    long line = 0;
    std::string text;  // the value as stored then: a changed value has no origin
  };
  std::map<std::string, Origin> origins;
};

namespace parameter {

// Fills the map from a parameter file of "type name value" lines; "#" in the
// first column starts a comment. Fatal, naming the file and line: a missing
// file, a type that is not int, double, bool or string, a line without a value,
// a numeric value that is not wholly one number of its type (finite doubles;
// ints within range, "1e6" read exactly; bools 0, 1, true, false), words after
// a numeric value. Words after a string value are ignored with a warning.
void ReadParsFromFile(parameterMap &pars, const char *filename);
inline void ReadParsFromFile(parameterMap &pars, const std::string &filename) {
  ReadParsFromFile(pars, filename.c_str());
}

void PrintPars(const parameterMap &pars);

// Where the current value of a key was read from a file; nullptr when it was
// not (set through the library, or changed since).
const parameterMap::Origin *OriginOf(const parameterMap &pars, const std::string &name);

// Typed getters: the default when the key is absent; otherwise the whole text
// must be one value of the type (as the file reader takes them), else fatal,
// naming the key and the text. getV and getM take every word as a finite number.
double getD(const parameterMap &pars, const std::string &name, double def);
int getI(const parameterMap &pars, const std::string &name, int def);
bool getB(const parameterMap &pars, const std::string &name, bool def);
std::string getS(const parameterMap &pars, const std::string &name, const std::string &def);
std::vector<double> getV(const parameterMap &pars, const std::string &name, double def);
std::vector<std::string> getVS(const parameterMap &pars, const std::string &name, const std::string &def);
std::vector<std::vector<double>> getM(const parameterMap &pars, const std::string &name, double def);

// Setters write text: doubles with 6 significant digits, except whole numbers
// below 1e15, which are written in full. ExactText gives the shortest text of
// at least 6 significant digits that reads back as the same double.
std::string ExactText(double value);
void set(parameterMap &pars, const std::string &name, const std::string &value);
void set(parameterMap &pars, const std::string &name, const char *value);
void set(parameterMap &pars, const std::string &name, bool value);
void set(parameterMap &pars, const std::string &name, int value);
void set(parameterMap &pars, const std::string &name, double value);
void set(parameterMap &pars, const std::string &name, const std::vector<double> &value);
void set(parameterMap &pars, const std::string &name, const std::vector<std::string> &value);
void set(parameterMap &pars, const std::string &name, const std::vector<std::vector<double>> &value);

}  // namespace parameter

#endif
