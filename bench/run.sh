#!/usr/bin/env bash
# Builds the tree benchmarks, runs them once and prints
# our times and memory as ratios to the peers measured in the same run.
# Extra arguments go to the benchmark program (e.g. --benchmark_filter=build/).
set -euo pipefail
cd "$(dirname "$0")/.."
# The first argument names the preset: the native optimised build by default,
# or the 32-bit product build (linux-x86), whose programs run under emulation here.
preset=linux-x64-release
if [ $# -gt 0 ] && [[ $1 != -* ]]; then preset=$1; shift; fi
bash scripts/bootstrap.sh >/dev/null
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)" --target ktx-bench-binding
out=build/$preset/bench/binding_tree_bench.json
# Repetitions interleaved at random, so that a burst of load on the shared
# machine does not fall on one contender only.
build/$preset/bin/ktx-bench-binding --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
  --benchmark_out="$out" --benchmark_out_format=json "$@"

python3 - "$out" <<'PY'
import json, math, sys

# run name "build/A/ours/iterations:20" -> (operation, shape, contender)
median, cv = {}, {}
report = json.load(open(sys.argv[1]))
for b in report["benchmarks"]:
    if b.get("run_type") != "aggregate":
        continue
    key = tuple(b["run_name"].split("/")[:3])
    if b["aggregate_name"] == "median":
        median[key] = b
    elif b["aggregate_name"] == "cv":
        cv[key] = b["cpu_time"]

peers = ("rapidjson", "nlohmann")
ops = [o for o in ("build", "copy", "destroy") if any(k[0] == o for k in median)]
shapes = sorted({k[1] for k in median})

def ratio(op, shape, peer, field="cpu_time"):
    ours, other = median.get((op, shape, "ours")), median.get((op, shape, peer))
    if not ours or not other or not other.get(field):
        return None
    return ours[field] / other[field]

def text(value):
    return "    -" if value is None else f"{value:6.2f}"

def geomean(values):
    values = [v for v in values if v]
    return math.exp(sum(map(math.log, values)) / len(values)) if values else None

print(f"\nC heap: {report['context'].get('c_heap', '?')}")
print("CPU time, median of the repetitions; ratio = ours / peer (below 1: ours is faster)")
print(f"{'operation':<10}{'shape':<7}{'ours ms':>9}{'cv':>7}{'/Document':>11}{'/nlohmann':>11}")
for op in ops:
    for shape in shapes:
        ours = median.get((op, shape, "ours"))
        if not ours:
            continue
        print(f"{op:<10}{shape:<7}{ours['cpu_time']:9.3f}{cv.get((op, shape, 'ours'), 0):7.1%}"
              f"{text(ratio(op, shape, 'rapidjson')):>11}{text(ratio(op, shape, 'nlohmann')):>11}")
    print(f"{op:<10}{'geo':<7}{'':9}{'':7}"
          + "".join(f"{text(geomean([ratio(op, s, p) for s in shapes])):>11}" for p in peers))

print("\nMemory per tree (bytes counter of build and copy); ratio = ours / peer")
print(f"{'tree':<10}{'shape':<7}{'ours MB':>9}{'':7}{'/Document':>11}{'/nlohmann':>11}")
for op in ("build", "copy"):
    for shape in shapes:
        ours = median.get((op, shape, "ours"))
        if not ours or "bytes" not in ours:
            continue
        label = "built" if op == "build" else "copied"
        print(f"{label:<10}{shape:<7}{ours['bytes'] / 1e6:9.2f}{'':7}"
              f"{text(ratio(op, shape, 'rapidjson', 'bytes')):>11}"
              f"{text(ratio(op, shape, 'nlohmann', 'bytes')):>11}")

# Every contender must have built the same tree.
for shape in shapes:
    counts = {k[2]: b.get("values") for k, b in median.items() if k[:2] == ("build", shape)}
    if len(set(counts.values())) > 1:
        print(f"WARNING: shape {shape}: the trees differ in size: {counts}")
PY
