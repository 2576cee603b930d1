#!/usr/bin/env bash
# Builds the dispatch benchmark, runs it once and
# prints each dispatch as a ratio to the direct call and to decoding alone,
# measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
# The first argument names the preset: the native optimised build by default,
# or the 32-bit product build (linux-x86), whose programs run under emulation here.
preset=linux-x64-release
if [ $# -gt 0 ] && [[ $1 != -* ]]; then preset=$1; shift; fi
bash scripts/bootstrap.sh >/dev/null
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)" --target ktx-bench-dispatch
out=build/$preset/bench/dispatch_bench.json
mkdir -p "$(dirname "$out")"
build/$preset/bin/ktx-bench-dispatch --benchmark_repetitions=7 \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
  --benchmark_out="$out" --benchmark_out_format=json "$@"

python3 - "$out" <<'PY'
import json, sys
median = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") == "aggregate" and b["aggregate_name"] == "median":
        median[b["run_name"]] = b["cpu_time"]
def ratio(a, b):
    return f"{median[a] / median[b]:10.1f}" if a in median and b in median else "         -"
print("\nratios of medians (same run)")
for shape in ("none", "fifty-offers"):
    base = f"dispatch/{shape}"
    print(f"{shape:13} cached/direct {ratio(base + '/cached', base + '/direct')}"
          f"  compiled/cached {ratio(base + '/compiled', base + '/cached')}")
print(f"fifty-offers  cached/decoded {ratio('dispatch/fifty-offers/cached', 'dispatch/fifty-offers/decoded')}")
print(f"route compile regex/pattern {ratio('route/compile/regex', 'route/compile/pattern')}"
      f"  regex/no-argument dispatch {ratio('route/compile/regex', 'dispatch/none/cached')}")
PY
