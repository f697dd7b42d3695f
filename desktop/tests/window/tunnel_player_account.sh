#!/usr/bin/env bash
# The join as a player who is not root. Without the set-up, the LAN page says why the
# tunnel cannot come up, in English and in Persian; with it (the right to configure an
# adapter, given to that player's copy of the client alone) the room comes up, and a
# kill of the program still ends the tunnel cleanly.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/tunnel_lib.bash"

PLAYER=corvana-player
id -u "$PLAYER" >/dev/null 2>&1 || useradd --system --user-group --no-create-home --shell /usr/sbin/nologin "$PLAYER"
OTHER=nobody

# The program as the player has it: a copy in a folder of theirs, their own home.
APP=$STAGE/app
mkdir -p "$APP"
cp "$BIN/corvana" "$BIN/ostrel-client" "$APP/"
chown -R "$PLAYER:" "$APP"
chmod 755 "$STAGE" "$APP"
# The grant's ACL goes on a /dev/net/tun of this test's own (the same device, with the
# machine's mode), so the machine's stays as it is and parallel runs do not meet.
mknod -m "$(stat -c %a /dev/net/tun)" "$STAGE/tun" c 10 200
mount --bind "$STAGE/tun" /dev/net/tun
CORVANA=$APP/corvana
RUN_AS=(setpriv --reuid="$(id -u "$PLAYER")" --regid="$(id -g "$PLAYER")" --init-groups)
player_start() {
  seed_settings "savedLang=$1" savedUsername=demo tutorialDone=true
  chown -R "$PLAYER:" "$STAGE/home" "$STAGE/run" "$STAGE/tmp"
  start_corvana
  [ "$(ps -o user= -p "$APP_PID")" = "$PLAYER" ] || fail "the program does not run as $PLAYER"
  sign_in "$1"
}
retry_reason_shown() { app_log_has 'transient error: code=tap_open_failed'; }
# reason_on_page LANG REGION: the screen's REGION, the lines under the reconnect count,
# reads (to OCR) as the reason the client cannot open its adapter. The log line above is
# written whatever the page shows.
reason_on_page() {
  import -window root -crop "$2" +repage -colorspace Gray -negate -resize 300% "$STAGE/reason.png"
  local words
  if [ "$1" = fa ]; then
    words=$(tesseract "$STAGE/reason.png" - -l fas --psm 6 2>/dev/null)
    [[ $words == *"آداپتور شبکه"* ]]
  else
    words=$(tesseract "$STAGE/reason.png" - -l eng --psm 6 2>/dev/null)
    [[ $words == *"adapter could not be opened"* ]]
  fi
}
command -v tesseract >/dev/null || fail "tesseract is not installed (scripts/install-deps.sh)"

start_display
start_tunnel_server
start_service
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null

# ---- Without the right: the join keeps failing, and the page says why ----
for lang in en fa; do
  player_start "$lang"
  click_join "$lang"
  SETTLE_LIMIT=4 shot "tunnel-no-rights-$lang" retry_reason_shown
  wait_until 30 reason_on_page "$lang" 640x90+320+440 || fail "the page does not say why the tunnel cannot come up ($lang)"
  # The reason fits the smallest window too.
  xdotool windowsize --sync "$WINDOW" 720 480
  wait_until 30 reason_on_page "$lang" 640x70+40+322 || fail "the smallest window does not say why the tunnel cannot come up ($lang)"
  SETTLE_LIMIT=4 shot "small-tunnel-no-rights-$lang" 0.5
  mogrify -crop 720x480+0+0 +repage "$SHOTS/small-tunnel-no-rights-$lang.png"
  kill -TERM "$APP_PID"
  wait_until 20 program_gone || fail "the program did not end"
  wait "$APP_PID" 2>/dev/null || true
  wait_until 20 no_client || fail "the retrying client outlived the program"
  : >"$APP_LOG"
done
no_session_adapter || fail "an adapter was made without the right"

# ---- With the set-up: the room comes up as the player ----
bash "$(dirname "$0")/../../../scripts/grant-tunnel-rights.sh" "$APP/ostrel-client" "$PLAYER"
# Tried from a shell of the other account: setpriv itself may still hold root's rights as it execs.
setpriv --reuid="$(id -u "$OTHER")" --regid="$(id -g "$OTHER")" --clear-groups \
  sh -c '"$0" --help' "$APP/ostrel-client" >/dev/null 2>&1 && fail "another account can run the client that holds the right"
player_start en
live_room_on_made_adapter tunnel-player-connected-en
end_program_and_adapter TERM
# Killed, the program cannot stop its client: the client, started with a right its user
# lacks, has the parent-death signal the kernel cleared at its start armed again, and so
# still says goodbye and takes its adapter away.
player_start en
join_room
end_program_and_adapter KILL
finish
