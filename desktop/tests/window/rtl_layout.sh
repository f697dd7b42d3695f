#!/usr/bin/env bash
# Right to left, measured in pixels on the Persian window: the sidebar stays at
# the left, the LAN page's join card stands at the right, the status badge's dot
# stands right of its word and Confirm left of Cancel, on the LAN page (through
# a real tunnel, as in lan_page.sh) and on the game page; the public list's
# capacity title shares its right edge with the figures under it, the room's
# values stand beside their labels, and the update's download bar fills from the right.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

TAP=ostrel0   # the client makes it, as on a fresh machine
ROOM=v1
NEUTRAL="640 700"   # a spot where the pointer hovers nothing
LIME="#c1fd05"
RED="#e04040"

# lime_runs FILE GEOMETRY: the runs of columns holding lime-ish pixels (the badge's
# word and its dot, whatever the dot's pulse), as "start-end" from left to right.
# GEOMETRY takes the badge's middle rows, where its border is a line or two wide
# at each end: runs that narrow are left out.
lime_runs() {
  convert "$1" -crop "$2" +repage -depth 8 txt:- | awk -F'[,:() ]+' '
    NR > 1 { x = $1; r = $3; g = $4; b = $5
             if (g > 70 && g > b + 45 && r > b + 25 && g >= r) seen[x] = 1
             if (x > w) w = x }
    END { run = -1
          for (x = 0; x <= w + 1; x++) {
            if ((x in seen) && run < 0) run = x
            if (!(x in seen) && run >= 0) { if (x - run > 3) printf "%d-%d ", run, x - 1; run = -1 }
          } }'
}
# value_gap FILE GEOMETRY: on one row of the room's card, the pixels between the
# value's white text and the first lit column right of it, its label's left edge.
value_gap() {
  convert "$1" -crop "$2" +repage -depth 8 txt:- | awk -F'[,:() ]+' '
    NR > 1 { x = $1; r = $3; g = $4; b = $5
             if (r > 235 && g > 235 && b > 235 && x > white) white = x
             if ((r + g + b) / 3 > 100) lit[x] = 1 }
    END { for (x = white + 3; x <= white + 1000; x++) if (x in lit) { print x - white; exit }
          print 9999 }'
}
# right_edge FILE GEOMETRY dim|lime: the region's rightmost column of the public
# list's grey column titles or of its lime figures.
right_edge() {
  convert "$1" -crop "$2" +repage -depth 8 txt:- | awk -F'[,:() ]+' -v kind="$3" '
    NR > 1 { x = $1; r = $3; g = $4; b = $5
             if (kind == "dim" && r > 60 && g > 60 && b > 60 && r - b < 10 && b - r < 10 && x > e) e = x
             if (kind == "lime" && g > 120 && g > b + 60 && x > e) e = x }
    END { print e + 0 }'
}
# lime_span FILE GEOMETRY: "first last" column holding lime in the region.
lime_span() {
  convert "$1" -crop "$2" +repage -depth 8 txt:- | awk -F'[,:() ]+' '
    NR > 1 { x = $1; r = $3; g = $4; b = $5
             if (g > 150 && g > b + 100 && r > b + 60) { if (lo == "" || x < lo) lo = x; if (x > hi) hi = x } }
    END { print lo + 0, hi + 0 }'
}

# dot_right_of_word FILE GEOMETRY: the badge's last run is the dot (a few pixels
# wide) and its first the word.
dot_right_of_word() {
  local runs last first
  runs=$(lime_runs "$1" "$2")
  log "badge runs in $2: $runs"
  last=${runs% }; last=${last##* }
  first=${runs%% *}
  [ "$first" != "$last" ] && [ $(( ${last#*-} - ${last%-*} )) -le 9 ] && [ $(( ${first#*-} - ${first%-*} )) -gt 9 ]
}
# confirm_left_of_cancel FILE LEFT_X RIGHT_X Y: the red Confirm fills the left
# button, the grey Cancel the right one (each 130 x 40 from its left edge).
confirm_left_of_cancel() {
  local left right
  left=$(color_count "$1" "120x30+$(($2 + 5))+$(($4 + 5))" "$RED")
  right=$(color_count "$1" "120x30+$(($3 + 5))+$(($4 + 5))" "$RED")
  log "red pixels: left button $left, right button $right"
  [ "$left" -gt 1500 ] && [ "$right" -lt 100 ]
}

start_display
"$BIN/ostrel-tunnel-server" --port "$TUNNEL_PORT" --account "demo:demo1234:$ROOM:l2" >"$STAGE/tunnel.log" 2>&1 &
start_service
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
"$BIN/udp-echo" 127.0.0.2:27015 >"$STAGE/echo.out" 2>&1 &
wait_until 10 grep -q echoing "$STAGE/echo.out" || fail "the UDP echo server did not start"
seed_settings savedLang=fa savedUsername=demo tutorialDone=true
start_corvana
wait_until 60 update_check_done || fail "the update check did not end"

# The Persian login form stands at the left; the user name is filled in from the last run.
click 372 392
type_text demo1234
key Return
wait_until 20 signed_in || fail "the sign-in did not succeed"
xdotool mousemove $NEUTRAL
shot rtl-lan-fa request_seen /api/vlans/public

# ---- The LAN page, disconnected ----
# The sidebar's lime mark of the current tab stands at the window's left edge.
[ "$(color_count "$SHOTS/rtl-lan-fa.png" 8x30+0+363 "$LIME")" -gt 20 ] || fail "the sidebar is not at the left"
[ "$(color_count "$SHOTS/rtl-lan-fa.png" 8x30+1272+363 "$LIME")" -lt 5 ] || fail "a tab mark stands at the right edge"
# The join card stands at the right: its Join button (lime, dimmed while no id is typed).
[ "$(color_count "$SHOTS/rtl-lan-fa.png" 380x40+870+203 "#6a8517")" -gt 3000 ] || fail "the join card is not at the right"
[ "$(color_count "$SHOTS/rtl-lan-fa.png" 380x40+80+203 "#6a8517")" -lt 500 ] || fail "a join button stands at the left"
# The capacity title and the first room's figures share their right edge, as in English.
title_edge=$(right_edge "$SHOTS/rtl-lan-fa.png" 160x14+190+114 dim)
figures_edge=$(right_edge "$SHOTS/rtl-lan-fa.png" 160x18+190+153 lime)
log "capacity column: title ends at $title_edge, figures at $figures_edge"
[ "$title_edge" -gt 0 ] && [ "$figures_edge" -gt 0 ] && [ $((title_edge - figures_edge)) -le 4 ] \
  && [ $((figures_edge - title_edge)) -le 4 ] || fail "the capacity title and its figures do not share their edge"

# ---- The LAN page, connected: the first public room, through the tunnel ----
click 155 162 0.1
xdotool mousemove $NEUTRAL
wait_request "/api/vlans/$ROOM/join" || fail "the join was not sent"
wait_until 60 lobby_member_signed_in || fail "the room's lobby was not joined"
wait_until 20 bash -c "ip -4 addr show dev $TAP | grep -q inet" || fail "the adapter got no address"
shot rtl-lan-connected-fa app_log_has "tunnel ready"
dot_right_of_word "$SHOTS/rtl-lan-connected-fa.png" 100x8+1150+141 || fail "the LAN page's badge dot is not right of its word"
# The VLAN id, the VPN address and the duration stand right beside their labels
# (the copy buttons keep the card's far left).
for row in "VLAN id:182" "VPN IP:224" "duration:262"; do
  gap=$(value_gap "$SHOTS/rtl-lan-connected-fa.png" "370x16+880+${row##*:}")
  log "room card, ${row%:*}: $gap px from value to label"
  [ "$gap" -le 24 ] || fail "the ${row%:*} stands $gap px from its label"
done

key ctrl+d
shot rtl-lan-confirm-fa changed_from rtl-lan-connected-fa
confirm_left_of_cancel "$SHOTS/rtl-lan-confirm-fa.png" 504 646 362 || fail "the LAN page's Confirm is not left of Cancel"
click 568 381
xdotool mousemove $NEUTRAL
wait_request "/api/vlans/$ROOM/disconnect" 20 || fail "the leave was not posted"
wait_until 20 bash -c "! pgrep -x ostrel-client" || fail "the tunnel client is still running"
shot rtl-lan-left-fa app_log_has "disconnected: reason="

# ---- The game page: a dedicated connection and its own confirmation ----
click 30 329
shot rtl-game-games-fa request_seen /api/games/dedicated
click 1040 230
wait_request /api/games/cs2/servers || fail "the servers were not asked for"
shot rtl-game-servers-fa pings_shown 1000x230+200+290
click 152 314
wait_until 20 app_log_has "dedicated: ready: connect 127.0.0.1:" || fail "the connection did not become ready"
xdotool mousemove $NEUTRAL
shot rtl-game-connection-fa app_log_has "dedicated: ready: connect 127.0.0.1:"
dot_right_of_word "$SHOTS/rtl-game-connection-fa.png" 100x8+360+75 || fail "the game page's badge dot is not right of its word"
click 96 79
xdotool mousemove $NEUTRAL
shot rtl-game-confirm-fa changed_from rtl-game-connection-fa
confirm_left_of_cancel "$SHOTS/rtl-game-confirm-fa.png" 532 674 362 || fail "the game page's Confirm is not left of Cancel"
click 597 381
wait_until 10 app_log_has "portfwd: stopped: Dedicated Game" || fail "the forward was not stopped"

# ---- The update overlay: a download half done fills its bar from the right ----
kill "$APP_PID"
wait "$APP_PID" 2>/dev/null || true
INSTALL=$STAGE/install
RELEASE=$STAGE/release
mkdir -p "$INSTALL" "$RELEASE/notes"
cp "$BIN/corvana" "$BIN/ostrel-client" "$BIN/CorvanaUpdateStub" "$INSTALL/"
cp "$BIN/corvana" "$BIN/ostrel-client" "$RELEASE/"
# Two new files of one size; the second answers late, and then with 404.
head -c 65536 /dev/zero >"$RELEASE/notes/about.txt"
head -c 65536 /dev/zero | tr '\0' '.' >"$RELEASE/notes/changes.txt"
curl -sf -X POST "$SERVICE/test/update" -d "{\"folder\":\"$RELEASE\"}" >/dev/null || fail "the release was not published"
hold_release_file '"status":404'
BIN=$INSTALL start_corvana
shot rtl-update-available-fa app_log_has "updater: update available: 2 files"
click_button rtl-update-available-fa "#c1fd05"
shot rtl-update-downloading-fa app_log_has "updater: downloading: notes/changes.txt"
app_log_has "updater: download failed" && fail "the download had failed before its screenshot"
read -r bar_from bar_to <<<"$(lime_span "$SHOTS/rtl-update-downloading-fa.png" 420x260+430+230)"
log "download bar: lime from $((430 + bar_from)) to $((430 + bar_to))"
[ "$bar_to" -gt 380 ] && [ "$bar_from" -gt 180 ] || fail "the download bar does not fill from the right"
let_release_file
wait_until 20 app_log_has "updater: download failed: notes/changes.txt" || fail "the held file did not fail"
finish
