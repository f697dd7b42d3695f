#!/usr/bin/env bash
# First start as a new player meets it: the update check, the language page,
# the login and registration forms in both languages, sign-in, the main view,
# the settings page switching to Persian at once, and logout.
source "$(dirname "$0")/lib.sh"

start_display
start_service
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
[ "$(setting savedLang)" = "en" ] || fail "the language choice was not saved"

# Registration form, then back.
click 990 548
shot register-en
click 990 600
# Return with empty fields: a toast, no request.
key Return
shot login-empty-toast 0.6
[ -z "$(requests_to /api/auth/login)" ] || fail "an empty form was sent"

# Sign in as the demo account.
click 990 330
type_text demo
click 990 410
type_text demo1234
shot login-filled 0.2
key Return
wait_request /api/auth/login || fail "the login was not sent"
shot main-after-login 1.5
[ "$(setting savedUsername)" = "demo" ] || fail "the user name was not saved"
[ -z "$(setting savedRefreshToken)" ] || fail "a refresh token was saved without Remember me"

# Settings: the gear at the bottom of the sidebar.
click 30 695
shot settings-en
# Persian toggle, then the page in Persian.
click 1185 153
sleep 0.5
[ "$(setting savedLang)" = "fa" ] || { shot settings-fa-failed 0; fail "the language switch was not saved"; }
shot settings-fa
finish
