#!/usr/bin/env bash
# Long lists from the service: 20,000 announcements numbered past 2^31 and a
# game with 80,000 servers. The window keeps answering the player, shows the
# first entries, logs what it left out, and pops the newest announcement up
# once however often the list is fetched. Memory is logged as a figure.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

start_display
start_service
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
install_sound_recorder
seed_settings "savedLang=en" "tutorialDone=true"
start_corvana
sign_in_demo
memory() { awk '/VmRSS/ { print $2 " kB" }' "/proc/$APP_PID/status"; }
log "memory signed in: $(memory)"

python3 - "$STAGE/servers.json" <<'PY'
import json, sys
servers = [{"id": "s%d" % i, "name": "Server %d" % i, "map": "dust", "address": "10.%d.%d.%d" % (i >> 16, i >> 8 & 255, i & 255),
            "port": 27015, "players": i % 10, "capacity": 10, "source": "official"} for i in range(80000)]
json.dump({"servers": {"cs2": servers}}, open(sys.argv[1], "w"))
PY
curl -sf -X POST "$SERVICE/test/dedicated" -H 'Content-Type: application/json' --data-binary @"$STAGE/servers.json" >/dev/null \
  || fail "the servers control failed"
curl -sf -X POST "$SERVICE/test/announce" -H 'Content-Type: application/json' \
  -d '{"title":"Season news","body":"One of many.","id":3000000001,"count":20000}' >/dev/null || fail "the announce control failed"

# The page asks once a minute: the newest pops up with its sound.
wait_until 90 test -s "$STAGE/sounds" || fail "no notification sound for the new announcements"
wait_until 10 app_log_has "announcements: 20000 entries in the reply, only the first 200 kept" \
  || fail "the cut of the announcements was not logged"
log "memory with 20,000 announcements: $(memory)"
shot long-announce-popup 0.5
click 720 428   # Later
shot long-announce-later changed_from long-announce-popup

# The games, then Counter-Strike 2's 80,000 servers: the first rows show.
click 30 329
wait_request /api/games/dedicated || fail "the window did not answer the games tab"
mark games
wait_until 20 changed_from long-announce-later || fail "the games did not show"
click 300 230
wait_request /api/games/cs2/servers || fail "the servers were not asked for"
wait_until 20 app_log_has "dedicated servers: 80000 entries in the reply, only the first 1000 kept" \
  || fail "the cut of the servers was not logged"
shot long-servers changed_from games
log "memory with 80,000 servers: $(memory)"
# The page scrolls through the rows it was given.
xdotool mousemove 640 500
for _ in $(seq 1 20); do xdotool click 5; done
shot long-servers-scrolled changed_from long-servers

# A further fetch of the same list (the next minute's) brings no second pop-up.
wait_until 90 bash -c "[ \$(grep -c 'announcements: 20000 entries' '$APP_LOG') -ge 2 ]" \
  || fail "the announcements were not fetched again"
sleep 1
[ "$(wc -l <"$STAGE/sounds")" -eq 1 ] || fail "the announcement popped up again: $(wc -l <"$STAGE/sounds") sounds"
finish
