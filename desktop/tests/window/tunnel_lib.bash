# Steps of the tunnel window tests, sourced after lib.sh: the test tunnel server, a
# sign-in and a join from the window, a second player in a namespace of its own.

# The window joins the room the demo account knows; bob is the second player.
ROOM=v1
P2_NS=corvana-p2-${STAGE##*.}

# start_tunnel_server: on every address of the test's namespace, so the second
# player reaches it over its veth; it prints each session and each goodbye.
start_tunnel_server() {
  "$BIN/ostrel-tunnel-server" --bind 0.0.0.0 --port "$TUNNEL_PORT" \
    --account "demo:demo1234:$ROOM:l2:16" --account "bob:bobpw:$ROOM:l2:16" >"$STAGE/tunnel.log" 2>&1 &
  wait_until 20 grep -q listening "$STAGE/tunnel.log" || fail "the tunnel server did not start"
}
tunnel_lines() { grep -c -- "$1" "$STAGE/tunnel.log" || true; }
# more_than COUNT COMMAND...: the number the command prints has grown past COUNT.
more_than() { local n=$1; shift; [ "$("$@")" -gt "$n" ]; }
# The window's address in the room: the last session the server granted demo.
window_ip() { grep '^session demo ' "$STAGE/tunnel.log" | tail -n1 | cut -d' ' -f3; }
public_lists() { requests_to /api/vlans/public | wc -l; }

# sign_in [fa]: the password into the login form (the user name is filled in), then the
# LAN page. The Persian form stands at the left.
sign_in() {
  local before
  before=$(public_lists)
  wait_until 60 update_check_done || fail "the update check did not end"
  if [ "${1:-en}" = fa ]; then click 372 392; else click 990 410; fi
  type_text demo1234
  key Return
  wait_until 20 more_than "$before" public_lists \
    || fail "the public list was not asked for after sign-in"
  xdotool mousemove 640 700
}

# click_join [fa]: the first public room's Join (at the far side in Persian).
click_join() {
  sleep 1   # the list's rows have come in
  if [ "${1:-en}" = fa ]; then click 155 162; else click 1183 162; fi
  xdotool mousemove 640 700
}

# join_room: the first room's Join, through to the live room; sets WINDOW_IP.
join_room() {
  local sessions
  sessions=$(tunnel_lines "^session demo ")
  click_join
  wait_until 60 more_than "$sessions" tunnel_lines "^session demo " \
    || fail "the tunnel did not authenticate"
  wait_until 60 lobby_member_signed_in || fail "the room's lobby was not joined (the tunnel never got ready)"
  WINDOW_IP=$(window_ip)
  wait_until 20 bash -c "ip -4 -o addr | grep -q ' $WINDOW_IP/'" || fail "no interface took $WINDOW_IP"
}

# start_player2: bob's client in a namespace of its own, linked to ours by a veth;
# it makes its own adapter there, as the window's client did here.
start_player2() {
  ip netns add "$P2_NS"
  AT_EXIT+=("ip netns del '$P2_NS'")
  ip link add p2-near type veth peer name p2-far netns "$P2_NS"
  ip addr add 192.0.2.1/30 dev p2-near
  ip link set p2-near up
  ip -n "$P2_NS" addr add 192.0.2.2/30 dev p2-far
  ip -n "$P2_NS" link set p2-far up
  ip -n "$P2_NS" link set lo up
  # Under a name of its own: each start of the program ends every process named like its client.
  cp "$BIN/ostrel-client" "$STAGE/player2-client"
  ip netns exec "$P2_NS" "$STAGE/player2-client" --server 192.0.2.1:"$TUNNEL_PORT" --user bob --pass bobpw \
    --node "$ROOM" --mode l2 --insecure-skip-server-auth >"$STAGE/player2.log" 2>&1 &
  P2_PID=$!
  wait_until 60 grep -q '"event":"ready"' "$STAGE/player2.log" || fail "the second player's tunnel did not come up: $(cat "$STAGE/player2.log")"
}

# player2_pings ADDRESS: an echo from the window's machine through the room.
player2_pings() {
  # Each session has a MAC of its own: what bob's kernel learnt of an earlier one is no use.
  ip -n "$P2_NS" neigh flush all 2>/dev/null || true
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    ip netns exec "$P2_NS" ping -c 1 -W 2 "$1" >/dev/null 2>&1 && return 0
  done
  return 1
}

# The host as it was before the join: no address of the room anywhere, no client,
# no adapter made for a session.
no_room_address() { ! ip -4 -o addr | grep -q ' 10\.77\.'; }
# (A zombie waiting to be reaped has ended: it counts as gone.)
no_client() { ! ps -eo stat=,comm= | awk '$1 !~ /^Z/ && $2 == "ostrel-client"' | grep -q .; }
no_session_adapter() { ! ip -o link show | grep -q ': ostrel[0-9]*[:@]'; }
program_gone() { [ ! -e "/proc/$APP_PID" ] || grep -q ') Z' "/proc/$APP_PID/stat" 2>/dev/null; }

# end_program SIGNAL: the program ends that way in the room; the tunnel still says
# goodbye to the server and leaves the host as it was.
end_program() {
  local goodbyes
  goodbyes=$(tunnel_lines "^disconnect demo")
  kill -"$1" "$APP_PID"
  wait_until 20 program_gone || fail "the program did not end on SIG$1"
  wait "$APP_PID" 2>/dev/null || true
  wait_until 20 more_than "$goodbyes" tunnel_lines "^disconnect demo" \
    || fail "after SIG$1 the server heard no goodbye from the window's client"
  wait_until 20 no_client || fail "after SIG$1 a tunnel client still runs"
  wait_until 10 no_room_address || fail "after SIG$1 an interface keeps the room's address: $(ip -4 -o addr)"
}

# live_room_on_made_adapter SHOT: a join through to the live room on the adapter the
# client made, its screenshot, and the second player's echo through it.
live_room_on_made_adapter() {
  join_room
  ip -o link show ostrel0 >/dev/null 2>&1 || fail "the client did not make its adapter"
  shot "$1" lobby_member_signed_in
  start_player2
  player2_pings "$WINDOW_IP" || fail "the second player got no echo from $WINDOW_IP"
}

# end_program_and_adapter SIGNAL: end_program, and the adapter made for the session is gone too.
end_program_and_adapter() {
  end_program "$1"
  wait_until 10 no_session_adapter || fail "the session's adapter outlived SIG$1"
}
