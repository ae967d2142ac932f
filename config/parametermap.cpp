#include "config/parametermap.h"

#include "config/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
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

void ReadParsFromFile(parameterMap &pars, const char *filename) {
  std::ifstream file(filename);
  if (!file.is_open()) femtokit::FatalFile(filename, "attempting to read non-existent parameter file %s\n", filename);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line.size() <= 4) continue;
    std::istringstream words(line);
    std::string type, name, value;
    if (!(words >> type >> name >> value)) continue;  // fewer than three words: nothing stored
    if (type == "int")
      set(pars, name, std::atoi(value.c_str()));
    else if (type == "double")
      set(pars, name, std::atof(value.c_str()));
    else if (type == "bool")
      set(pars, name, std::atoi(value.c_str()) != 0);
    else if (type == "string")
      set(pars, name, value);
  }
  // A name that opens but cannot be read (a directory) is no parameter file either.
  if (file.bad()) femtokit::FatalFile(filename, "attempting to read non-existent parameter file %s\n", filename);
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
