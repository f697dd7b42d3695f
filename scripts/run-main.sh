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
# Refused, the grant leaves the client as it was and says why in one line; the rest runs.
if [ "$(id -u)" -ne 0 ]; then
  echo "run-main: giving $bin/ostrel-client the right to configure its network adapter (sudo)"
  if ! why=$(sudo bash "$(dirname "$0")/grant-tunnel-rights.sh" "$bin/ostrel-client" "$(id -un)" 2>&1 >/dev/null); then
    why=${why##*$'\n'}
    echo "run-main: joining a room will fail (the LAN page says why), as the right was not given: ${why#grant-tunnel-rights: }" >&2
  fi
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
