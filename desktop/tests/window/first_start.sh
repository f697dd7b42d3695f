#!/usr/bin/env bash
# First start as a new player meets it: the update check, the language page,
# the login and registration forms in both languages, sign-in, the main view,
# the settings page switching to Persian at once, and logout.
source "$(dirname "$0")/lib.sh"

start_display
start_service
# Nothing to announce, so no pop-up stands over the pages.
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
# The manifest answers late, so the check's overlay can be seen.
curl -sf -X POST "$SERVICE/test/next" -d '{"path":"/api/update","delay_ms":2500}' >/dev/null
start_corvana
shot update-check 0.3

wait_request /api/update || fail "no update check"
shot lang-page 3
[ -z "$(setting savedLang)" ] || fail "a language was saved before the choice"

# English card: left of centre.
click 530 470
shot login-en
wait_setting savedLang "en" || fail "the language choice was not saved"

# Registration form, then back.
click 978 533
shot register-en
[ -n "$(pgrep -f corvana)" ] || fail "the program ended"
click 985 558
# Return with empty fields: a toast, no request.
key Return
shot login-empty-toast 0.6
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
shot login-filled 0.2
# A service that never answers: the button spins, then comes back with an error.
curl -sf -X POST "$SERVICE/test/next" -d '{"path":"/api/auth/login","hang":true}' >/dev/null
key Return
wait_request /api/auth/login || fail "the login was not sent"
shot login-busy 0.3
wait_until 40 bash -c "[ \$(grep -c 'request failed: /api/auth/login' '$APP_LOG') -ge 2 ]" || fail "the hanging login never ended"
shot login-after-timeout 0.5
[ "$(requests_to /api/auth/login | wc -l)" -eq 2 ] || fail "the login was sent twice"
key Return
wait_until 20 bash -c "[ \$(curl -sf '$SERVICE/test/requests' | grep -o '\"path\":\"/api/auth/login' | wc -l) -ge 3 ]" \
  || fail "the login could not be sent again after the service failed to answer"
shot main-after-login 1.5
wait_request /api/vlans || fail "the public list was not asked for after the sign-in"
# The tour of the first sign-in: Escape ends it.
key Escape
sleep 0.5
wait_setting savedUsername "demo" || fail "the user name was not saved"
[ -z "$(setting savedRefreshToken)" ] || fail "a refresh token was saved without Remember me"

# Settings: the gear at the bottom of the sidebar.
click 30 695
shot settings-en
# Persian toggle, then the page in Persian.
click 1185 153
sleep 0.5
wait_setting savedLang "fa" || { shot settings-fa-failed 0; fail "the language switch was not saved"; }
shot settings-fa

# Logout through the confirmation, back to the login page, now in Persian.
click 166 354
shot logout-confirm-fa 0.5
click 569 381
wait_request /api/auth/logout || fail "the logout was not sent"
shot login-fa 1
[ -z "$(setting savedUsername)" ] || fail "the user name stayed after logout"
click 330 533
shot register-fa
finish
