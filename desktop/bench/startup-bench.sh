#!/usr/bin/env bash
# Start-up of the real program, as a player meets it: from process start to the
# first frame of the window, and resident memory once signed in and on the LAN
# page. Runs the optimised build under Xvfb with openbox against testing/service,
# in private namespaces like the window tests. Run as root:
#   desktop/bench/startup-bench.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
cat >"$build/startup-bench-run.sh" <<'INNER'
source "$WINDOW_LIB"
start_display
start_service
seed_settings "savedLang=en" "tutorialDone=true"
t0=$(date +%s%3N)
"$BIN/corvana" >"$APP_OUT" 2>&1 &
APP_PID=$!
wait_until 30 grep -q "first frame shown" "$APP_LOG" || fail "no first frame"
# CPU time spent until then: steadier than wall time on a busy machine.
cpu_ms=$(awk -v hz="$(getconf CLK_TCK)" '{ print int(($14 + $15) * 1000 / hz) }' "/proc/$APP_PID/stat")
line=$(grep -m1 "first frame shown" "$APP_LOG")
t1=$(date -d "$(echo "$line" | cut -c1-23)" +%s%3N)
wait_until 30 xdotool search --onlyvisible --name '^Corvana$' || fail "no window"
xdotool windowmove --sync "$(xdotool search --onlyvisible --name '^Corvana$' | head -n1)" 0 0 || true
sleep 1.5
click 909 311; type_text demo; click 909 393; type_text demo1234; key Return
wait_request /api/auth/login || fail "no login"
sleep 4
rss=$(awk '/VmRSS/ {print $2}' "/proc/$APP_PID/status")
echo "RESULT first_frame_ms=$((t1 - t0)) cpu_ms=$cpu_ms rss_kib=$rss"
INNER
results=$(for i in $(seq "$runs"); do
  WINDOW_LIB="$here/../tests/window/lib.sh" bash "$here/../tests/window/run-window-test.sh" "$build" \
    "$build/startup-bench-run.sh" | grep RESULT
done)
echo "$results"
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
frame=$(echo "$results" | sed -E 's/.*first_frame_ms=([0-9]+).*/\1/' | median)
rss=$(echo "$results" | sed -E 's/.*rss_kib=([0-9]+).*/\1/' | median)
cpu=$(echo "$results" | sed -E 's/.*cpu_ms=([0-9]+).*/\1/' | median)
echo "runs $runs: first frame median $frame ms (CPU $cpu ms); resident memory after login median $((rss / 1024)) MiB"
