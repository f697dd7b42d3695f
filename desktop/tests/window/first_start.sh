#!/usr/bin/env bash
# First start as a new player meets it: the update check, the language page,
# the login and registration forms in both languages, sign-in, the main view,
# the settings page switching to Persian at once, and logout.
source "$(dirname "$0")/lib.sh"

start_display
start_service
# Nothing to announce, so no pop-up stands over the pages.
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
# The manifest comes slowly, so the check's overlay can be seen.
slow_manifest
# A home open to every account, and a umask that takes nothing away.
chmod 755 "$STAGE" "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
umask 000
start_corvana
umask 022
shot update-check request_seen /api/update
app_log_has "updater: no update needed" && fail "the check had ended before its screenshot"

shot lang-page app_log_has "updater: no update needed"
[ -z "$(setting savedLang)" ] || fail "a language was saved before the choice"

# English card: left of centre.
click 530 470
shot login-en setting_is savedLang en

# Registration form, then back.
click 978 533
shot register-en changed_from login-en
[ -n "$(pgrep -f corvana)" ] || fail "the program ended"
click 985 558
# Return with empty fields: a toast, no request.
key Return
shot login-empty-toast changed_from login-en 1280x720+0+0 300
[ -z "$(requests_to /api/auth/login)" ] || fail "an empty form was sent"

# A wrong password: one error toast, and nothing more while signed out; the
# hidden LAN page's public list (refused without a sign-in) is not asked for,
# neither after the error (5 s pause) nor by anything else.
click 909 311
type_text demo
click 909 393
type_text wrong-password
key Return
wait_request /api/auth/login || fail "the login was not sent"
shot login-refused 0.5
sleep 6
[ -z "$(requests_to /api/vlans)" ] || fail "the public list was asked for while signed out: $(requests_to /api/vlans)"
[ "$(grep -c 'request failed' "$APP_LOG")" -eq 1 ] \
  || fail "more than the one refusal: $(grep 'request failed' "$APP_LOG")"

# Sign in as the demo account (the pointer moves, so the click does not wait for it).
click 950 393
key ctrl+a
type_text demo1234
shot login-filled changed_from login-en 1280x720+0+0 300
# A service that never answers: the button spins, then comes back with an error.
curl -sf -X POST "$SERVICE/test/next" -d '{"path":"/api/auth/login","hang":true}' >/dev/null
key Return
logins_seen() { [ "$(requests_to /api/auth/login | wc -l)" -ge "$1" ]; }
shot login-busy logins_seen 2
wait_until 40 bash -c "[ \$(grep -c 'request failed: /api/auth/login' '$APP_LOG') -ge 2 ]" || fail "the hanging login never ended"
shot login-after-timeout changed_from login-busy
[ "$(requests_to /api/auth/login | wc -l)" -eq 2 ] || fail "the login was sent twice"
key Return
wait_until 20 bash -c "[ \$(curl -sf '$SERVICE/test/requests' | grep -o '\"path\":\"/api/auth/login' | wc -l) -ge 3 ]" \
  || fail "the login could not be sent again after the service failed to answer"
shot main-after-login app_log_has "tour: step 1 of"
wait_request /api/vlans || fail "the public list was not asked for after the sign-in"
# The tour of the first sign-in: Escape ends it.
key Escape
wait_setting tutorialDone true || fail "Escape did not end the tour"
wait_setting savedUsername "demo" || fail "the user name was not saved"
[ -z "$(setting savedRefreshToken)" ] || fail "a refresh token was saved without Remember me"
# What the program made of the player's is theirs alone: folders, settings, log, password, pictures.
made=("$XDG_CONFIG_HOME/Corvana" "$XDG_DATA_HOME/Corvana" "$XDG_CACHE_HOME/Corvana")
# (The engine's cache of compiled documents holds only the program's own.)
mapfile -t -O 3 made < <(find "${made[@]}" -mindepth 1 ! -name '*.lock' ! -path '*/qmlcache*')
why=$(private_to_player "$SETTINGS" "$APP_LOG" "$XDG_DATA_HOME/Corvana/Corvana/cred.dat" "${made[@]}") \
  || fail "what is the player's is not theirs alone: $why"

# Settings: the gear at the bottom of the sidebar.
mark lan-page
click 30 695
shot settings-en changed_from lan-page
# Persian toggle, then the page in Persian.
click 1185 153
shot settings-fa setting_is savedLang fa

# Logout through the confirmation, back to the login page, now in Persian.
click 166 354
shot logout-confirm-fa changed_from settings-fa
click 569 381
shot login-fa request_seen /api/auth/logout
[ -z "$(setting savedUsername)" ] || fail "the user name stayed after logout"
click 330 533
shot register-fa changed_from login-fa
finish
