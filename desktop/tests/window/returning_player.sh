#!/usr/bin/env bash
# A returning player: Persian saved, signed in last time. The loading view stays
# until the refresh answers, then the main view (the player's own avatar asked
# for under the renewed sign-in); the window closes to the background and a
# second start brings it back.
source "$(dirname "$0")/lib.sh"

start_display
start_service
# Nothing to announce, so no pop-up stands over the window.
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
token=$(curl -sf -X POST "$SERVICE/api/auth/login" -H 'Content-Type: application/json' \
  -d '{"username":"demo","password":"demo1234"}' | sed -E 's/.*"refresh_token":"([^"]+)".*/\1/')
[ -n "$token" ] || fail "no refresh token from the service"
seed_settings "savedLang=fa" "savedRefreshToken=$token" "savedUsername=demo" "tutorialDone=true"
# What an earlier version left, open to every account: the log, a cached picture, the
# password; and a home open to all. The program runs under a umask that takes nothing away.
CACHE=$XDG_CACHE_HOME/Corvana/Corvana/qml-images
CRED=$XDG_DATA_HOME/Corvana/Corvana/cred.dat
mkdir -p "$(dirname "$APP_LOG")" "$CACHE/data8/a"
echo "earlier run" >"$APP_LOG"
echo "picture" >"$CACHE/data8/a/picture.d"
echo "sealed" >"$CRED"
chmod 755 "$STAGE" "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
# Held until its screenshot, so a slow start cannot outrun it.
curl -sf -X POST "$SERVICE/test/next" -d '{"path":"/api/auth/refresh","hold":true}' >/dev/null
umask 000
start_corvana
umask 022
shot loading-fa request_seen /api/auth/refresh
setting_is savedRefreshToken "$token" || fail "the refresh had answered before the loading screenshot"
curl -sf -X POST "$SERVICE/test/release" -d '{"path":"/api/auth/refresh"}' >/dev/null
wait_until 15 bash -c "grep -q 'savedRefreshToken=' '$SETTINGS' && [ \"\$(grep -E '^savedRefreshToken=' '$SETTINGS' | cut -d= -f2-)\" != '$token' ]" \
  || fail "the rotated token was not saved"
mapfile -t cached < <(find "$CACHE" -type f)
why=$(private_to_player "$SETTINGS" "$(dirname "$SETTINGS")" "$APP_LOG" "$(dirname "$APP_LOG")" "$CRED" \
  "$(dirname "$CRED")" "$CACHE" "${cached[@]}") || fail "what is the player's is not theirs alone: $why"
shot main-fa request_seen /api/vlans/public
# The player's own avatar, asked for before the saved sign-in was renewed, is asked
# again under the renewed one instead of waiting for an answer that never comes.
own_avatar_asked_again() { [ "$(requests_to /api/users/demo/avatar | wc -l)" -ge 2 ]; }
wait_until 15 own_avatar_asked_again || fail "the player's own avatar was not asked for after the sign-in"

# Escape with nothing open, and Ctrl+D while disconnected, change nothing.
key Escape
key ctrl+d
shot main-fa-after-keys
[ "$(differing "$SHOTS/main-fa.png" "$SHOTS/main-fa-after-keys.png")" -lt 2000 ] || fail "Escape or Ctrl+D changed the window"

# Close: the window hides, the program keeps running.
click 1253 21
wait_until 10 bash -c "! xdotool search --onlyvisible --name '^Corvana$'" || fail "the window did not hide"
kill -0 "$APP_PID" || fail "closing the window ended the program"
wait_setting trayNoticeShown true || fail "the close was not recorded"
# Starting the program again shows the running one and leaves.
"$BIN/corvana" >>"$STAGE/second.out" 2>&1 || fail "the second start failed"
wait_until 10 xdotool search --onlyvisible --name '^Corvana$' || fail "the window did not come back"
shot main-fa-shown-again
finish
