#!/usr/bin/env bash
# The LAN page as a player uses it: the public list, the create form, a click on
# a room's Join through the progress cover to the live room, members coming and
# going through the lobby, and leaving with Ctrl+D; then the same in Persian.
# While the first join waits on a paused tunnel server, the cover's reason under
# the reconnect count follows two switches of language, at both window sizes.
# The tunnel is real: the client makes its TAP adapter in this test's namespace.
source "$(dirname "$0")/lib.sh"

TAP=ostrel0   # the client makes it, as on a fresh machine
ROOM=v1
NEUTRAL="640 700"   # a spot where the pointer hovers nothing

start_display
"$BIN/ostrel-tunnel-server" --port "$TUNNEL_PORT" --account "demo:demo1234:$ROOM:l2" >"$STAGE/tunnel.log" 2>&1 &
TUNNEL_PID=$!
start_service
# Nothing to announce, so no pop-up stands over the page.
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
seed_settings savedLang=en savedUsername=demo tutorialDone=true
start_corvana
wait_until 60 update_check_done || fail "the update check did not end"

# Sign in: the user name is filled in from the last run.
click 990 410
type_text demo1234
key Return
wait_request /api/vlans/public || fail "the public list was not asked for"
xdotool mousemove $NEUTRAL

client_running() { pgrep -x ostrel-client >/dev/null; }
adapter_clean() {
  [ -z "$(ip -4 addr show dev "$TAP" | grep inet)" ] && [ -z "$(ip -6 addr show dev "$TAP" scope global)" ] \
    && [ -z "$(ip route show dev "$TAP")" ] && [ -z "$(ip -6 route show dev "$TAP" | grep -v '^fe80\|^multicast\|^ff00')" ]
}
# members_crop NAME: the member list, as pixels to compare.
members_crop() { import -window root -crop 700x420+530+165 +repage "$STAGE/$1.png"; }
pixels_differing() { compare -metric AE -fuzz 3% "$STAGE/$1.png" "$STAGE/$2.png" null: 2>&1 || true; }
# The member list, now against the crop of the lone player: grown, or back as it was.
members_grown() { members_crop now; [ "$(pixels_differing alone now)" -gt 500 ]; }
members_as_alone() { members_crop now; [ "$(pixels_differing alone now)" -lt 200 ]; }
# pixel_is X Y red|purple: the screen's colour there, roughly.
pixel_is() {
  local rgb r g b
  rgb=$(import -window root -crop "1x1+$1+$2" +repage -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -n1)
  r=$((16#${rgb:1:2})); g=$((16#${rgb:3:2})); b=$((16#${rgb:5:2}))
  case $3 in
    red) [ "$r" -gt 150 ] && [ "$g" -lt 110 ] && [ "$b" -lt 110 ] ;;
    purple) [ "$b" -gt 150 ] && [ "$r" -lt 120 ] && [ "$g" -lt 60 ] ;;
  esac
}

# shot_both_sizes NAME: the window at rest as NAME, then at 720x480 as small-NAME.
shot_both_sizes() {
  SETTLE_LIMIT=4 shot "$1" 0.5
  xdotool windowsize --sync "$WINDOW" 720 480
  SETTLE_LIMIT=4 shot "small-$1" 0.5
  mogrify -crop 720x480+0+0 +repage "$SHOTS/small-$1.png"
  xdotool windowsize --sync "$WINDOW" 1280 720
}
# switch_language en|fa: the settings' language button, then back to the LAN tab.
switch_language() {
  click 30 681
  if [ "$1" = fa ]; then click 1185 153; else click 251 153; fi
  wait_setting savedLang "$1" || fail "the switch to $1 was not saved"
  click 30 378
  xdotool mousemove $NEUTRAL
}
retry_reason_logged() { app_log_has 'transient error: code=no_cookie'; }
# waiting_before_retry SECONDS: the client has begun a wait that long before its next try.
waiting_before_retry() { app_log_has "\"backoff\":\"$1\""; }

# join_first_room LANG JOIN_X CONFIRM_X: through the cover (held while the tunnel server is paused) to the room.
join_first_room() {
  pixel_is "$(($2 - 33))" 162 purple || fail "the first room's Join is not there"
  kill -STOP "$TUNNEL_PID"
  click "$2" 162 0.1
  xdotool mousemove $NEUTRAL
  wait_request "/api/vlans/$ROOM/join" || fail "the join was not sent"
  SETTLE_LIMIT=4 shot "lan-progress-$1" client_running
  # Ctrl+D during the cover: the confirmation opens above it; Escape closes it.
  key ctrl+d
  SETTLE_LIMIT=4 shot "lan-progress-confirm-$1" pixel_is "$(($3 + ($3 > 640 ? 55 : -55)))" 390 red
  # The dialog's red Confirm, outside the cover's rings: the dialog lies above the cover.
  pixel_is "$(($3 + ($3 > 640 ? 55 : -55)))" 390 red || fail "Ctrl+D showed no confirmation above the cover"
  key Escape
  if [ "$1" = en ]; then
    # The paused server does not answer: the client retries and the cover says why,
    # in the language of the moment, as the player switches to Persian and back.
    # Each pair of shots waits for a countdown long enough to stand through them.
    wait_until 60 retry_reason_logged || fail "the client gave no reason for its retry"
    switch_language fa
    wait_until 60 waiting_before_retry 8 || fail "the client did not wait 8 s before a retry"
    shot_both_sizes lan-retry-reason-fa
    switch_language en
    wait_until 60 waiting_before_retry 16 || fail "the client did not wait 16 s before a retry"
    shot_both_sizes lan-retry-reason-en
  fi
  kill -CONT "$TUNNEL_PID"
  wait_until 60 lobby_member_signed_in || fail "the room's lobby was not joined"
  wait_until 20 bash -c "ip -4 addr show dev $TAP | grep -q inet" || fail "the adapter got no address"
}

# leave CONFIRM_X JOIN_X: Ctrl+D and Confirm; the tunnel ends and leaves the adapter as it found it.
leave() {
  key ctrl+d
  click "$1" 381
  xdotool mousemove $NEUTRAL
  wait_request "/api/vlans/$ROOM/disconnect" 20 || fail "the leave was not posted"
  wait_until 20 bash -c "! pgrep -x ostrel-client" || fail "the tunnel client is still running"
  wait_until 10 adapter_clean || fail "address or route left on $TAP: $(ip addr show dev $TAP; ip route show dev $TAP)"
  # The second row: the first room may be full by now.
  wait_until 10 pixel_is "$(($2 - 33))" 212 purple || fail "the disconnected view did not come back"
}

# ---- English ----
shot lan-disconnected-en pixel_is 1150 162 purple
click 272 266
click 160 242   # a game, to show the selection
xdotool mousemove $NEUTRAL
shot lan-create-en changed_from lan-disconnected-en
click 272 573   # back to join
join_first_room en 1183 710
shot lan-connected-en
members_crop alone

curl -sf -X POST "$SERVICE/test/lobby/add-member" -d "{\"vlan_id\":\"$ROOM\",\"username\":\"Nadia\"}" >/dev/null \
  || fail "add-member control failed"
wait_until 10 members_grown || true
members_crop with-nadia
[ "$(pixels_differing alone with-nadia)" -gt 500 ] || fail "the added member did not appear"
grep -q '"type":"user_connected","username":"Nadia"\|"username":"Nadia","type":"user_connected"' "$APP_LOG" \
  || fail "the lobby frame did not reach the program"
shot lan-member-added-en

curl -sf -X POST "$SERVICE/test/lobby/remove-member" -d "{\"vlan_id\":\"$ROOM\",\"username\":\"Nadia\"}" >/dev/null \
  || fail "remove-member control failed"
wait_until 10 members_as_alone || true
members_crop without-nadia
[ "$(pixels_differing alone without-nadia)" -lt 200 ] || fail "the member who left is still listed"

leave 710 1183
shot lan-after-leave-en
curl -sf -X POST "$SERVICE/test/reset" >/dev/null   # the next join and leave are looked for afresh

# ---- Persian: settings gear, the Persian switch, back to the LAN tab ----
click 30 681
click 1185 153
wait_setting savedLang "fa" || fail "the language switch was not saved"
click 30 378
xdotool mousemove $NEUTRAL
shot lan-disconnected-fa pixel_is 122 162 purple
click 1066 266
click 1178 242
xdotool mousemove $NEUTRAL
shot lan-create-fa changed_from lan-disconnected-fa
click 1066 573
curl -sf -X POST "$SERVICE/test/lobby/add-member" -d "{\"vlan_id\":\"$ROOM\",\"usernames\":[\"Nadia\",\"کاوه\",\"Sam\"]}" >/dev/null
join_first_room fa 155 568
shot lan-connected-fa

# A crowd of 250 joins at once: the list takes them and the page stays usable.
crowd=$(printf '"player%d",' $(seq 1 250)); crowd="[${crowd%,}]"
curl -sf -X POST "$SERVICE/test/lobby/add-member" -d "{\"vlan_id\":\"$ROOM\",\"usernames\":$crowd}" >/dev/null
wait_until 20 app_log_has '"username":"player250"' || fail "the crowd did not reach the program"
xdotool mousemove 450 400
for _ in 1 2 3 4 5; do xdotool click 5; done
xdotool mousemove $NEUTRAL
shot lan-crowd-fa changed_from lan-connected-fa
# One more arrives in the smallest window: its toast, opening with a Latin name, reads right to left.
xdotool windowsize --sync "$WINDOW" 720 480
curl -sf -X POST "$SERVICE/test/lobby/add-member" -d "{\"vlan_id\":\"$ROOM\",\"username\":\"player251\"}" >/dev/null
wait_until 10 app_log_has '"username":"player251"' || fail "the late arrival did not reach the program"
SETTLE_LIMIT=4 shot small-lan-toast-fa 0.3
mogrify -crop 720x480+0+0 +repage "$SHOTS/small-lan-toast-fa.png"
xdotool windowsize --sync "$WINDOW" 1280 720
leave 568 155
finish
