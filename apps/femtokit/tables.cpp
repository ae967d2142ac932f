// Plain-text tables of the femtokit program: writing, reading, and tables
// of harmonic arrays.
#include "apps/femtokit/cli.h"

#include "arrays/charray.h"
#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fkcli {

int Table::Column(const std::string &name) const {
  for (size_t i = 0; i < columns.size(); i++)
    if (columns[i] == name) return static_cast<int>(i);
  return -1;
}

void GivePlainPermissions(const std::string &path) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  std::error_code ec;
  std::filesystem::permissions(path, std::filesystem::perms(0666 & ~mask), ec);
}

void WriteTable(const std::string &filename, const Table &table) {
  std::string text;
  for (const std::string &c : table.comments) text += "# " + c + "\n";
  text += "#";
  for (size_t i = 0; i < table.columns.size(); i++) text += femtokit::Format(" %*s", i == 0 ? 9 : 17, table.columns[i].c_str());
  text += "\n";
  for (const auto &row : table.rows) {
    for (size_t i = 0; i < row.size(); i++) text += femtokit::Format(i == 0 ? "%11.10g" : " %17.10g", row[i]);
    text += "\n";
  }
  if (filename == "-") {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  const std::filesystem::path path(filename), parent = path.parent_path();
  if (!parent.empty()) femtokit::MakeDirectory(parent.string());
  std::string scratch = (parent / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(&scratch[0]);
  if (fd < 0) femtokit::FatalFile(filename, "cannot write the table %s: %s\n", filename.c_str(), std::strerror(errno));
  ::close(fd);
  std::ofstream out(scratch);
  out << text;
  out.close();
  if (out) GivePlainPermissions(scratch);
  if (!out || std::rename(scratch.c_str(), filename.c_str()) != 0) {
    const std::string why = out ? std::strerror(errno) : "write failed";
    std::remove(scratch.c_str());
    femtokit::FatalFile(filename, "cannot write the table %s: %s\n", filename.c_str(), why.c_str());
  }
}

namespace {
// The first existing ancestor of path that is not a directory, or "".
std::string FileOnTheWay(const std::filesystem::path &path) {
  std::error_code ec;
  for (std::filesystem::path p = path.parent_path(); !p.empty(); p = p.parent_path()) {
    if (std::filesystem::exists(p, ec)) return std::filesystem::is_directory(p, ec) ? "" : p.string();
    if (p == p.parent_path()) break;
  }
  return "";
}
}  // namespace

void CheckTableOutput(const std::string &option, const std::string &file) {
  if (file.empty() || file == "-") return;
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    ArgumentError(option + " " + file, "is a directory; expected the name of a table file");
  const std::string blocker = FileOnTheWay(file);
  if (!blocker.empty()) ArgumentError(option + " " + file, blocker + " is a file, not a directory");
}

void CheckDirectoryOutput(const std::string &option, const std::string &dir) {
  if (dir.empty()) return;
  std::error_code ec;
  if (std::filesystem::exists(dir, ec) && !std::filesystem::is_directory(dir, ec))
    ArgumentError(option + " " + dir, "is a file; expected the name of a directory (written whole, replacing one)");
  const std::string blocker = FileOnTheWay(dir);
  if (!blocker.empty()) ArgumentError(option + " " + dir, blocker + " is a file, not a directory");
}

Table ReadTable(const std::string &filename) {
  femtokit::LineReader in(filename, false);
  if (!in.IsOpen()) femtokit::FatalFile(filename, "cannot open the table %s\n", filename.c_str());
  Table table;
  while (in.NextWithWords()) {
    if (in.Word(0)[0] == '#') {
      const std::string line(in.Text());
      std::string text = line.substr(line.find('#') + 1);
      if (!text.empty() && text[0] == ' ') text.erase(0, 1);
      if (!text.empty() && text.back() == '\r') text.pop_back();
      table.comments.push_back(text);
      continue;
    }
    std::vector<double> row(in.Size());
    for (size_t i = 0; i < in.Size(); i++) row[i] = in.Number(i, "value");
    if (!table.rows.empty() && row.size() != table.rows[0].size())
      femtokit::FatalFile(filename, "%s: %zu numbers, the rows before hold %zu\n", in.Where().c_str(), row.size(),
                          table.rows[0].size());
    table.rows.push_back(row);
  }
  if (table.rows.empty()) femtokit::FatalFile(filename, "%s holds no rows of numbers\n", filename.c_str());
  if (!table.comments.empty()) {
    std::istringstream words(table.comments.back());
    std::vector<std::string> names;
    std::string word;
    while (words >> word) names.push_back(word);
    if (names.size() == table.rows[0].size()) {
      table.columns = names;
      table.comments.pop_back();
    }
  }
  return table;
}

std::vector<std::vector<int>> TableComponents(const CCHArray &array) {
  std::vector<std::vector<int>> list;
  array.ForEachTriple(array.GetLMAX(), 1, [&](int lx, int ly, int lz) { list.push_back({lx, ly, lz}); });
  return list;
}

std::string ComponentName(const std::string &prefix, const std::vector<int> &l) {
  return femtokit::Format("%s_%d_%d_%d", prefix.c_str(), l[0], l[1], l[2]);
}

Table SourceTable(const CCHArray &source, const std::vector<std::string> &comments) {
  Table table;
  table.comments = comments;
  table.comments.push_back("r: separation of the pair in its rest frame, fm; S: the source S(r) (angular average),");
  table.comments.push_back("fm^-3; S_lx_ly_lz: Cartesian-harmonic component (lx,ly,lz) of S, fm^-3");
  const auto components = TableComponents(source);
  table.columns = {"r", "S"};
  for (size_t i = 1; i < components.size(); i++) table.columns.push_back(ComponentName("S", components[i]));
  for (int ir = 0; ir < source.GetNRADIAL(); ir++) {
    std::vector<double> row = {(ir + 0.5) * source.GetRADSTEP()};
    for (const auto &l : components) row.push_back(source.GetElement(l[0], l[1], l[2], ir));
    table.rows.push_back(row);
  }
  return table;
}

double SourceIntegral(const CCHArray &source) {
  double sum = 0.0;
  const double dr = source.GetRADSTEP();
  for (int ir = 0; ir < source.GetNRADIAL(); ir++) {
    const double r = (ir + 0.5) * dr;
    sum += 4.0 * M_PI * r * r * dr * source.GetElement(0, 0, 0, ir);
  }
  return sum;
}

}  // namespace fkcli
