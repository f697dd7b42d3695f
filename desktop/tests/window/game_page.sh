#!/usr/bin/env bash
# The game page against the stand-in service: dedicated games, servers with
# latency from real pings to their loopback addresses, a connection whose
# local forward carries UDP to a stand-in game server and back, the Steam
# link through the desktop's URL handler, and disconnecting.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

start_display
start_service
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
# The first official server of the first game answers as a game server would.
"$BIN/udp-echo" 127.0.0.2:27015 >"$STAGE/echo.out" 2>&1 &
wait_until 10 grep -q echoing "$STAGE/echo.out" || fail "the UDP echo server did not start"
install_steam_handler
seed_settings "savedLang=en" "tutorialDone=true"
start_corvana
sign_in_demo

# The second game's picture is bytes that are no picture: its card keeps its
# colours, quietly (finish fails on any QML warning).
curl -sf -X POST "$SERVICE/test/next" \
  -d '{"path":"/static/dedicated/dota2.png","status":200,"body":"not a picture","count":50}' >/dev/null
click 30 329
wait_request /api/games/dedicated || fail "the dedicated games were not asked for"
shot game-games-en request_seen /static/dedicated/dota2.png

# Counter-Strike 2: servers on 127.0.0.2 to .5 answer pings, 192.0.2.10 does not.
click 300 230
wait_request /api/games/cs2/servers || fail "the servers were not asked for"
shot game-servers-en pings_shown 120x230+580+290
measured=$(color_count "$SHOTS/game-servers-en.png" 120x230+580+290 "#9bf07e")
unmeasured=$(color_count "$SHOTS/game-servers-en.png" 120x40+580+520 "#9bf07e")
[ "$measured" -gt 40 ] || fail "no latency shown for the loopback servers ($measured)"
[ "$unmeasured" -eq 0 ] || fail "latency shown for a server that cannot answer ($unmeasured)"

click 265 205
shot game-community-en changed_from game-servers-en
click 135 205

# Join the first official server: a forward opens, the connect code names its port.
click 1180 314
# The cover stands for two and a half seconds whatever the network does.
SETTLE_LIMIT=1 shot game-connecting-en app_log_has "UDP forward active"
app_log_has "dedicated: ready" && fail "the connection was ready before its screenshot"
wait_until 20 app_log_has "dedicated: ready: connect 127.0.0.1:" || fail "the connection did not become ready"
port=$(grep -o 'dedicated: ready: connect 127.0.0.1:[0-9]*' "$APP_LOG" | tail -n1 | grep -o '[0-9]*$')
grep -q "UDP forward active: 127.0.0.1:$port -> 127.0.0.2:27015" "$APP_LOG" \
  || fail "the connect code's port $port is not the forward's"
shot game-connection-en changed_from game-connecting-en

# A datagram to the forward reaches the game server and comes back.
# (head reads whole datagrams; the shell's read would take one byte of each)
exec 5<>/dev/udp/127.0.0.1/"$port"
printf 'corvana-probe\n' >&5
reply=$(timeout 10 head -c 14 <&5 | tr -d '\n') || fail "no answer through the forward"
exec 5<&-
[ "$reply" = "corvana-probe" ] || fail "the answer was '$reply'"
grep -q "echo [0-9]* corvana-probe" "$STAGE/echo.out" || fail "the game server saw nothing"

# Launch Game hands Counter-Strike 2's Steam link to the desktop.
click_button game-connection-en "#c1fd05" 200 300
wait_until 10 grep -q 'steam://run/730' "$STAGE/steam-links" || fail "the Steam link did not reach the handler"

# Disconnect and confirm: back to the servers, the forward closed.
click 1184 79
shot game-disconnect-confirm-en changed_from game-connection-en
click 709 390
shot game-after-disconnect-en app_log_has "portfwd: stopped: Dedicated Game"
finish
