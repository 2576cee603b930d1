#!/usr/bin/env bash
# Builds the dispatch benchmark of the primary 32-bit target, runs it once and
# prints each dispatch as a ratio to the direct call and to decoding alone,
# measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh >/dev/null
cmake --preset linux-x86 >/dev/null
cmake --build --preset linux-x86 -j1 --target ktx-bench-dispatch
out=build/linux-x86/bench/dispatch_bench.json
mkdir -p "$(dirname "$out")"
build/linux-x86/bin/ktx-bench-dispatch --benchmark_repetitions=7 \
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
