// Shared pieces of the Python module: the GIL guard of computations, the
// output channel into sys.stdout, parameter maps as dicts, NumPy helpers.
#ifndef FEMTOKIT_PYTHON_COMMON_H
#define FEMTOKIT_PYTHON_COMMON_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <functional>
#include <optional>
#include <string>

#include "config/parametermap.h"

namespace femtokit {
namespace python {

namespace py = pybind11;

// Call guard of every binding that computes: releases the GIL for the call
// (other Python threads run; the library's OpenMP workers never wait on
// Python) and, once it is held again, writes the library output that was
// queued meanwhile to sys.stdout.
class Compute {
 public:
  Compute();
  ~Compute();
  Compute(const Compute &) = delete;
  Compute &operator=(const Compute &) = delete;

 private:
  std::optional<py::gil_scoped_release> release_;
};

// Sends the library's output channel to sys.stdout (looked up at every write,
// so redirections and notebooks see it). Text from a thread that does not
// hold the GIL is queued and written by the next write or Compute's end, so
// a library thread never blocks on the interpreter. Reset to standard output
// at interpreter exit.
void InstallOutput(py::module_ &m);
// Writes the queued output; the GIL must be held.
void FlushOutput();

// Defines femtokit.Error and translates femtokit::Error into it.
void InstallErrors(py::module_ &m);

// A parameter map from a dict: bool, int, float and str values, and lists of
// numbers (vectors), of lists of numbers (matrices) or of str. Raises
// TypeError for another value type.
parameterMap ToParameterMap(const py::dict &d);
// A dict from a parameter map: each text read back as int, float, a list of
// floats (one number a line), a list of lists of floats, or else a str.
py::dict ToDict(const parameterMap &pars);
// Writes a dict of scalar values as a parameter file ("type name value" lines,
// doubles with 17 digits). Raises ValueError for a value the file format
// cannot hold (a list, a str with whitespace or empty).
void WriteParameterFile(const py::dict &d, const std::string &filename);

// The keys a dict may hold for one kind of object, with the type of each
// value. A pattern holds '#' for a run of digits ("CHANNEL#_L") or ends in
// '*' for any rest of the name ("lambda_*").
enum class KeyType { Int, Double, Bool, String };
struct KeyRule {
  std::string pattern;
  KeyType type;
};
struct KeySchema {
  std::string owner;  // what reads the dict, for the messages: "CCHArray"
  std::vector<KeyRule> keys;
};
// The schema's type of the key, or nullptr when no pattern matches it.
const KeyRule *FindKey(const KeySchema &schema, const std::string &key);
// Raises KeyError naming a key the schema does not know (and the known keys),
// TypeError naming a key whose value is not of its type (a bool for a number,
// a str for a number, a float for an int), ValueError for a non-finite float.
void CheckKeys(const py::dict &d, const KeySchema &schema);

// Schemas of the parameter dicts of the library's objects.
const KeySchema &ArrayKeys();        // CCHArray
const KeySchema &Array3DKeys();      // C3DArray
const KeySchema &KernelKeys();       // CKernel
const KeySchema &KernelWFKeys();     // CKernelWF
const KeySchema &WaveFunctionKeys(); // every wave function (CWaveFunction_generic's keys included)
const KeySchema &FeedDownKeys();     // CFeedDown
const KeySchema &SmearingKeys();     // CMomentumSmearing

// Runs `build` with the name of a parameter file: a str or os.PathLike is
// that file; a dict is first checked against `schema` (when given: CheckKeys),
// then written to a temporary file (removed afterwards), and a
// femtokit::Error that names the file then names "<parameter dict>" instead.
void WithParameterFile(const py::object &pars, const std::function<void(const std::string &)> &build,
                       const KeySchema *schema = nullptr);

// Raises femtokit.ParameterError (a femtokit.Error and a ValueError) with
// the message: a value outside its model's range.
[[noreturn]] void RaiseParameterError(const std::string &message);

// os.fspath of a str or os.PathLike.
std::string Path(const py::object &path);

// A member function whose first argument is a file or directory name, bound
// as taking a str or os.PathLike; it runs under Compute.
template <class C, class R, class... A>
auto PathMethod(R (C::*f)(const std::string &, A...)) {
  return [f](C &self, const py::object &path, A... a) -> R {
    const std::string name = Path(path);
    Compute compute;
    return (self.*f)(name, a...);
  };
}
template <class C, class R, class... A>
auto PathMethod(R (C::*f)(const std::string &, A...) const) {
  return [f](const C &self, const py::object &path, A... a) -> R {
    const std::string name = Path(path);
    Compute compute;
    return (self.*f)(name, a...);
  };
}

// A NumPy view of `count` doubles at `data` in the given shape (C order),
// keeping `owner` alive for as long as the view lives.
py::array View(double *data, std::vector<py::ssize_t> shape, const py::object &owner);

// Broadcasts the inputs against each other (NumPy rules), runs f(values, n,
// out) over the flattened, contiguous float64 copies with the GIL released,
// and returns the result in the broadcast shape (a float for scalar inputs).
py::object Vectorize(const std::vector<py::object> &inputs,
                     const std::function<void(const std::vector<const double *> &, py::ssize_t, double *)> &f);

// Module parts.
void BindConfig(py::module_ &m);
void BindArrays(py::module_ &m);
void BindWaveFunctions(py::module_ &m);
void BindKernels(py::module_ &m);
void BindSources(py::module_ &m);
void BindFits(py::module_ &m);

}  // namespace python
}  // namespace femtokit

#endif
