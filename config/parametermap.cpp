#include "config/parametermap.h"

#include "config/fatal.h"
#include "config/fileio.h"
#include "config/numberreader.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace parameter {

namespace {

// The first whitespace-delimited word that a stream insertion of the value writes.
template <typename T>
std::string FirstWord(const T &value) {
  std::ostringstream out;
  out << value;
  std::istringstream in(out.str());
  std::string word;
  in >> word;
  return word;
}

const std::string *Find(const parameterMap &pars, const std::string &name) {
  auto it = pars.find(name);
  return it == pars.end() ? nullptr : &it->second;
}

// Leading numbers of a text, read one after the other until the first non-number.
std::vector<double> Numbers(const std::string &text) {
  std::vector<double> result;
  std::istringstream in(text);
  double x;
  while (in >> x) result.push_back(x);
  return result;
}

template <typename T>
T ParseLeading(const parameterMap &pars, const std::string &name, T def) {
  const std::string *text = Find(pars, name);
  if (!text) return def;
  std::istringstream in(*text);
  T value;
  if (!(in >> value)) return def;
  return value;
}

}  // namespace

namespace {

// Lines hold at most this many characters before their newline (a trailing
// carriage return not counted); a longer line ends the reading.
constexpr std::size_t kMaxLine = 99;

// The leading integer of a word as atoi reads it, without atoi's undefined
// overflow: beyond the range of int it saturates, and `clamped` is set.
int LeadingInt(const std::string &word, bool &clamped) {
  std::size_t i = 0;
  const bool negative = !word.empty() && word[0] == '-';
  if (!word.empty() && (word[0] == '-' || word[0] == '+')) i = 1;
  long long magnitude = 0;
  clamped = false;
  for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (word[i] - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) {
      magnitude = static_cast<long long>(INT_MAX) + 1;
      clamped = true;
    }
  }
  const long long value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) {
    clamped = true;
    return INT_MAX;
  }
  return static_cast<int>(value);
}

// Reads one line into `line` (without its newline). Returns false at the end
// of the file; sets `toolong` and stops reading when the line exceeds kMaxLine.
bool ReadLine(std::FILE *file, std::string &line, bool &toolong) {
  line.clear();
  toolong = false;
  int c;
  while ((c = std::getc(file)) != EOF && c != '\n') {
    line.push_back(static_cast<char>(c));
    if (line.size() > kMaxLine + 1 || (line.size() == kMaxLine + 1 && line.back() != '\r')) {
      toolong = true;
      return true;
    }
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMaxLine) toolong = true;
  return c != EOF || !line.empty();
}

}  // namespace

void ReadParsFromFile(parameterMap &pars, const char *filename) {
  femtokit::FilePtr file(std::fopen(filename, "r"));
  if (!file) femtokit::FatalFile(filename, "attempting to read non-existent parameter file %s\n", filename);
  std::string line;
  bool toolong;
  for (long lineno = 1; ReadLine(file.get(), line, toolong); ++lineno) {
    if (toolong) {
      femtokit::Warn("Warning: parameter file %s, line %ld has 100 or more characters; reading ends there\n",
                     filename, lineno);
      break;
    }
    if (line.empty() || line[0] == '#' || line.size() <= 4) continue;
    std::istringstream words(line);
    std::string type, name, value, extra;
    if (!(words >> type >> name >> value)) {  // fewer than three words: nothing stored
      femtokit::Warn("Warning: parameter file %s, line %ld has no value; it is ignored\n", filename, lineno);
      continue;
    }
    if (words >> extra)
      femtokit::Warn("Warning: parameter file %s, line %ld: words after the value of %s are ignored\n", filename,
                     lineno, name.c_str());
    // Values that are not wholly numbers are still converted leniently (leading
    // number, else 0), with a warning; only non-finite doubles are not stored.
    const std::string shown = femtokit::QuotedWord(value);
    long long integer;
    double number;
    if (type == "int" || type == "bool") {
      bool clamped;
      const int converted = LeadingInt(value, clamped);
      if (!femtokit::ParseInteger(value, integer))
        femtokit::Warn("Warning: parameter file %s, line %ld: value %s of %s is not an integer; read as %d\n",
                       filename, lineno, shown.c_str(), name.c_str(), converted);
      else if (clamped && type == "int")
        femtokit::Warn("Warning: parameter file %s, line %ld: value %s of %s is beyond the range of int; read as %d\n",
                       filename, lineno, shown.c_str(), name.c_str(), converted);
      if (type == "int")
        set(pars, name, converted);
      else
        set(pars, name, clamped || converted != 0);
    } else if (type == "double") {
      const double converted = std::atof(value.c_str());
      if (!std::isfinite(converted)) {
        femtokit::Warn("Warning: parameter file %s, line %ld: value %s of %s is not a finite number; the line is "
                       "ignored\n",
                       filename, lineno, shown.c_str(), name.c_str());
        continue;
      }
      if (!femtokit::ParseNumber(value, number))
        femtokit::Warn("Warning: parameter file %s, line %ld: value %s of %s is not a number; read as %g\n",
                       filename, lineno, shown.c_str(), name.c_str(), converted);
      set(pars, name, converted);
    } else if (type == "string") {
      set(pars, name, value);
    }
  }
  // A name that opens but cannot be read (a directory) is no parameter file either.
  if (std::ferror(file.get()))
    femtokit::FatalFile(filename, "attempting to read non-existent parameter file %s\n", filename);
}

void PrintPars(const parameterMap &pars) {
  for (const auto &entry : pars) femtokit::Print("%s = %s\n", entry.first.c_str(), entry.second.c_str());
}

double getD(const parameterMap &pars, const std::string &name, double def) {
  return ParseLeading<double>(pars, name, def);
}

int getI(const parameterMap &pars, const std::string &name, int def) {
  return ParseLeading<int>(pars, name, def);
}

bool getB(const parameterMap &pars, const std::string &name, bool def) {
  return ParseLeading<bool>(pars, name, def);
}

std::string getS(const parameterMap &pars, const std::string &name, const std::string &def) {
  const std::string *text = Find(pars, name);
  return text ? *text : def;
}

std::vector<double> getV(const parameterMap &pars, const std::string &name, double def) {
  const std::string *text = Find(pars, name);
  if (!text) return {def};
  return Numbers(*text);
}

std::vector<std::string> getVS(const parameterMap &pars, const std::string &name, const std::string &def) {
  const std::string *text = Find(pars, name);
  if (!text) return {def};
  std::vector<std::string> result;
  std::istringstream in(*text);
  std::string word;
  while (in >> word) result.push_back(word);
  return result;
}

std::vector<std::vector<double>> getM(const parameterMap &pars, const std::string &name, double def) {
  const std::string *text = Find(pars, name);
  if (!text) return {{def}};
  std::vector<std::vector<double>> result;
  std::istringstream in(*text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<double> row = Numbers(line);
    if (!row.empty()) result.push_back(row);
  }
  return result;
}

void set(parameterMap &pars, const std::string &name, const std::string &value) { pars[name] = value; }
void set(parameterMap &pars, const std::string &name, const char *value) { pars[name] = std::string(value); }
void set(parameterMap &pars, const std::string &name, bool value) { pars[name] = FirstWord(value); }
void set(parameterMap &pars, const std::string &name, int value) { pars[name] = FirstWord(value); }
void set(parameterMap &pars, const std::string &name, double value) { pars[name] = FirstWord(value); }

void set(parameterMap &pars, const std::string &name, const std::vector<double> &value) {
  std::ostringstream out;
  for (double x : value) out << "    " << x << "\n";
  pars[name] = out.str();
}

void set(parameterMap &pars, const std::string &name, const std::vector<std::string> &value) {
  std::ostringstream out;
  for (const std::string &s : value) out << "    " << s << "\n";
  pars[name] = out.str();
}

void set(parameterMap &pars, const std::string &name, const std::vector<std::vector<double>> &value) {
  std::ostringstream out;
  for (const auto &row : value) {
    out << "    ";
    for (double x : row) out << x << " ";
    out << "\n";
  }
  pars[name] = out.str();
}

}  // namespace parameter
