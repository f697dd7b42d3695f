#!/usr/bin/env bash
# The main job: the stand-in service and test tunnel server on loopback, and corvana against them.
# Runs until the program quits (or Ctrl-C); without a display it runs on a virtual one.
set -euo pipefail
build=${1:?build folder}
bin=$(cd "$build/bin" && pwd)
service_port=${CORVANA_RUN_SERVICE_PORT:-8480}
tunnel_port=${CORVANA_RUN_TUNNEL_PORT:-7100}

# A join needs the right to make and configure a network adapter. Root has it; a user
# with sudo gets it for their copy of the tunnel client alone (scripts/grant-tunnel-rights.sh).
if [ "$(id -u)" -ne 0 ]; then
  echo "run-main: giving $bin/ostrel-client the right to configure its network adapter (sudo)"
  sudo bash "$(dirname "$0")/grant-tunnel-rights.sh" "$bin/ostrel-client" "$(id -un)" \
    || echo "run-main: without that right, joining a room fails; the LAN page says why" >&2
fi

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

"$bin/ostrel-tunnel-server" --port "$tunnel_port" --account demo:demo1234:v1:l2:16 &
pids+=($!)
"$bin/corvana-test-service" --port "$service_port" --tunnel-server "127.0.0.1:$tunnel_port" &
pids+=($!)
sleep 1
for pid in "${pids[@]}"; do
  kill -0 "$pid" 2>/dev/null || { echo "run-main: a stand-in did not start (ports $service_port, $tunnel_port in use?)" >&2; exit 1; }
done

echo "run-main: service on http://127.0.0.1:$service_port, tunnel server on 127.0.0.1:$tunnel_port; sign in as demo / demo1234"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$bin/corvana"
else
  echo "run-main: no display; corvana runs on a virtual X display (Ctrl-C ends it)"
  xvfb-run -a -s "-screen 0 1280x800x24" "$bin/corvana"
fi
