"""Prints the table of bench/README.md from the results of bench/refresh.sh."""
import json
import os
import statistics
import sys

out = sys.argv[1]
runs_of = {}
for name in ("pair_kernel", "s2cf", "psisquared", "arraycalc", "sourcecalc_pairs", "kernelwf_s2c"):
    with open(os.path.join(out, name + ".json")) as f:
        for b in json.load(f)["benchmarks"]:
            if b.get("run_type") != "iteration":
                continue
            # Threaded benchmarks count wall time, the others the CPU time of their thread.
            key = b["run_name"]
            scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
            runs_of.setdefault(key, []).append(((b["real_time"] if "real_time" in key else b["cpu_time"]) * scale, b))
rows = {k: statistics.median(v[0] for v in r) for k, r in runs_of.items()}


def counter(key, name):
    return statistics.median(b[name] for _, b in runs_of[key])


def t(key):
    return rows[key]


def fmt(s):
    return "%.3g s" % s if s >= 0.1 else "%.3g ms" % (s * 1e3) if s >= 1e-4 else "%.3g µs" % (s * 1e6)


def rate(x):
    return "%.3g M/s" % (x / 1e6)


def runs(name):
    with open(os.path.join(out, name)) as f:
        return statistics.median(float(x) for x in f.read().split())


table = []


def ratio(what, a, b, target=""):
    table.append((what, fmt(t(a)), fmt(t(b)), "%.2f×" % (t(a) / t(b)), target))


ratio("pp wave-function build (main job), 1 → 2 threads", "BM_PairWaveFunction/pp/1/real_time",
      "BM_PairWaveFunction/pp/2/real_time", "≥ 1.8")
ratio("pp kernel projection, 1 → 2 threads", "BM_PairKernel/pp/1/real_time", "BM_PairKernel/pp/2/real_time")
ratio("whole pp kernel (build + projection), 1 → 2 threads", "BM_PairWhole/pp/1/real_time",
      "BM_PairWhole/pp/2/real_time", "≥ 1.8")
table.append(("pp kernel projection, evaluations per second, 1 and 2 threads",
              rate(counter("BM_PairKernel/pp/1/real_time", "evals/s")),
              rate(counter("BM_PairKernel/pp/2/real_time", "evals/s")), "", ""))
ratio("s2c (harmonic transform), straightforward → row form", "BM_S2CStraightforward", "BM_S2C")
s2c, floor = t("BM_S2C"), t("BM_S2CMultiplyAdds")
table.append(("s2c against its 28,800 multiply-adds alone", fmt(s2c), fmt(floor), "%.2f" % (s2c / floor), "≤ 2"))
ratio("source re-evaluation, straightforward → now", "BM_SourceReevaluationStraightforward", "BM_SourceReevaluation")
table.append(("source re-evaluation (GX1D + s2c + χ²)", fmt(t("BM_SourceReevaluation")), "", "", "< 40 µs"))
ratio("\\|ψ\\|² at 100 fm, direct → tabulated", "BM_PsiSquaredDirect/100", "BM_PsiSquared/100")
table.append(("\\|ψ\\|² per evaluation at 100 fm and 1 fm",
              "%.3g ns" % counter("BM_PsiSquaredFlatness", "ns@100"), "%.3g ns" % counter("BM_PsiSquaredFlatness", "ns@1"),
              "spread %.2f" % counter("BM_PsiSquaredFlatness", "spread"), "≤ 1.2"))
for lmax in (4, 8):
    ratio("pair binning LMAX %d, direct increment → binned (1 thread)" % lmax, "BM_PairsDirect/%d/real_time" % lmax,
          "BM_PairsBinned/%d/1/real_time" % lmax, "≥ 20")
table.append(("pair binning LMAX 4, pairs per second, 1 and 2 threads",
              rate(counter("BM_PairsBinned/4/1/real_time", "pairs/s")),
              rate(counter("BM_PairsBinned/4/2/real_time", "pairs/s")), "", ""))
table.append(("blast-wave fill (pions, 499,500 pairs), 1 and 2 threads", fmt(t("BM_BlastFillPions/1/real_time")),
              fmt(t("BM_BlastFillPions/2/real_time")), "", ""))
table.append(("event-file fill (data/oscar, reading included), 1 and 2 threads", fmt(t("BM_EventFileFill/1/real_time")),
              fmt(t("BM_EventFileFill/2/real_time")), "", ""))
table.append(("3D transform (64,000 × 216 cells), cells² per second, 1 and 2 threads",
              "%.3g G/s" % (counter("BM_S2C3D/1/real_time", "cells^2/s") / 1e9),
              "%.3g G/s" % (counter("BM_S2C3D/2/real_time", "cells^2/s") / 1e9), "", ""))
for what, sym in (("", 0), (" symmetric", 1)):
    ratio("product LMAX 6%s, straightforward → now (20 bins)" % what, "BM_MultiplyStraightforward/%d" % sym,
          "BM_Multiply/%d" % sym)
    ratio("quotient LMAX 6%s, straightforward → now (20 bins)" % what, "BM_DivideStraightforward/%d" % sym,
          "BM_Divide/%d" % sym)
table.append(("main job, cached kernel (scripts/run.sh)", fmt(runs("run_cached.txt")), "", "", "< 0.3 s"))
table.append(("main job, kernel recomputed (scripts/run.sh)", fmt(runs("run_kernel.txt")), "", "", ""))
table.append(("main job, first run from a fresh clone (configure, build, kernel, job)", fmt(runs("run_first.txt")),
              "", "", "< 20 s"))

print("| measurement | A | B | A/B | target |")
print("| --- | ---: | ---: | ---: | --- |")
for r in table:
    print("| " + " | ".join(r) + " |")
