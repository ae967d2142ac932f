#ifndef FEMTOKIT_CONFIG_PARAMETERMAP_H
#define FEMTOKIT_CONFIG_PARAMETERMAP_H

#include <map>
#include <string>
#include <vector>

// Ordered map from parameter name to value text. Every typed value passes
// through text; doubles keep 6 significant digits.
typedef std::map<std::string, std::string> parameterMap;

namespace parameter {

// Fills the map from a parameter file of "type name value" lines; "#" in the
// first column starts a comment. A missing file is fatal.
void ReadParsFromFile(parameterMap &pars, const char *filename);
inline void ReadParsFromFile(parameterMap &pars, const std::string &filename) {
  ReadParsFromFile(pars, filename.c_str());
}

void PrintPars(const parameterMap &pars);

double getD(const parameterMap &pars, const std::string &name, double def);
int getI(const parameterMap &pars, const std::string &name, int def);
bool getB(const parameterMap &pars, const std::string &name, bool def);
std::string getS(const parameterMap &pars, const std::string &name, const std::string &def);
std::vector<double> getV(const parameterMap &pars, const std::string &name, double def);
std::vector<std::string> getVS(const parameterMap &pars, const std::string &name, const std::string &def);
std::vector<std::vector<double>> getM(const parameterMap &pars, const std::string &name, double def);

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
