#!/usr/bin/env bash
# Announcements: one published while the program runs pops up with the
# notification sound and leaves the sidebar's red dot until the page is
# opened; the page then keeps it read. The about page on the way.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

start_display
start_service
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
install_sound_recorder
seed_settings "savedLang=en" "tutorialDone=true"
start_corvana
sign_in_demo

mark lan-page
click 30 479
shot about-en changed_from lan-page
# The channel links below the story.
xdotool mousemove 660 400 click 5 click 5 click 5 click 5 click 5
shot about-links-en changed_from about-en
[ ! -s "$STAGE/sounds" ] || fail "a sound played with nothing to announce"

curl -sf -X POST "$SERVICE/test/announce" -H 'Content-Type: application/json' -d '{
  "title": "Weekend tournament <b>signup</b>",
  "body": "Teams of five, servers in Tehran and Mashhad.\nSign up before Friday evening; brackets go out on Saturday morning.\nBring your own <i>tactics</i>.",
  "link_url": "https://corvana.gg/news", "link_text": "Details"}' >/dev/null
# The page asks once a minute.
wait_until 90 test -s "$STAGE/sounds" || fail "no notification sound for the new announcement"
shot announce-popup-en changed_from about-links-en
red_dot() { color_count "$1" 14x14+32+414 "${2:-#e04040}"; }
# (under the pop-up's dimming the dot is darker)
[ "$(red_dot "$SHOTS/announce-popup-en.png" "#5a1a1a")" -gt 8 ] || fail "no red dot beside the announcements tab"

# Later: the pop-up goes, the dot stays.
click 720 470
shot announce-later-en changed_from announce-popup-en
[ "$(red_dot "$SHOTS/announce-later-en.png")" -gt 8 ] || fail "the red dot went without the page being opened"

click 30 429
shot announce-page-en changed_from announce-later-en
wait_until 10 grep -q '^lastReadId=1' "$SETTINGS" || fail "the read announcement was not kept"
click 30 479
shot announce-read-en changed_from announce-page-en
[ "$(red_dot "$SHOTS/announce-read-en.png")" -eq 0 ] || fail "the red dot stayed after the page was opened"
[ "$(wc -l <"$STAGE/sounds")" -eq 1 ] || fail "the sound played more than once"
finish
