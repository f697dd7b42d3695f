#!/usr/bin/env bash
# The main job on a machine where no one made a TAP interface: sign in, join, the
# live room, and a second player's ping through it. However the program ends in the
# room (SIGTERM, SIGKILL), its tunnel says goodbye to the server and leaves the host
# as it was, and a start right after joins again. The same on a hand-made TAP.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/tunnel_lib.bash"

start_display
start_tunnel_server
start_service
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
[ -z "$(ip -o link show type tun)" ] || fail "this namespace already has a TUN/TAP interface"

# fresh_start: the program as a player starts it after signing out last time.
fresh_start() {
  seed_settings savedLang=en savedUsername=demo tutorialDone=true
  start_corvana
  sign_in
}

fresh_start
live_room_on_made_adapter tunnel-fresh-connected-en
end_program_and_adapter TERM

# A start right after joins again at once, and this time the program is killed.
fresh_start
join_room
player2_pings "$WINDOW_IP" || fail "no echo from $WINDOW_IP after the second start"
end_program_and_adapter KILL

# A TAP interface made by hand is taken as it is, and kept, without the room's address.
ip tuntap add dev gamelan0 mode tap
fresh_start
join_room
ip -4 -o addr show dev gamelan0 | grep -q " $WINDOW_IP/" || fail "the hand-made adapter was not used"
end_program KILL
ip -o link show gamelan0 >/dev/null 2>&1 || fail "the hand-made adapter is gone"
[ -z "$(ip route show dev gamelan0)" ] || fail "routes left on gamelan0: $(ip route show dev gamelan0)"
fresh_start
join_room
player2_pings "$WINDOW_IP" || fail "no echo after the start that followed the kill"
end_program TERM
finish
