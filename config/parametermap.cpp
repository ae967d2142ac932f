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

// The whitespace-separated words of a text.
std::vector<std::string> Words(const std::string &text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

// A whole word as an integer within the range of int: decimal digits, or a
// number in any decimal form whose value is an exact integer ("1e+06", the
// text a double setter writes for a million). Why it is not, otherwise.
const char *ToInt(const std::string &word, int &value) {
  long long integer;
  double number;
  if (femtokit::ParseInteger(word, integer)) {
    if (integer < INT_MIN || integer > INT_MAX) return "is beyond the range of int";
    value = static_cast<int>(integer);
    return nullptr;
  }
  if (!femtokit::ParseNumber(word, number)) return "is not an integer";
  if (number != std::floor(number)) return "is not an integer";
  if (number < INT_MIN || number > INT_MAX) return "is beyond the range of int";
  value = static_cast<int>(number);
  return nullptr;
}

// A whole word as a truth value: an integer (non-zero is true) or true/false.
const char *ToBool(const std::string &word, bool &value) {
  if (word == "true" || word == "false") {
    value = word == "true";
    return nullptr;
  }
  int integer;
  if (ToInt(word, integer) != nullptr) return "is not 0, 1, true or false";
  value = integer != 0;
  return nullptr;
}

const char *ToDouble(const std::string &word, double &value) {
  if (!femtokit::ParseNumber(word, value)) return "is not a finite number";
  return nullptr;
}

// The one word of a value text, or why there is not exactly one.
const char *OneWord(const std::string &text, std::string &word) {
  const std::vector<std::string> words = Words(text);
  if (words.empty()) return "is empty";
  if (words.size() > 1) return "is not one word";
  word = words[0];
  return nullptr;
}

[[noreturn]] void RefuseValue(const parameterMap &pars, const std::string &name, const std::string &text,
                              const char *why) {
  if (const parameterMap::Origin *o = OriginOf(pars, name))
    femtokit::FatalFile(o->file, "parameter file %s, line %ld: value %s of %s %s\n", o->file.c_str(), o->line,
                        femtokit::QuotedWord(text).c_str(), name.c_str(), why);
  femtokit::Fatal("parameter %s: value %s %s\n", name.c_str(), femtokit::QuotedWord(text).c_str(), why);
}

template <typename T>
T GetOne(const parameterMap &pars, const std::string &name, T def, const char *(*convert)(const std::string &, T &)) {
  const std::string *text = Find(pars, name);
  if (!text) return def;
  std::string word;
  if (const char *why = OneWord(*text, word)) RefuseValue(pars, name, *text, why);
  T value;
  if (const char *why = convert(word, value)) RefuseValue(pars, name, *text, why);
  return value;
}

// Every word of a line of text as a finite number.
std::vector<double> Numbers(const parameterMap &pars, const std::string &name, const std::string &text) {
  std::vector<double> result;
  for (const std::string &word : Words(text)) {
    double x;
    if (ToDouble(word, x) != nullptr) RefuseValue(pars, name, word, "is not a finite number");
    result.push_back(x);
  }
  return result;
}

// Longest line a parameter file may hold (comments included): a bound on what
// one line can take, whatever the file.
constexpr std::size_t kMaxLine = 65536;

// Reads one line into `line` (without its newline or a trailing carriage
// return). False at the end of the file; sets `toolong` and stops when the line
// exceeds kMaxLine.
bool ReadLine(std::FILE *file, std::string &line, bool &toolong) {
  line.clear();
  toolong = false;
  int c;
  while ((c = std::getc(file)) != EOF && c != '\n') {
    line.push_back(static_cast<char>(c));
    if (line.size() > kMaxLine) {
      toolong = true;
      return true;
    }
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return c != EOF || !line.empty();
}

}  // namespace

void ReadParsFromFile(parameterMap &pars, const char *filename) {
  femtokit::FilePtr file(std::fopen(filename, "r"));
  if (!file) femtokit::FatalFile(filename, "attempting to read non-existent parameter file %s\n", filename);
  std::string line;
  bool toolong;
  for (long lineno = 1; ReadLine(file.get(), line, toolong); ++lineno) {
    if (toolong)
      femtokit::FatalFile(filename, "parameter file %s, line %ld has more than %zu characters\n", filename, lineno,
                          kMaxLine);
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    const std::string &type = words[0];
    const bool numeric = type == "int" || type == "bool" || type == "double";
    if (!numeric && type != "string")
      femtokit::FatalFile(filename, "parameter file %s, line %ld: type %s is not int, double, bool or string\n",
                          filename, lineno, femtokit::QuotedWord(type).c_str());
    if (words.size() < 3)
      femtokit::FatalFile(filename, "parameter file %s, line %ld: %s has no value\n", filename, lineno,
                          words.size() < 2 ? "the line" : femtokit::QuotedWord(words[1]).c_str());
    const std::string &name = words[1], &value = words[2];
    const std::string shown = femtokit::QuotedWord(value);
    // A value is one word; a numeric one must be wholly a number of its type.
    if (words.size() > 3) {
      if (numeric)
        femtokit::FatalFile(filename, "parameter file %s, line %ld: value %s of %s is followed by %s\n", filename,
                            lineno, shown.c_str(), name.c_str(), femtokit::QuotedWord(words[3]).c_str());
      femtokit::Warn("warning: parameter file %s, line %ld: words after the value of %s are ignored\n", filename,
                     lineno, name.c_str());
    }
    const char *why = nullptr;
    if (type == "int") {
      int converted = 0;
      if (!(why = ToInt(value, converted))) set(pars, name, converted);
    } else if (type == "bool") {
      bool converted = false;
      if (!(why = ToBool(value, converted))) set(pars, name, converted);
    } else if (type == "double") {
      double converted = 0.0;
      if (!(why = ToDouble(value, converted))) set(pars, name, ExactText(converted));
    } else {
      set(pars, name, value);
    }
    if (why)
      femtokit::FatalFile(filename, "parameter file %s, line %ld: value %s of %s %s\n", filename, lineno,
                          shown.c_str(), name.c_str(), why);
    pars.origins[name] = parameterMap::Origin{filename, lineno, pars[name]};
  }
  // A name that opens but cannot be read (a directory) is no parameter file either.
  if (std::ferror(file.get()))
    femtokit::FatalFile(filename, "attempting to read non-existent parameter file %s\n", filename);
}

const parameterMap::Origin *OriginOf(const parameterMap &pars, const std::string &name) {
  auto o = pars.origins.find(name);
  if (o == pars.origins.end()) return nullptr;
  auto v = pars.find(name);
  return v != pars.end() && v->second == o->second.text ? &o->second : nullptr;
}

void PrintPars(const parameterMap &pars) {
  for (const auto &entry : pars) femtokit::Print("%s = %s\n", entry.first.c_str(), entry.second.c_str());
}

double getD(const parameterMap &pars, const std::string &name, double def) {
  return GetOne<double>(pars, name, def, ToDouble);
}

int getI(const parameterMap &pars, const std::string &name, int def) { return GetOne<int>(pars, name, def, ToInt); }

bool getB(const parameterMap &pars, const std::string &name, bool def) { return GetOne<bool>(pars, name, def, ToBool); }

std::string getS(const parameterMap &pars, const std::string &name, const std::string &def) {
  const std::string *text = Find(pars, name);
  return text ? *text : def;
}

std::vector<double> getV(const parameterMap &pars, const std::string &name, double def) {
  const std::string *text = Find(pars, name);
  if (!text) return {def};
  return Numbers(pars, name, *text);
}

std::vector<std::string> getVS(const parameterMap &pars, const std::string &name, const std::string &def) {
  const std::string *text = Find(pars, name);
  if (!text) return {def};
  return Words(*text);
}

std::vector<std::vector<double>> getM(const parameterMap &pars, const std::string &name, double def) {
  const std::string *text = Find(pars, name);
  if (!text) return {{def}};
  std::vector<std::vector<double>> result;
  std::istringstream in(*text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<double> row = Numbers(pars, name, line);
    if (!row.empty()) result.push_back(row);
  }
  return result;
}

void set(parameterMap &pars, const std::string &name, const std::string &value) { pars[name] = value; }
void set(parameterMap &pars, const std::string &name, const char *value) { pars[name] = std::string(value); }
void set(parameterMap &pars, const std::string &name, bool value) { pars[name] = FirstWord(value); }
void set(parameterMap &pars, const std::string &name, int value) { pars[name] = FirstWord(value); }
// Six significant digits, but a whole number below 1e15 in full: a count set
// through a double setter ("1000000", not "1e+06") reads back exactly.
void set(parameterMap &pars, const std::string &name, double value) {
  if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15 && value != 0.0) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    pars[name] = text;
    return;
  }
  pars[name] = FirstWord(value);
}

std::string ExactText(double value) {
  if (!std::isfinite(value)) return FirstWord(value);
  char text[40];
  if (value == std::floor(value) && std::fabs(value) < 1e15 && value != 0.0) {
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
  }
  for (int digits = 6; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    double back = 0.0;
    if (femtokit::ParseNumber(text, back) && back == value) break;
  }
  return text;
}

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
