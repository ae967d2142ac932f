"""Prints the table of bench/README.md from the results of bench/refresh.sh."""
import json
import os
import statistics
import sys

out = sys.argv[1]
runs_of = {}
for name in ("pair_kernel", "s2cf", "psisquared", "arraycalc"):
    with open(os.path.join(out, name + ".json")) as f:
        for b in json.load(f)["benchmarks"]:
            if b.get("run_type") != "iteration":
                continue
            # Threaded benchmarks count wall time, the others the CPU time of their thread.
            key = b["run_name"]
            scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
            runs_of.setdefault(key, []).append(((b["real_time"] if "real_time" in key else b["cpu_time"]) * scale, b))
rows = {k: statistics.median(v[0] for v in r) for k, r in runs_of.items()}
fastest = {k: min(v[0] for v in r) for k, r in runs_of.items()}


def counter(key, name):
    return statistics.median(b[name] for _, b in runs_of[key])


def t(key):
    return rows[key]


def fmt(s):
    return "%.3g s" % s if s >= 0.1 else "%.3g ms" % (s * 1e3) if s >= 1e-4 else "%.3g µs" % (s * 1e6)


def runs(name):
    with open(os.path.join(out, name)) as f:
        return statistics.median(float(x) for x in f.read().split())


table = []
for what, a, b in [
    ("pp wave-function build (main job), 1 → 2 threads", "BM_PairWaveFunction/pp/1/real_time",
     "BM_PairWaveFunction/pp/2/real_time"),
    ("pp kernel projection, 1 → 2 threads", "BM_PairKernel/pp/1/real_time", "BM_PairKernel/pp/2/real_time"),
    ("whole pp kernel (build + projection), 1 → 2 threads", "BM_PairWhole/pp/1/real_time",
     "BM_PairWhole/pp/2/real_time"),
]:
    table.append((what + ", wall", fmt(t(a)), fmt(t(b)),
                  "%.2f× (fastest runs %.2f×)" % (t(a) / t(b), fastest[a] / fastest[b]), "≥ 1.8"))
    # The calling thread's CPU time: the critical path, also while other jobs share the cores.
    ca = statistics.median(x["cpu_time"] for _, x in runs_of[a])
    cb = statistics.median(x["cpu_time"] for _, x in runs_of[b])
    pa, pb = counter(a, "process_cpu"), counter(b, "process_cpu")
    table.append((what + ", CPU of the calling thread (all threads)", "%s (%s)" % (fmt(ca * 1e-3), fmt(pa)),
                  "%s (%s)" % (fmt(cb * 1e-3), fmt(pb)), "%.2f×" % (ca / cb), "≥ 1.8"))
for what, a, b in [
    ("s2c, straightforward → row form", "BM_S2CStraightforward", "BM_S2C"),
    ("source re-evaluation, straightforward → now", "BM_SourceReevaluationStraightforward", "BM_SourceReevaluation"),
    ("|ψ|² at 100 fm, direct → tabulated", "BM_PsiSquaredDirect/100", "BM_PsiSquared/100"),
    ("product LMAX 6, per-bin → whole array", "BM_MultiplyPerBin/0", "BM_Multiply/0"),
    ("quotient LMAX 6, per-bin → whole array", "BM_DividePerBin/0", "BM_Divide/0"),
    ("product LMAX 6 symmetric, per-bin → whole array", "BM_MultiplyPerBin/1", "BM_Multiply/1"),
    ("quotient LMAX 6 symmetric, per-bin → whole array", "BM_DividePerBin/1", "BM_Divide/1"),
]:
    table.append((what, fmt(t(a)), fmt(t(b)), "%.2f×" % (t(a) / t(b)), ""))

s2c, floor = t("BM_S2C"), t("BM_S2CMultiplyAdds")
table.append(("s2c against its 28,800 multiply-adds alone", fmt(s2c), fmt(floor), "%.2f" % (s2c / floor), "≤ 2"))
spread = counter("BM_PsiSquaredFlatness", "spread")
table.append(("|ψ|² per evaluation at 100 fm and 1 fm (fastest rounds)",
              "%.3g ns" % counter("BM_PsiSquaredFlatness", "ns@100"), "%.3g ns" % counter("BM_PsiSquaredFlatness", "ns@1"),
              "spread %.2f" % spread, "≤ 1.2"))
table.append(("source re-evaluation (GX1D + s2c + χ²)", fmt(t("BM_SourceReevaluation")), "", "", "< 40 µs"))
table.append(("main job, cached kernel (scripts/run.sh)", fmt(runs("run_cached.txt")), "", "", "< 0.3 s"))
table.append(("main job, kernel computed (scripts/run.sh)", fmt(runs("run_first.txt")), "", "", "< 20 s"))

print("| measurement | A | B | A/B | target |")
print("| --- | ---: | ---: | ---: | --- |")
for r in table:
    print("| " + " | ".join(r) + " |")
