#!/usr/bin/env bash
# Builds ktx-bench-codecs, runs it with repetitions and prints, per
# corpus and as the geometric mean over the corpora, every contender's speed
# relative to its format's limit and ours relative to each peer. Speed ratio
# A/B = median time of B / median time of A (above 1: A is faster). Extra
# arguments go to the benchmark program (e.g. --benchmark_filter=yaml_read/).
set -euo pipefail
cd "$(dirname "$0")/.."
# The first argument names the preset: the native optimised build by default,
# or the 32-bit product build (linux-x86), whose programs run under emulation here.
preset=linux-x64-release
if [ $# -gt 0 ] && [[ $1 != -* ]]; then preset=$1; shift; fi
bash scripts/bootstrap.sh >/dev/null
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)" --target ktx-bench-codecs
out=build/$preset/bench/codecs_bench.json
# Repetitions interleaved at random, so that a burst of load on the shared
# machine does not fall on one contender only.
build/$preset/bin/ktx-bench-codecs --benchmark_repetitions=7 \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
  --benchmark_out="$out" --benchmark_out_format=json "$@"

python3 - "$out" <<'PY'
import json, math, sys

# run name "json_read/twitter/ours" -> median CPU time
time = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") == "aggregate" and b["aggregate_name"] == "median":
        time[tuple(b["run_name"].split("/")[:3])] = b["cpu_time"]
corpora = ["twitter", "citm_catalog", "canada"]

def speed(a, b):  # how many times a is as fast as b
    return time[b] / time[a] if a in time and b in time else None

def geo(values):
    values = [v for v in values if v]
    return math.exp(sum(map(math.log, values)) / len(values)) if len(values) == 3 else None

def row(label, pairs):
    values = [speed(a, b) for a, b in pairs]
    cells = "".join("        -" if v is None else f"{v:9.2f}" for v in values + [geo(values)])
    print(f"  {label:<28}{cells}")

def table(op, title, rows):
    print(f"\n{op}: {title}\n  {'':<28}" + "".join(f"{c[:8]:>9}" for c in corpora + ["geomean"]))
    for label, a, b in rows:
        row(label, [((op, c, a), (op, c, b)) for c in corpora])

table("json_read", "speed ratios", [("ours / limit", "ours", "limit"),
      ("document / limit", "document", "limit"), ("nlohmann / limit", "nlohmann", "limit"),
      ("ours / document", "ours", "document"), ("ours / nlohmann", "ours", "nlohmann")])
for op in ("json_write", "json_write_indented"):
    table(op, "speed ratio", [("ours / writer", "ours", "writer")])
table("msgpack_read", "speed ratios", [("ours / limit", "ours", "limit"),
      ("msgpack_cxx / limit", "msgpack_cxx", "limit"), ("ours / msgpack_cxx", "ours", "msgpack_cxx")])
print("  per document, ours:")
row("msgpack / json read", [(("msgpack_read", c, "ours"), ("json_read", c, "ours")) for c in corpora])
table("yaml_read", "speed ratios", [("ours / limit", "ours", "limit"),
      ("loader / limit", "loader", "limit"), ("yaml_cpp / limit", "yaml_cpp", "limit"),
      ("ours / loader", "ours", "loader"), ("ours / yaml_cpp", "ours", "yaml_cpp")])

# Merging reads: 320,000 keys in descending order, with one key given again
# (read by the merging reader) and without; the aim is at most 2.
print("\nmerge_read: time with the repeated key / time without")
for fmt in ("json", "msgpack", "yaml"):
    shape = f"{fmt}_descending_keys"
    plain, repeated = ("merge_read", shape, "plain"), ("merge_read", shape, "repeated")
    if plain in time and repeated in time:
        print(f"  {fmt:<10}{time[repeated] / time[plain]:9.2f}"
              f"   ({time[plain]:.1f} ms, {time[repeated]:.1f} ms)")
PY
