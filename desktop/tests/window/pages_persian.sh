#!/usr/bin/env bash
# Every page and overlay of this part of the window in Persian, right to
# left: the tour after the first sign-in, the announcement pop-up, the game
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
wait_request /api/update || fail "no update check"
sleep 1.5
# The Persian login form stands at the left.
click 372 311
type_text demo
click 372 392
type_text demo1234
key Return
wait_request /api/auth/login || fail "the login was not sent"
shot tutorial-welcome-fa 1.5
click 531 412
shot tutorial-sidebar-fa 0.8
key Escape
shot announce-popup-fa 0.8
# A click beside the card puts the pop-up away.
click 1100 600
sleep 0.6

click 30 329
wait_request /api/games/dedicated || fail "the dedicated games were not asked for"
shot game-games-fa 1.5
click 1040 230
wait_request /api/games/cs2/servers || fail "the servers were not asked for"
shot game-servers-fa 3
click 1090 205
shot game-community-fa 0.6
click 1205 205
click 152 314
shot game-connecting-fa 0.3
wait_until 20 app_log_has "dedicated: ready: connect 127.0.0.1:" || fail "the connection did not become ready"
shot game-connection-fa 0.6
click 96 79
shot game-disconnect-confirm-fa 0.5
click 597 381
wait_until 10 app_log_has "portfwd: stopped: Dedicated Game" || fail "the forward was not stopped"

open_profile fa 1133

click 30 479
shot about-fa 1
xdotool mousemove 660 400 click 5 click 5 click 5 click 5 click 5
shot about-links-fa 0.6

click 30 429
shot announce-page-fa 1
finish
