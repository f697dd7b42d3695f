# Shared steps of the window tests: sourced by each test script, which
# run-window-test.sh starts inside its own network and PID namespaces.
# The window runs on Xvfb with openbox, against testing/service on the port the
# test build was configured with; screenshots go to <build>/screenshots/.
set -euo pipefail

BUILD=${WINDOW_TEST_BUILD:?run through run-window-test.sh}
BIN=$BUILD/bin
SHOTS=$BUILD/screenshots
SERVICE_PORT=8480
SERVICE=http://127.0.0.1:$SERVICE_PORT
TUNNEL_PORT=7100
mkdir -p "$SHOTS"

STAGE=$(mktemp -d /tmp/corvana-window.XXXXXX)
export HOME=$STAGE/home XDG_CONFIG_HOME=$STAGE/home/config XDG_DATA_HOME=$STAGE/home/data
export XDG_CACHE_HOME=$STAGE/home/cache XDG_RUNTIME_DIR=$STAGE/run TMPDIR=$STAGE/tmp
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"
SETTINGS=$XDG_CONFIG_HOME/Corvana/Corvana.conf
APP_LOG=$XDG_DATA_HOME/Corvana/Corvana/logs/corvana.log
APP_OUT=$STAGE/corvana.out
APP_PID=""
FAILED=0
AT_EXIT=()

log() { echo "[$(date +%T)] $*"; }
fail() { echo "FAIL: $*" >&2; FAILED=1; exit 1; }

cleanup() {
  local status=$?
  if [ "$status" -ne 0 ] || [ "$FAILED" -ne 0 ]; then
    echo "---- corvana output ----"; tail -n 60 "$APP_OUT" 2>/dev/null || true
    echo "---- corvana log ----"; tail -n 40 "$APP_LOG" 2>/dev/null || true
    [ -n "${DISPLAY:-}" ] && import -window root "$SHOTS/failure-$(basename "$0" .sh).png" 2>/dev/null || true
  fi
  # Everything started here lives in this PID namespace and ends with it.
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  # What a test changed outside its own namespaces (named namespaces under /run/netns, say).
  for undo in "${AT_EXIT[@]}"; do eval "$undo" 2>/dev/null || true; done
  rm -rf "$STAGE"
}
trap cleanup EXIT

# wait_until SECONDS COMMAND...: polls the command until it succeeds.
wait_until() {
  local limit=$1; shift
  local deadline=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}

start_display() {
  ip link set lo up
  exec 3>"$STAGE/display"
  Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp >"$STAGE/xvfb.log" 2>&1 &
  wait_until 20 test -s "$STAGE/display" || fail "Xvfb did not start"
  export DISPLAY=:$(head -n1 "$STAGE/display")
  openbox >"$STAGE/openbox.log" 2>&1 &
  wait_until 20 xprop -root _NET_SUPPORTING_WM_CHECK || fail "openbox did not start"
}

# start_service [extra arguments]: testing/service on the build's port.
start_service() {
  "$BIN/corvana-test-service" --port "$SERVICE_PORT" --tunnel-server "127.0.0.1:$TUNNEL_PORT" "$@" \
    >"$STAGE/service.log" 2>&1 &
  wait_until 20 curl -sf -o /dev/null "$SERVICE/test/requests" || fail "the service did not start"
}

# slow_manifest: the next update manifest (one that offers nothing) comes slowly
# but steadily, over about ten seconds, so the check's overlay can be seen however
# long a loaded machine takes to start the program; being never silent, no stall
# limit of the program ends it.
slow_manifest() {
  local pad
  pad=$(printf '%*s' 1000 '')
  curl -sf -X POST "$SERVICE/test/next" \
    -d "{\"path\":\"/api/update\",\"bytes_per_second\":100,\"body\":\"{\\\"version\\\":\\\"1.5.0\\\",\\\"files\\\":{},\\\"remove\\\":[]}$pad\"}" >/dev/null
}

# seed_settings KEY=VALUE...: the settings file as an earlier run would have left it.
seed_settings() {
  mkdir -p "$(dirname "$SETTINGS")"
  { echo "[General]"; printf '%s\n' "$@"; } >"$SETTINGS"
}

# private_to_player PATH...: each folder is 0700, each file 0600 and unreadable to
# another account (a test that means it opens the folders above to every account).
private_to_player() {
  local path mode
  for path in "$@"; do
    mode=$(stat -c %a "$path") || return 1
    if [ -d "$path" ]; then
      [ "$mode" = 700 ] || { echo "folder $path is $mode"; return 1; }
    else
      [ "$mode" = 600 ] || { echo "file $path is $mode"; return 1; }
      if setpriv --reuid=65534 --regid=65534 --clear-groups cat "$path" >/dev/null 2>&1; then
        echo "another account reads $path"; return 1
      fi
    fi
  done
}

# The program makes and drops short-lived windows while it starts; a search
# that meets one as it goes ends in an X error, so the search is just retried.
find_window() {
  WINDOW=$(xdotool search --onlyvisible --name '^Corvana$' 2>/dev/null | head -n1) || return 1
  [ -n "$WINDOW" ]
}

# What the program is started through (another user, say), and which copy: CORVANA when
# a test names one, else the one in BIN as it stands at the call (BIN=... start_corvana).
RUN_AS=()
start_corvana() {
  "${RUN_AS[@]}" "${CORVANA:-$BIN/corvana}" "$@" >"$APP_OUT" 2>&1 &
  APP_PID=$!
  wait_until 30 find_window || fail "no window appeared"
  xdotool windowmove --sync "$WINDOW" 0 0 || true
  wait_until 30 first_frame_shown || fail "the window drew nothing"
}

click() { xdotool mousemove --sync "$1" "$2" click 1; sleep "${3:-0.4}"; }
key() { xdotool key --clearmodifiers "$@"; sleep 0.3; }
type_text() { xdotool type --delay 20 -- "$1"; sleep 0.2; }

# grab FILE: the screen as it stands (the window fills it).
grab() { import -window root "$1"; }
# differing FILE1 FILE2: how many pixels differ (compare's status is 1 when any
# do, which is not a failure here; its count may come in exponent notation).
differing() { { compare -metric AE -fuzz 8% "$1" "$2" null: 2>&1 || true; } | awk '{ printf "%d", $1 }'; }

# settle_into FILE: grabs the screen until two grabs a quarter second apart
# differ in few pixels, so fades, slides and scrolls have ended (a spinner or a
# pulsing frame may still turn); a cover whose rings never rest is taken after
# SETTLE_LIMIT grabs (12 unless given, some 4 s). The last grab is left in FILE.
settle_into() {
  local previous=$STAGE/settle.png left=${SETTLE_LIMIT:-12}
  grab "$previous"
  while [ "$left" -gt 0 ]; do
    sleep 0.25
    grab "$1"
    [ "$(differing "$previous" "$1")" -lt 4000 ] && return 0
    mv "$1" "$previous"
    left=$((left - 1))
  done
  mv "$previous" "$1"
}

# spread FILE: how far the picture's grey levels spread, 0..1000; a black or
# empty frame has next to none.
spread() { convert "$1" -colorspace Gray -format "%[fx:round(standard_deviation*1000)]" info:; }

# shot NAME [COMMAND...]: waits until the command succeeds (the state the
# screenshot is named after has been reached: a log line, a request, a setting,
# a change on the screen), lets the screen come to rest and takes it; a blank
# frame fails the test. A number in place of the command is a pause instead.
shot() {
  local name=$1; shift
  if [ $# -eq 1 ] && [[ $1 =~ ^[0-9.]+$ ]]; then
    sleep "$1"
  elif [ $# -gt 0 ]; then
    wait_until 30 "$@" || fail "the state of screenshot $name was not reached: $*"
  fi
  settle_into "$SHOTS/$name.png"
  local level
  level=$(spread "$SHOTS/$name.png")
  [ "$level" -ge 20 ] || fail "screenshot $name is blank (spread $level)"
  log "screenshot $SHOTS/$name.png"
}

# mark NAME: the screen at rest before an action, for changed_from.
mark() { settle_into "$STAGE/$1.png"; }

# changed_from NAME [GEOMETRY [PIXELS]]: the screen (or a region of it) differs
# from the mark or screenshot NAME in more than PIXELS pixels (2000 unless
# given): a page, an overlay or a toast has come or gone.
changed_from() {
  local region=${2:-1280x720+0+0} then=$STAGE/$1.png
  [ -f "$then" ] || then=$SHOTS/$1.png
  import -window root -crop "$region" +repage "$STAGE/now-region.png"
  convert "$then" -crop "$region" +repage "$STAGE/then-region.png"
  [ "$(differing "$STAGE/then-region.png" "$STAGE/now-region.png")" -gt "${3:-2000}" ]
}

# Service calls the program made, as JSON lines (controls excluded by the service).
requests_to() { curl -sf "$SERVICE/test/requests" | tr -d '\n' | grep -o "\"path\":\"$1[^\"]*\"" || true; }
request_seen() { curl -sf "$SERVICE/test/requests" | grep -q "\"path\":\"$1"; }
wait_request() { wait_until "${2:-20}" request_seen "$1"; }
# lobby_member_signed_in: the demo player has signed in to the room's lobby.
lobby_member_signed_in() { curl -sf "$SERVICE/test/lobby" | grep -q '"signed_in":true,"username":"demo"\|"username":"demo","signed_in":true'; }

app_log_has() { grep -q -- "$1" "$APP_LOG" 2>/dev/null; }
# each_start_logged TEXT: every start of the program has logged the text.
each_start_logged() { [ "$(grep -c -- "$1" "$APP_LOG")" -ge "$(grep -c 'app: started' "$APP_LOG")" ]; }
# first_frame_shown: every start of the program has drawn its window.
first_frame_shown() { each_start_logged 'window: first frame shown'; }
# update_check_done: every start of the program has found nothing to update,
# so its overlay has gone and the window below takes clicks.
update_check_done() { each_start_logged 'updater: no update needed'; }

setting() { grep -E "^$1=" "$SETTINGS" 2>/dev/null | head -n1 | cut -d= -f2-; }
setting_is() { grep -qxF -- "$1=$2" "$SETTINGS" 2>/dev/null; }
# wait_setting KEY VALUE: the program writes its settings a moment after they change.
wait_setting() { wait_until 10 setting_is "$1" "$2"; }

# Any QML warning or error in the program's output or log fails the test.
check_no_qml_warnings() {
  local found
  found=$(grep -hE 'qrc:/|\.qml:|QML |ReferenceError|TypeError' "$APP_OUT" "$APP_LOG" 2>/dev/null || true)
  [ -z "$found" ] || fail "QML warnings: $found"
}

finish() {
  check_no_qml_warnings
  log "PASS"
}
