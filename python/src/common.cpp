#include "common.h"

#include <pybind11/eval.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "config/fatal.h"
#include "config/numberreader.h"
#include "config/output.h"

namespace femtokit {
namespace python {

// ---- output -------------------------------------------------------------

namespace {

std::mutex pending_mutex;
std::string pending;  // text from threads without the GIL, in order

// Writes text to sys.stdout; the GIL is held. A missing or failing stream
// drops the text: the library must never see a Python exception.
void WriteStdout(const std::string &text) {
  if (text.empty()) return;
  try {
    py::object out = py::module_::import("sys").attr("stdout");
    if (!out.is_none()) out.attr("write")(text);
  } catch (py::error_already_set &) {
  }
}

std::string TakePending() {
  std::lock_guard<std::mutex> lock(pending_mutex);
  std::string text;
  text.swap(pending);
  return text;
}

void Sink(femtokit::Verbosity, const std::string &text) {
  if (Py_IsInitialized() && PyGILState_Check()) {
    WriteStdout(TakePending() + text);
  } else {
    std::lock_guard<std::mutex> lock(pending_mutex);
    pending += text;
  }
}

}  // namespace

void FlushOutput() { WriteStdout(TakePending()); }

void InstallOutput(py::module_ &m) {
  femtokit::SetOutput(femtokit::OutputFunction(Sink));
  // After the interpreter is gone nothing may call into it.
  py::module_::import("atexit").attr("register")(py::cpp_function([] {
    FlushOutput();
    femtokit::SetOutput(femtokit::OutputFunction());
  }));
  (void)m;
}

Compute::Compute() { release_.emplace(); }

Compute::~Compute() {
  release_.reset();
  FlushOutput();
}

// ---- errors -------------------------------------------------------------

namespace {
py::object error_type;            // femtokit.Error (kept for the module's life)
py::object parameter_error_type;  // femtokit.ParameterError
}  // namespace

void RaiseParameterError(const std::string &message) {
  py::object value = parameter_error_type(message, "");
  PyErr_SetObject(parameter_error_type.ptr(), value.ptr());
  throw py::error_already_set();
}

void InstallErrors(py::module_ &m) {
  py::dict scope;
  scope["__name__"] = "femtokit";
  py::exec(R"(
class Error(RuntimeError):
    """A fatal inconsistency found by femtokit: a missing or malformed file,
    arrays that do not fit together, an impossible parameter.

    str(e) and e.message are the library's message; e.file names the file it
    is about, or is empty. The objects involved stay usable."""

    def __init__(self, message, file=""):
        super().__init__(message)
        self.message = message
        self.file = file


class ParameterError(Error, ValueError):
    """A parameter value outside the range its source model allows (R <= 0,
    alpha > 2, ...): both a femtokit.Error and a ValueError."""
)",
           scope);
  error_type = scope["Error"];
  parameter_error_type = scope["ParameterError"];
  m.attr("Error") = error_type;
  m.attr("ParameterError") = parameter_error_type;
  femtokit::SetFatalPolicy(femtokit::FatalPolicy::Throw);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const femtokit::Error &e) {
      py::object value = error_type(std::string(e.what()), e.file());
      PyErr_SetObject(error_type.ptr(), value.ptr());
    }
  });
}

// ---- parameter maps -----------------------------------------------------

namespace {

bool IsNumber(py::handle v) {
  return !PyBool_Check(v.ptr()) && (PyIndex_Check(v.ptr()) || PyFloat_Check(v.ptr()) ||
                                    py::isinstance(v, py::module_::import("numbers").attr("Real")));
}

bool IsSequence(py::handle v) {
  return !py::isinstance<py::str>(v) && !py::isinstance<py::bytes>(v) && py::isinstance<py::sequence>(v);
}

// Kinds a dict value takes in a parameter file or map.
enum class Kind { Bool, Int, Double, String, Vector, Matrix, Strings };

Kind KindOf(const std::string &name, py::handle v) {
  if (PyBool_Check(v.ptr()) || py::isinstance(v, py::module_::import("numpy").attr("bool_"))) return Kind::Bool;
  if (PyIndex_Check(v.ptr())) return Kind::Int;
  if (IsNumber(v)) return Kind::Double;
  if (py::isinstance<py::str>(v)) return Kind::String;
  if (py::isinstance<py::array>(v)) v = v.attr("tolist")();
  if (IsSequence(v)) {
    py::sequence s = py::reinterpret_borrow<py::sequence>(v);
    bool numbers = true, rows = true, strings = true;
    for (py::handle x : s) {
      numbers = numbers && IsNumber(x);
      strings = strings && py::isinstance<py::str>(x);
      bool row = IsSequence(x);
      if (row)
        for (py::handle y : py::reinterpret_borrow<py::sequence>(x)) row = row && IsNumber(y);
      rows = rows && row;
    }
    if (numbers) return Kind::Vector;
    if (rows) return Kind::Matrix;
    if (strings) return Kind::Strings;
  }
  throw py::type_error("parameter " + name + ": a value must be a bool, int, float, str or a list of numbers, " +
                       "of lists of numbers or of str, not " + std::string(py::str(v.get_type().attr("__name__"))));
}

int ToInt(const std::string &name, py::handle v) {
  const long long x = py::int_(py::reinterpret_borrow<py::object>(v)).cast<long long>();
  if (x < INT32_MIN || x > INT32_MAX) throw py::value_error("parameter " + name + " does not fit an int");
  return static_cast<int>(x);
}

// Whole-text parses, by the rules of the library's numeric files: a value
// that is no finite number there stays a str here.
bool ParseInt(const std::string &text, long &value) {
  long long v;
  if (!femtokit::ParseInteger(text, v) || v < LONG_MIN || v > LONG_MAX) return false;
  value = static_cast<long>(v);
  return true;
}

bool ParseDouble(const std::string &text, double &value) { return femtokit::ParseNumber(text, value); }

std::vector<std::string> Words(const std::string &text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

}  // namespace

parameterMap ToParameterMap(const py::dict &d) {
  parameterMap pars;
  for (auto item : d) {
    const std::string name = py::str(item.first);
    py::handle v = item.second;
    switch (KindOf(name, v)) {
      case Kind::Bool:
        parameter::set(pars, name, py::bool_(py::reinterpret_borrow<py::object>(v)).cast<bool>());
        break;
      case Kind::Int:
        parameter::set(pars, name, ToInt(name, v));
        break;
      case Kind::Double:
        parameter::set(pars, name, parameter::ExactText(py::float_(py::reinterpret_borrow<py::object>(v)).cast<double>()));
        break;
      case Kind::String:
        parameter::set(pars, name, v.cast<std::string>());
        break;
      case Kind::Vector:
        parameter::set(pars, name, py::reinterpret_borrow<py::object>(v).cast<std::vector<double>>());
        break;
      case Kind::Matrix:
        parameter::set(pars, name, py::reinterpret_borrow<py::object>(v).cast<std::vector<std::vector<double>>>());
        break;
      case Kind::Strings:
        parameter::set(pars, name, py::reinterpret_borrow<py::object>(v).cast<std::vector<std::string>>());
        break;
    }
  }
  return pars;
}

py::dict ToDict(const parameterMap &pars) {
  py::dict d;
  for (const auto &entry : pars) {
    const std::string &text = entry.second;
    long i;
    double x;
    const std::vector<std::string> words = Words(text);
    if (words.size() == 1 && ParseInt(words[0], i)) {
      d[py::str(entry.first)] = i;
    } else if (words.size() == 1 && ParseDouble(words[0], x)) {
      d[py::str(entry.first)] = x;
    } else if (words.size() > 1 && text.find('\n') != std::string::npos) {
      // Vectors hold one number a line, matrices one row a line.
      py::list rows;
      bool numeric = true, single = true;
      std::istringstream lines(text);
      std::string line;
      while (numeric && std::getline(lines, line)) {
        const std::vector<std::string> cells = Words(line);
        if (cells.empty()) continue;
        py::list row;
        for (const std::string &c : cells) {
          numeric = numeric && ParseDouble(c, x);
          row.append(x);
        }
        single = single && cells.size() == 1;
        rows.append(row);
      }
      if (!numeric) {
        d[py::str(entry.first)] = text;
      } else if (single) {
        py::list flat;
        for (py::handle row : rows) flat.append(row.cast<py::list>()[0]);
        d[py::str(entry.first)] = flat;
      } else {
        d[py::str(entry.first)] = rows;
      }
    } else {
      d[py::str(entry.first)] = text;
    }
  }
  return d;
}

void WriteParameterFile(const py::dict &d, const std::string &filename) {
  std::ostringstream out;
  for (auto item : d) {
    const std::string name = py::str(item.first);
    py::handle v = item.second;
    if (name.empty() || !Words(name).size() || Words(name).size() != 1 || Words(name)[0] != name)
      throw py::value_error("parameter name '" + name + "' is not one word");
    switch (KindOf(name, v)) {
      case Kind::Bool:
        out << "bool " << name << " " << int(py::bool_(py::reinterpret_borrow<py::object>(v))) << "\n";
        break;
      case Kind::Int:
        out << "int " << name << " " << ToInt(name, v) << "\n";
        break;
      case Kind::Double: {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", py::float_(py::reinterpret_borrow<py::object>(v)).cast<double>());
        out << "double " << name << " " << text << "\n";
        break;
      }
      case Kind::String: {
        const std::string s = v.cast<std::string>();
        if (Words(s).size() != 1 || Words(s)[0] != s)
          throw py::value_error("parameter " + name + ": a parameter file holds a str value of one word, not '" + s +
                                "'");
        out << "string " << name << " " << s << "\n";
        break;
      }
      default:
        throw py::value_error("parameter " + name + ": a parameter file holds scalar values only");
    }
  }
  std::ofstream file(filename);
  file << out.str();
  file.close();
  if (!file) throw py::value_error("cannot write the parameter file " + filename);
}

// ---- dict schemas -------------------------------------------------------

namespace {

// '#' a run of digits, a final '*' any non-empty rest, other characters themselves.
bool Matches(const std::string &pattern, const std::string &key) {
  size_t i = 0, j = 0;
  while (i < pattern.size()) {
    if (pattern[i] == '*') return i + 1 == pattern.size() && j < key.size();
    if (pattern[i] == '#') {
      const size_t start = j;
      while (j < key.size() && key[j] >= '0' && key[j] <= '9') j++;
      if (j == start) return false;
      i++;
      continue;
    }
    if (j >= key.size() || key[j] != pattern[i]) return false;
    i++, j++;
  }
  return j == key.size();
}

// "CHANNEL<n>_L", "lambda_<name>": a pattern as the messages show it.
std::string Shown(const std::string &pattern) {
  std::string text;
  for (char c : pattern) text += c == '#' ? std::string("<n>") : c == '*' ? std::string("<name>") : std::string(1, c);
  return text;
}

const char *TypeName(KeyType t) {
  switch (t) {
    case KeyType::Int:
      return "an int";
    case KeyType::Double:
      return "a float";
    case KeyType::Bool:
      return "a bool";
    case KeyType::String:
      return "a str";
  }
  return "";
}

bool IsNumpyBool(py::handle v) { return py::isinstance(v, py::module_::import("numpy").attr("bool_")); }

// Empty when v is a value of type t, else what is wrong with it.
std::string TypeProblem(KeyType t, py::handle v) {
  const bool isbool = PyBool_Check(v.ptr()) || IsNumpyBool(v);
  const bool integer = !isbool && PyIndex_Check(v.ptr());
  switch (t) {
    case KeyType::Int:
      if (integer) return "";
      break;
    case KeyType::Double:
      if (!isbool && IsNumber(v)) {
        const double x = py::float_(py::reinterpret_borrow<py::object>(v)).cast<double>();
        return std::isfinite(x) ? "" : "finite";
      }
      break;
    case KeyType::Bool:
      if (isbool) return "";
      if (integer) {
        const long long x = py::int_(py::reinterpret_borrow<py::object>(v)).cast<long long>();
        if (x == 0 || x == 1) return "";
      }
      break;
    case KeyType::String:
      if (py::isinstance<py::str>(v)) return "";
      break;
  }
  return "type";
}

}  // namespace

const KeyRule *FindKey(const KeySchema &schema, const std::string &key) {
  for (const KeyRule &k : schema.keys)
    if (Matches(k.pattern, key)) return &k;
  return nullptr;
}

void CheckKeys(const py::dict &d, const KeySchema &schema) {
  for (auto item : d) {
    if (!py::isinstance<py::str>(item.first))
      throw py::type_error(schema.owner + ": a parameter name is a str, not " +
                           std::string(py::str(item.first.get_type().attr("__name__"))));
    const std::string key = py::str(item.first);
    const KeyRule *rule = FindKey(schema, key);
    if (!rule) {
      std::vector<std::string> known;
      for (const KeyRule &k : schema.keys) known.push_back(Shown(k.pattern));
      py::list close = py::module_::import("difflib").attr("get_close_matches")(key, py::cast(known), 1, 0.6);
      std::string message = schema.owner + ": unknown parameter '" + key + "'";
      if (!close.empty()) message += " (did you mean '" + close[0].cast<std::string>() + "'?)";
      message += "; known parameters: ";
      for (size_t i = 0; i < known.size(); i++) message += (i ? ", " : "") + known[i];
      throw py::key_error(message);
    }
    const std::string problem = TypeProblem(rule->type, item.second);
    if (problem == "finite")
      throw py::value_error(schema.owner + ": parameter " + key + " = " + std::string(py::repr(item.second)) +
                            " is not a finite number");
    if (!problem.empty())
      throw py::type_error(schema.owner + ": parameter " + key + " must be " + TypeName(rule->type) + ", not " +
                           std::string(py::str(item.second.get_type().attr("__name__"))) + " " +
                           std::string(py::repr(item.second)));
  }
}

const KeySchema &ArrayKeys() {
  static const KeySchema s{"CCHArray",
                           {{"LMAX", KeyType::Int},
                            {"NRADIAL", KeyType::Int},
                            {"RADSTEP", KeyType::Double},
                            {"XSYM", KeyType::Bool},
                            {"YSYM", KeyType::Bool},
                            {"ZSYM", KeyType::Bool},
                            {"IDENTICAL", KeyType::Bool}}};
  return s;
}

const KeySchema &Array3DKeys() {
  static const KeySchema s{"C3DArray",
                           {{"NXMAX", KeyType::Int},
                            {"NYMAX", KeyType::Int},
                            {"NZMAX", KeyType::Int},
                            {"NXYZMAX", KeyType::Int},
                            {"DELX", KeyType::Double},
                            {"DELY", KeyType::Double},
                            {"DELZ", KeyType::Double},
                            {"DELXYZ", KeyType::Double},
                            {"XSYM", KeyType::Bool},
                            {"YSYM", KeyType::Bool},
                            {"ZSYM", KeyType::Bool},
                            {"IDENTICAL", KeyType::Bool}}};
  return s;
}

const KeySchema &KernelKeys() {
  static const KeySchema s{"CKernel",
                           {{"NQMAX", KeyType::Int},
                            {"NRMAX", KeyType::Int},
                            {"KLMAX", KeyType::Int},
                            {"DELQ", KeyType::Double},
                            {"DELR", KeyType::Double},
                            {"IDENTICAL", KeyType::Bool}}};
  return s;
}

const KeySchema &KernelWFKeys() {
  static const KeySchema s{"CKernelWF",
                           {{"NQMAX", KeyType::Int},
                            {"NRMAX", KeyType::Int},
                            {"NCTHETA", KeyType::Int},
                            {"DELQ", KeyType::Double},
                            {"DELR", KeyType::Double},
                            {"IDENTICAL", KeyType::Bool}}};
  return s;
}

const KeySchema &WaveFunctionKeys() {
  static const KeySchema s{"wave function",
                           {{"NQMAX", KeyType::Int},
                            {"DELQ", KeyType::Double},
                            {"QARRAYFILENAME", KeyType::String},
                            {"EPSILON", KeyType::Double},
                            {"STRONG", KeyType::Bool},
                            {"COULOMB", KeyType::Bool},
                            {"COULOMBCORRECT", KeyType::Bool},
                            {"M1", KeyType::Double},
                            {"M2", KeyType::Double},
                            {"Q1Q2", KeyType::Int},
                            {"IDENTICAL", KeyType::Bool},
                            {"SPIN1", KeyType::Double},
                            {"SPIN2", KeyType::Double},
                            {"NCHANNELS", KeyType::Int},
                            {"CHANNEL#_L", KeyType::Int},
                            {"CHANNEL#_S", KeyType::Double},
                            {"CHANNEL#_WEIGHT", KeyType::Double},
                            {"CHANNEL#_A", KeyType::Double},
                            {"CHANNEL#_REFF", KeyType::Double},
                            {"CHANNEL#_PHASEFILE", KeyType::String}}};
  return s;
}

const KeySchema &FeedDownKeys() {
  static const KeySchema s{"CFeedDown",
                           {{"NRESIDUALS", KeyType::Int},
                            {"lambdaGen", KeyType::Double},
                            {"lambda_*", KeyType::Double},
                            {"LAMBDATOLERANCE", KeyType::Double},
                            {"NORMTOLERANCE", KeyType::Double},
                            {"REMAINDER", KeyType::String},
                            {"UNITS", KeyType::String},
                            {"MATRIXTYPE", KeyType::String},
                            {"PAIRDENSITY", KeyType::String},
                            {"RESIDUAL#_NAME", KeyType::String},
                            {"RESIDUAL#_TYPE", KeyType::String},
                            {"RESIDUAL#_MATRIX", KeyType::String},
                            {"RESIDUAL#_UNITS", KeyType::String},
                            {"RESIDUAL#_MATRIXTYPE", KeyType::String},
                            {"RESIDUAL#_PAIRDENSITY", KeyType::String}}};
  return s;
}

const KeySchema &SmearingKeys() {
  static const KeySchema s{"CMomentumSmearing",
                           {{"MODE", KeyType::String},
                            {"MATRIXFILE", KeyType::String},
                            {"MATRIXTYPE", KeyType::String},
                            {"PAIRDENSITY", KeyType::String},
                            {"NORMTOLERANCE", KeyType::Double},
                            {"UNITS", KeyType::String},
                            {"SIGMA", KeyType::Double},
                            {"SIGMAFILE", KeyType::String},
                            {"GAUSSIANFORM", KeyType::String},
                            {"TRUNCATION", KeyType::Double}}};
  return s;
}

std::string Path(const py::object &path) { return py::module_::import("os").attr("fspath")(path).cast<std::string>(); }

void WithParameterFile(const py::object &pars, const std::function<void(const std::string &)> &build,
                       const KeySchema *schema) {
  if (!py::isinstance<py::dict>(pars)) {
    const std::string name = Path(pars);
    Compute compute;
    build(name);
    return;
  }
  std::string name = (std::filesystem::temp_directory_path() / "femtokit-pars-XXXXXX").string();
  const int fd = mkstemp(&name[0]);
  if (fd < 0) throw py::value_error("cannot create a temporary parameter file: " + std::string(std::strerror(errno)));
  close(fd);
  if (schema) {
    try {
      CheckKeys(pars.cast<py::dict>(), *schema);
    } catch (...) {
      std::remove(name.c_str());
      throw;
    }
  }
  struct Remove {
    std::string name;
    ~Remove() { std::remove(name.c_str()); }
  } remove{name};
  WriteParameterFile(pars.cast<py::dict>(), name);
  try {
    Compute compute;
    build(name);
  } catch (const femtokit::Error &e) {
    if (e.file() != name && std::string(e.what()).find(name) == std::string::npos) throw;
    std::string message = e.what();
    for (size_t at; (at = message.find(name)) != std::string::npos;)
      message.replace(at, name.size(), "<parameter dict>");
    throw femtokit::Error(message, e.file() == name ? std::string() : e.file());
  }
}

// ---- NumPy --------------------------------------------------------------

py::array View(double *data, std::vector<py::ssize_t> shape, const py::object &owner) {
  std::vector<py::ssize_t> strides(shape.size());
  py::ssize_t stride = sizeof(double);
  for (size_t i = shape.size(); i-- > 0;) {
    strides[i] = stride;
    stride *= shape[i];
  }
  static double empty = 0.0;  // NumPy needs a pointer even for an empty view
  return py::array(py::dtype::of<double>(), shape, strides, data ? data : &empty, owner);
}

py::object Vectorize(const std::vector<py::object> &inputs,
                     const std::function<void(const std::vector<const double *> &, py::ssize_t, double *)> &f) {
  py::module_ np = py::module_::import("numpy");
  py::tuple arrays = np.attr("broadcast_arrays")(*py::tuple(py::cast(inputs)));
  std::vector<py::array_t<double, py::array::c_style | py::array::forcecast>> flat;
  for (py::handle a : arrays) flat.emplace_back(np.attr("ascontiguousarray")(a, "float64"));
  py::array first = py::reinterpret_borrow<py::array>(arrays[0]);
  std::vector<py::ssize_t> shape(first.shape(), first.shape() + first.ndim());
  py::array_t<double> out(shape);
  std::vector<const double *> values;
  for (auto &a : flat) values.push_back(a.data());
  const py::ssize_t n = out.size();
  double *result = out.mutable_data();
  {
    Compute compute;
    f(values, n, result);
  }
  if (first.ndim() == 0) return py::float_(result[0]);
  return std::move(out);
}

}  // namespace python
}  // namespace femtokit
