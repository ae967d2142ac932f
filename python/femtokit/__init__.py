"""femtoscopy with femtokit: C(q) - 1 = int d^3r K(q, r) S(r).

The compiled library lives in femtokit._core; every public name of it is
available here. This file adds the pieces written in Python: the
iminuit-compatible least-squares Cost of a fit, and the data directory of an
installed package.
"""
import math as _math
import os as _os
import types as _types

from . import _core
from ._core import *  # noqa: F401,F403  (the compiled module's public names)
from ._core import __version__  # noqa: F401

import numpy as _numpy  # after _core, whose import says what to install when NumPy is missing

__doc__ = _core.__doc__

# An installed package carries its own copy of the shipped parameter files
# (femtokit/data); in a build tree there is none and the module uses the
# source tree's data/ it was built from.
_data = _os.path.join(_os.path.dirname(_os.path.abspath(__file__)), "data")
if _os.path.isdir(_data):
    _core._set_package_data(_data)

# The classes and functions introduce themselves as femtokit.X (help(), repr,
# error messages), not femtokit._core.X.
for _name in dir(_core):
    _obj = getattr(_core, _name)
    if not _name.startswith("_") and isinstance(_obj, type):
        try:
            _obj.__module__ = "femtokit"
        except (AttributeError, TypeError):
            pass


class Cost:
    """Least-squares cost of a fit over its free parameters, for iminuit (or SciPy).

    ``cost = femtokit.Cost(fit)`` (or ``fit.cost()``) is chi^2 as a function of
    the fit's free parameters, in the order of ``cost.parameters``: call it as
    ``cost(v1, v2, ...)`` or ``cost(array)``. Each call writes the values into
    the source model, transforms and compares; the fit's own values do not move
    (its best point seen is remembered). ``errordef`` is 1.0
    (Minuit.LEAST_SQUARES), so ``iminuit.Minuit(cost, **cost.start)`` or
    ``iminuit.Minuit(cost, *cost.start.values(), name=cost.parameters)`` needs no
    glue; ``cost.limits`` gives the model's ranges for ``m.limits``.

    Raises ValueError for a wrong number of values or after the fit's free
    parameters changed (fix_par/free_par: make a new Cost), and femtokit.Error
    or femtokit.ParameterError (a ValueError) as the evaluation fails, e.g. a
    value outside the model's range.
    """

    errordef = 1.0

    def __init__(self, fit):
        if not isinstance(fit, _core.CCF2SFit):
            raise TypeError("Cost needs a femtokit fit (CCF2SFit or one of its models), got "
                            + type(fit).__name__)
        self._fit = fit
        self._names = tuple(fit.free_names)

    # How iminuit learns the parameter names: _parameters (name -> limits) since
    # iminuit 2.21, func_code before.
    @property
    def _parameters(self):
        return {n: None for n in self._names}

    @property
    def func_code(self):
        """The parameter names in the form older iminuit versions read (co_varnames, co_argcount)."""
        return _types.SimpleNamespace(co_varnames=self._names, co_argcount=len(self._names))

    @property
    def parameters(self):
        """Names of the free parameters, in call order (a tuple of str)."""
        return self._names

    @property
    def start(self):
        """The fit's current values of the free parameters, as a dict name -> value."""
        values = self._fit.values
        return {n: float(values[i]) for i, n in enumerate(self._names)}

    @property
    def errors(self):
        """The fit's errors (step scales) of the free parameters, as a dict name -> error."""
        errors = self._fit.errors
        return {n: float(errors[i]) for i, n in enumerate(self._names)}

    @property
    def limits(self):
        """The allowed range (xmin, xmax) of each free parameter (the model's range), in call order."""
        lo, hi = self._fit.xmin, self._fit.xmax
        return [(float(lo[i]), float(hi[i])) for i in range(len(self._names))]

    @property
    def ndata(self):
        """Number of measured points compared (q bins, or 3D cells with a nonzero error)."""
        return self._fit.nbins

    def __call__(self, *args):
        """chi^2 at the free values given as separate numbers or one sequence, in the order of parameters."""
        if len(args) == 1 and _numpy.ndim(args[0]) == 1:
            values = [float(v) for v in args[0]]
        else:
            values = [float(v) for v in args]
        if tuple(self._fit.free_names) != self._names:
            raise ValueError("the fit's free parameters changed since this Cost was made ("
                             + ", ".join(self._names) + " -> " + ", ".join(self._fit.free_names)
                             + "); make a new one")
        if len(values) != len(self._names):
            raise ValueError("expected %d values (%s), got %d" % (len(self._names), ", ".join(self._names),
                                                                  len(values)))
        for n, v in zip(self._names, values):
            if not _math.isfinite(v):
                raise ValueError("%s = %r is not a finite number" % (n, v))
        return self._fit.get_chi_squared(values)

    def __repr__(self):
        return "<femtokit.Cost of %s over %s, %d points>" % (type(self._fit).__name__, ", ".join(self._names),
                                                             self.ndata)


# Source models by the names of source_models().
_MODELS = {
    "gx1d": CSourceCalc_GX1D,  # noqa: F405
    "levy": CSourceCalc_Levy,  # noqa: F405
    "gauss3d": CSourceCalc_Gaussian,  # noqa: F405
    "blast": CSourceCalc_Blast,  # noqa: F405
    "events": CSourceCalc_OSCAR,  # noqa: F405
}


def make_source(model, pars=None):
    """The source model of that name (source_models(): 'gx1d', 'levy', 'gauss3d', 'blast', 'events') with its
    defaults, overlaid by the dict pars. KeyError for an unknown model or parameter name, TypeError for a value of
    the wrong type, femtokit.ParameterError (a ValueError) for a value outside the model's range."""
    try:
        cls = _MODELS[model]
    except (KeyError, TypeError):
        raise KeyError("no source model %r (%s)" % (model, ", ".join(_MODELS))) from None
    return cls(dict(pars) if pars else None)


def correlation(pair, model, pars=None, q=None, *, kpars=None, cache_dir=None):
    """The angle-averaged correlation function C(q) of a pair and a source model, as a NumPy array.

    pair: a name of known_pairs() ('pp', 'pi+pi+', 'pLambda', ...); model: a name of source_models()
    ('gx1d', 'levy', 'gauss3d', 'blast', 'events'); pars: dict of the model's parameters (the model's defaults
    for those not given; units of its table, radii in fm); q: momenta of one particle in the pair rest frame
    (MeV/c; an array or a number), None for the kernel's bin centres. kpars: the kernel mesh (file or dict:
    NQMAX, DELQ, NRMAX, DELR, KLMAX), default the pair's shipped one; cache_dir: where kernels are kept
    (kernel_cache_dir()).

    The kernel comes from cached_kernel(): computed once per pair and mesh and kept on disk, read again while
    current. The source is filled on the kernel's r mesh, transformed (C(q) - 1 = int d^3r K S) and C = 1 +
    CF_000 interpolated linearly between the kernel's q bin centres. C has the shape of q.

    Raises KeyError for an unknown pair, model or parameter, femtokit.ParameterError (a ValueError) for a
    parameter outside its range, ValueError for a q that is not finite or lies outside the kernel's bin
    centres (widen the mesh with kpars), femtokit.Error as the kernel, the cache or the source fails.
    """
    source = make_source(model, pars)
    kernel = cached_kernel(pair, kpars, cache_dir)  # noqa: F405
    sym = bool(kernel.identical)
    s = CCHArray(kernel.lmax, kernel.nrmax, kernel.delr, sym, sym, sym)  # noqa: F405
    cf = CCHArray(kernel.lmax, kernel.nqmax, kernel.delq, sym, sym, sym)  # noqa: F405
    source.calc_s(s)
    S2CF.s2c(0, 0, 0, s, kernel, cf)  # noqa: F405
    centres = kernel.q
    c = 1.0 + _numpy.array(cf.component(0, 0, 0), dtype=float)
    if q is None:
        return c
    qa = _numpy.asarray(q, dtype=float)
    if not _numpy.all(_numpy.isfinite(qa)):
        raise ValueError("q holds a value that is not a finite number")
    lo, hi = centres[0], centres[-1]
    outside = (qa < lo - 1e-9 * hi) | (qa > hi * (1 + 1e-12))
    if _numpy.any(outside):
        bad = float(qa[outside].flat[0])
        raise ValueError("q = %g MeV/c lies outside the kernel's q bin centres %g ... %g MeV/c of %s (a mesh "
                         "reaching further: kpars={'NQMAX': ..., 'DELQ': ...})" % (bad, lo, hi, pair))
    out = _numpy.interp(qa, centres, c)
    return out if qa.ndim else float(out)


class _LevyProfile:
    """4 pi r^2 S(r) of a Levy source on an object (levy.profile(r)); the unit-scale f_alpha(x) when called on
    the class (CSourceCalc_Levy.profile(alpha, x), as unit_profile)."""

    def __get__(self, obj, cls=None):
        if obj is None:
            return CSourceCalc_Levy.unit_profile  # noqa: F405
        return obj.radial_profile


CSourceCalc_Levy.profile = _LevyProfile()  # noqa: F405


def _fit_cost(self):
    """The iminuit-compatible least-squares Cost of this fit over its current free parameters."""
    return Cost(self)


CCF2SFit.cost = _fit_cost  # noqa: F405
