# Shared by the benchmark scripts: the build folder, the demo service, wall-clock timing.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
CLI=$BUILD/cli/albumbrowser-cli
SERVICE=$BUILD/tools/demo-service/zorbi-demo-service
for tool in "$CLI" "$SERVICE"; do
  [ -x "$tool" ] || { echo "missing $tool: build the project first (scripts/test or cmake --build build)" >&2; exit 1; }
done
WORK=$(mktemp -d)
SERVICE_PID=""
cleanup() { [ -n "$SERVICE_PID" ] && kill "$SERVICE_PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT

# start_service ARGS...: starts the demo service on a free port; sets PORT and writes its log to $WORK/service.log
start_service() {
  "$SERVICE" --port 0 "$@" >"$WORK/service.out" 2>"$WORK/service.log" &
  SERVICE_PID=$!
  for _ in $(seq 100); do
    PORT=$(grep -o 'listening on http://127.0.0.1:[0-9]*' "$WORK/service.out" 2>/dev/null | grep -o '[0-9]*$' || true)
    [ -n "$PORT" ] && return 0
    sleep 0.05
  done
  echo "the demo service did not start" >&2; exit 1
}

# seconds CMD...: runs the command and prints its wall-clock time in seconds
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo "scale=3; ($end - $start) / 1000000000" | bc
}
