#!/usr/bin/env bash
# The SDK as a plug-in author gets it: installs the build into a scratch
# prefix, builds examples/hello-plugin and its test out of tree against the
# installed package, runs the test with ctest (the installed test kit), runs
# the plug-in in the installed ktx-host and calls it as its README does: both
# routes, the observed resource, the event on the event stream.
#
# Usage: hello_plugin_sdk.sh <cmake> <build dir> <example dir> <scratch dir> [example cmake args...]
set -euo pipefail
cmake=$1 build=$(realpath "$2") example=$(realpath "$3") scratch=$(realpath -m "$4")
shift 4

fail() {
  echo "FAIL: $*" >&2
  [ -f "$scratch/host.log" ] && sed 's/^/  host: /' "$scratch/host.log" >&2
  exit 1
}
# Polls `condition` (a command) every 0.1 s for up to `seconds`.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

rm -rf "$scratch"
mkdir -p "$scratch"
prefix=$scratch/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" || fail "install"

"$cmake" -S "$example" -B "$scratch/hello" -DCMAKE_PREFIX_PATH="$prefix" "$@" \
  >"$scratch/configure.log" || { cat "$scratch/configure.log"; fail "configure the example"; }
"$cmake" --build "$scratch/hello" >"$scratch/build.log" || {
  cat "$scratch/build.log"
  fail "build the example"
}
"$(dirname "$cmake")/ctest" --test-dir "$scratch/hello" --output-on-failure \
  >"$scratch/ctest.log" 2>&1 || { cat "$scratch/ctest.log"; fail "the example's own test"; }
grep -q '100% tests passed' "$scratch/ctest.log" || { cat "$scratch/ctest.log"; fail "the example's test ran no test"; }
plugin=$scratch/hello/ktx-be-hello.so
exports=$(nm -D --defined-only "$plugin" | awk '{print $3}')
[ "$exports" = load_hello ] || fail "the plug-in exports [$exports], not only load_hello"
# ktx_add_plugin's VERSION, from the package's note template.
note='Packaging Metadata: {"type":"ktx-plugin","name":"ktx-be-hello","version":"1.0.0"}'
readelf -n "$plugin" | grep -qF "$note" || fail "the plug-in's notes lack $note"

run_file=$scratch/ktx-host.json
"$prefix/bin/ktx-host" --plugin "$plugin" --no-mock --no-demo --run-file "$run_file" \
  >"$scratch/host.log" 2>&1 &
host_pid=$!
stream_pid=
cleanup() {
  [ -n "$stream_pid" ] && kill "$stream_pid" 2>/dev/null
  kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
  true
}
trap cleanup EXIT
wait_for 60 test -s "$run_file" || fail "ktx-host wrote no run file"
# As the README reads them.
TOKEN=$(sed 's/.*"token":"\([^"]*\)".*/\1/' "$run_file")
PORT=$(sed 's/.*"port":\([0-9]*\).*/\1/' "$run_file")
base=http://127.0.0.1:$PORT

call() { curl -s -u "ktx:$TOKEN" "$@"; }
post_text() {
  call -X POST -H 'Content-Type: application/json' -d "{\"text\":\"$1\"}" "$base/hello/v1/greeting"
}
expect() {  # expect <what> <expected> <actual>
  [ "$3" = "$2" ] || fail "$1: expected $2, got $3"
}

call -N "$base/events?events=OnJsonApiEvent_hello_v1_greeting" >"$scratch/events.txt" &
stream_pid=$!
wait_for 30 grep -q '^: connected' "$scratch/events.txt" || fail "no event stream"

expect "GET before any change" '{"locale":"","text":"Hello"}' "$(call "$base/hello/v1/greeting")"
call -X PUT -d '{"locale":"de_DE"}' "$base/host/v1/resources/teskclient/region-locale" >/dev/null
expect "the observed locale" '{"locale":"de_DE","text":"Hello"}' \
  "$(call "$base/hello/v1/greeting")"
expect "POST" '{"locale":"de_DE","text":"Hallo"}' "$(post_text Hallo)"
expect "POST of the same text" '{"locale":"de_DE","text":"Hallo"}' "$(post_text Hallo)"
expect "POST of an empty text" '400' \
  "$(call -o /dev/null -w '%{http_code}' -X POST -H 'Content-Type: application/json' \
       -d '{"text":""}' "$base/hello/v1/greeting")"
expect "POST" '{"locale":"de_DE","text":"Servus"}' "$(post_text Servus)"
expect "GET after the changes" '{"locale":"de_DE","text":"Servus"}' \
  "$(call "$base/hello/v1/greeting")"

# One event per change, none for the unchanged text or the refused one.
stream_has_two_events() { [ "$(grep -c '^data:' "$scratch/events.txt")" -ge 2 ]; }
wait_for 30 stream_has_two_events || fail "events: $(cat "$scratch/events.txt")"
sleep 0.5
expect "events" \
  'data: {"data":{"locale":"de_DE","text":"Hallo"},"eventType":"Update","uri":"/hello/v1/greeting"}
data: {"data":{"locale":"de_DE","text":"Servus"},"eventType":"Update","uri":"/hello/v1/greeting"}' \
  "$(grep '^data:' "$scratch/events.txt")"
grep -q '^event: OnJsonApiEvent_hello_v1_greeting$' "$scratch/events.txt" ||
  fail "events carry no name: $(cat "$scratch/events.txt")"

# The routes as Swagger UI reads them, and Swagger UI's own files.
openapi=$(call "$base/openapi.json")
for operation in GetHelloV1Greeting PostHelloV1Greeting; do
  [[ $openapi == *"\"operationId\":\"$operation\""* ]] || fail "/openapi.json lacks $operation"
done
expect "Swagger UI" 200 "$(call -o /dev/null -w '%{http_code}' "$base/docs/swagger-ui-bundle.js")"
grep -q 'OKAY| The greeting is now "Servus"' "$scratch/host.log" || fail "the plug-in's log line"
echo "hello-plugin: installed SDK, out-of-tree build, routes, resource and events pass"
