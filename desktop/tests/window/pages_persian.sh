#!/usr/bin/env bash
# Every page and overlay of this part of the window in Persian, right to
# left: the tour's seven steps after the first sign-in, the announcement pop-up, the game
# page's three views, the profile, about and announcements pages.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

start_display
start_service
curl -sf -X POST "$SERVICE/test/announce" -H 'Content-Type: application/json' -d '{"clear": true,
  "title": "۱۴۰۵ تورنمنت آخر هفته",
  "body": "تیم‌های پنج‌نفره، سرورها در تهران و مشهد.\nثبت‌نام تا جمعه عصر باز است.",
  "link_url": "https://corvana.gg/news"}' >/dev/null
seed_settings "savedLang=fa"
start_corvana
wait_until 60 update_check_done || fail "the update check did not end"
# The Persian login form stands at the left.
click 372 311
type_text demo
click 372 392
type_text demo1234
key Return
wait_request /api/auth/login || fail "the login was not sent"
shot tutorial-welcome-fa app_log_has "tour: step 1 of 7"
walk_tour fa
key Escape
shot announce-popup-fa setting_is tutorialDone true
# A click beside the card puts the pop-up away.
click 1100 600
wait_until 10 changed_from announce-popup-fa || fail "the pop-up did not go"

click 30 329
shot game-games-fa request_seen /api/games/dedicated
click 1040 230
wait_request /api/games/cs2/servers || fail "the servers were not asked for"
shot game-servers-fa pings_shown 1000x230+200+290
click 1090 205
shot game-community-fa changed_from game-servers-fa
click 1205 205
click 152 314
SETTLE_LIMIT=1 shot game-connecting-fa app_log_has "UDP forward active"
app_log_has "dedicated: ready" && fail "the connection was ready before its screenshot"
shot game-connection-fa app_log_has "dedicated: ready: connect 127.0.0.1:"
click 96 79
shot game-disconnect-confirm-fa changed_from game-connection-fa
click 597 381
wait_until 10 app_log_has "portfwd: stopped: Dedicated Game" || fail "the forward was not stopped"

open_profile fa 1133

click 30 479
shot about-fa changed_from profile-picker-fa
xdotool mousemove 660 400 click 5 click 5 click 5 click 5 click 5
shot about-links-fa changed_from about-fa

click 30 429
shot announce-page-fa changed_from about-links-fa
finish
