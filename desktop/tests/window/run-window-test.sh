#!/usr/bin/env bash
# Runs one window test in private network and PID namespaces, so its service
# port, its X server and the program's start-up clean-up touch nothing else.
# Usage: run-window-test.sh BUILD_DIR TEST_SCRIPT
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: window tests need root (private network and PID namespaces)"
  exit 77
fi
for tool in Xvfb openbox xdotool import unshare curl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps.sh)"; exit 77; }
done
export WINDOW_TEST_BUILD=$(cd "$1" && pwd)
# A window test drives a real program through a window manager with the mouse;
# on a machine loaded by a parallel test run an event can land late. It gets one
# second attempt, and both attempts stay in the output.
for attempt in 1 2; do
  if unshare --net --pid --fork --mount-proc bash "$2"; then
    exit 0
  fi
  [ "$attempt" -eq 1 ] && echo "== first attempt failed; running the test once more =="
done
exit 1
