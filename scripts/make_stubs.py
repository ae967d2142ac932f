"""Writes the type stubs of the package femtokit (python/femtokit/__init__.pyi)
from the signatures pybind11 records for the compiled names and from the hand
written stubs of the names the package defines in Python.

  PYTHONPATH=build/python python3 scripts/make_stubs.py > python/femtokit/__init__.pyi

The Python tests check that the committed stubs equal what this prints.
"""
import inspect
import re
import sys

import femtokit

# Python-side names: their stubs by hand.
PYTHON_STUBS = {
    "Cost": '''class Cost:
    errordef: ClassVar[float]
    @property
    def func_code(self) -> Any: ...
    @property
    def _parameters(self) -> Dict[str, Optional[Tuple[float, float]]]: ...
    def __init__(self, fit: CCF2SFit) -> None: ...
    @property
    def parameters(self) -> Tuple[str, ...]: ...
    @property
    def start(self) -> Dict[str, float]: ...
    @property
    def errors(self) -> Dict[str, float]: ...
    @property
    def limits(self) -> List[Tuple[float, float]]: ...
    @property
    def ndata(self) -> int: ...
    def __call__(self, *args: Union[float, ArrayLike]) -> float: ...
''',
    "correlation": '''def correlation(pair: str, model: str, pars: Optional[Mapping[str, Union[float, int, str]]] = ...,
                q: Optional[ArrayLike] = ..., *, kpars: Union[None, str, os.PathLike, Mapping[str, Any]] = ...,
                cache_dir: Union[None, str, os.PathLike] = ...) -> NDArray[numpy.float64]: ...
''',
    "make_source": '''def make_source(model: str, pars: Optional[Mapping[str, Union[float, int, str]]] = ...) -> CSourceCalc: ...
''',
}

# Methods the package adds in Python.
METHOD_STUBS = {("CCF2SFit", "cost"): "def cost(self) -> Cost: ..."}

# Arguments and results pybind11 knows only as `object`: what they hold.
ARRAY_IN = {"q", "r", "x", "y", "z", "ctheta"}
FLOAT_ARRAY = "Union[float, NDArray[numpy.float64]]"
PATH = "Union[str, os.PathLike]"
PARS = "Union[str, os.PathLike, Mapping[str, Any]]"
# Other `object` arguments by name (those of image()).
NAMED = {"c": "ArrayLike", "err": "ArrayLike", "knots": "Optional[ArrayLike]", "positive": "Optional[bool]",
         "regularisation": "Union[None, str, float]", "norm": "Optional[float]", "l": "Union[int, Tuple[int, int, int]]"}


def split_top(text):
    """Splits at the commas outside brackets."""
    parts, depth, cur = [], 0, ""
    for ch in text:
        if ch in "[(":
            depth += 1
        elif ch in "])":
            depth -= 1
        if ch == "," and depth == 0:
            parts.append(cur.strip())
            cur = ""
        else:
            cur += ch
    if cur.strip():
        parts.append(cur.strip())
    return parts


def pytype(t):
    t = t.strip()
    t = t.replace("femtokit._core.", "")
    t = re.sub(r"numpy\.ndarray\[numpy\.float64(\[[^\]]*\])?(, flags\.[a-z_]+)*\]", "NDArray[numpy.float64]", t)
    t = re.sub(r"numpy\.ndarray\[[^\]]*\]", "NDArray[Any]", t)
    t = t.replace("os.PathLike", "os.PathLike")
    return t


def convert_param(p, is_method, index):
    if p in ("*", "*args", "**kwargs"):
        return p
    name, _, rest = p.partition(":")
    name = name.strip()
    typ, eq, _default = rest.partition("=")
    typ = pytype(typ)
    if is_method and index == 0:
        return "self"
    if typ == "object":
        if name in ARRAY_IN:
            typ = "Optional[ArrayLike]" if eq else "ArrayLike"
        elif name in NAMED:
            typ = NAMED[name]
        elif name in ("pars", "spars", "kpars"):
            typ = "Union[None, " + PARS + "]" if eq else PARS
        elif name in ("path", "filename", "dirname", "cfdir", "errordir", "cache_dir"):
            typ = "Union[None, " + PATH + "]" if eq else PATH
        elif name == "dr":
            typ = "Optional[float]"
        else:
            typ = "Any"
    return name + ": " + typ + (" = ..." if eq else "")


def signatures(doc, name):
    """(params, result) of each signature line of a pybind11 docstring."""
    out = []
    for line in (doc or "").splitlines():
        m = re.match(r"^(?:\d+\. )?" + re.escape(name) + r"\((.*)\) -> (.*)$", line)
        if m:
            out.append((split_top(m.group(1)), m.group(2)))
    return out


def result_type(res, params):
    res = pytype(res)
    if res == "object":
        names = {p.split(":")[0].strip() for p in params}
        return FLOAT_ARRAY if names & ARRAY_IN else "Any"
    return res


def function_stub(obj, name, indent, is_method, static=False):
    sigs = signatures(obj.__doc__, name)
    if not sigs:
        if name.startswith("__"):
            return []  # no constructor of its own (made by the module), or a plain dunder
        return [indent + "def %s(%s*args: Any, **kwargs: Any) -> Any: ..." % (name, "self, " if is_method else "")]
    lines = []
    for params, res in sigs:
        conv = [convert_param(p, is_method and not static, i) for i, p in enumerate(params)]
        if name == "__init__":
            res_t = "None"
        else:
            res_t = result_type(res, params)
        if len(sigs) > 1:
            lines.append(indent + "@overload")
        if static:
            lines.append(indent + "@staticmethod")
        lines.append(indent + "def %s(%s) -> %s: ..." % (name, ", ".join(conv), res_t))
    return lines


def property_stub(prop, name, indent):
    sigs = signatures(prop.fget.__doc__, "") if prop.fget is not None else []
    res = "Any"
    if prop.fget is not None:
        m = re.match(r"^\((.*)\) -> (.*)$", (prop.fget.__doc__ or "").splitlines()[0] if prop.fget.__doc__ else "")
        if m:
            res = result_type(m.group(2), [])
    del sigs
    lines = [indent + "@property", indent + "def %s(self) -> %s: ..." % (name, res)]
    if prop.fset is not None:
        lines += [indent + "@%s.setter" % name, indent + "def %s(self, value: %s) -> None: ..." % (name, res)]
    return lines


def class_stub(cls, name, indent=""):
    bases = [b.__name__ for b in cls.__bases__ if b.__module__ in ("femtokit", "femtokit._core")]
    if issubclass(cls, BaseException):
        bases = [b.__name__ for b in cls.__bases__]
    head = indent + "class %s%s:" % (name, "(%s)" % ", ".join(bases) if bases else "")
    body = []
    inner = indent + "    "
    if hasattr(cls, "__members__") and not issubclass(cls, BaseException):
        for member in cls.__members__:
            body.append(inner + "%s: ClassVar[%s]" % (member, name))
        body.append(inner + "def __init__(self, value: int) -> None: ...")
        body.append(inner + "@property")
        body.append(inner + "def value(self) -> int: ...")
        body.append(inner + "@property")
        body.append(inner + "def name(self) -> str: ...")
    is_enum = hasattr(cls, "__members__") and not issubclass(cls, BaseException)
    for attr, obj in cls.__dict__.items():
        if is_enum or issubclass(cls, BaseException):
            break
        if (name, attr) in METHOD_STUBS:
            body.append(inner + METHOD_STUBS[(name, attr)])
            continue
        if attr.startswith("_") and attr not in ("__init__", "__call__", "__len__", "__getitem__", "__str__",
                                                 "__repr__", "__iter__"):
            continue
        if hasattr(cls, "__members__") and attr in getattr(cls, "__members__", {}):
            continue
        if attr in ("name", "value") and hasattr(cls, "__members__"):
            continue
        if isinstance(obj, property):
            body += property_stub(obj, attr, inner)
        elif isinstance(obj, staticmethod):
            body += function_stub(obj.__func__, attr, inner, True, static=True)
        elif callable(obj) and type(obj).__name__ in ("instancemethod", "builtin_function_or_method"):
            body += function_stub(obj, attr, inner, True)
        elif type(obj).__name__ == "_LevyProfile":
            body.append(inner + "def profile(self, r: ArrayLike, dr: Optional[float] = ...) -> %s: ..." % FLOAT_ARRAY)
        elif callable(obj):
            body += function_stub(obj, attr, inner, True)
    if not body:
        body = [inner + "..."]
    return [head] + body


def module_block(mod, name):
    """A submodule of the compiled module, written as a class of static functions."""
    lines = ["class %s:" % name]
    for attr in sorted(dir(mod)):
        if attr.startswith("_"):
            continue
        obj = getattr(mod, attr)
        if callable(obj):
            lines += function_stub(obj, attr, "    ", True, static=True)
        else:
            lines.append("    %s: ClassVar[%s]" % (attr, type(obj).__name__))
    return lines


def main():
    out = [
        '"""Type stubs of femtokit (written by scripts/make_stubs.py; do not edit)."""',
        "import os",
        "from typing import Any, ClassVar, Dict, List, Mapping, Optional, Tuple, Union, overload",
        "",
        "import numpy",
        "from numpy.typing import ArrayLike, NDArray",
        "",
        "__version__: str",
        "",
    ]
    names = [n for n in dir(femtokit) if not n.startswith("_")]
    # Base classes first, then the rest in name order.
    classes = [n for n in names if isinstance(getattr(femtokit, n), type)]
    ordered, seen = [], set()

    def visit(n):
        if n in seen:
            return
        seen.add(n)
        for b in getattr(femtokit, n).__bases__:
            if b.__name__ in classes:
                visit(b.__name__)
        ordered.append(n)

    for n in classes:
        visit(n)
    for n in ordered:
        if n in PYTHON_STUBS:
            out += PYTHON_STUBS[n].rstrip("\n").splitlines()
        else:
            out += class_stub(getattr(femtokit, n), n)
        out.append("")
    for n in names:
        obj = getattr(femtokit, n)
        if n in classes:
            continue
        if n in PYTHON_STUBS:
            out += PYTHON_STUBS[n].rstrip("\n").splitlines()
        elif inspect.ismodule(obj):
            out += module_block(obj, n)
        elif callable(obj):
            out += function_stub(obj, n, "", False)
        else:
            out.append("%s: %s" % (n, type(obj).__name__))
        out.append("")
    sys.stdout.write("\n".join(out).rstrip("\n") + "\n")


if __name__ == "__main__":
    main()
