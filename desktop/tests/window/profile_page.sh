#!/usr/bin/env bash
# The profile page: a new picture shows on the sidebar's avatar and starts the
# day's cool-down, during which a further choice sends nothing.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

start_display
start_service
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
# The player's picture answers with bytes that are no picture: the letter stands in,
# quietly (finish fails on any QML warning); the picker's tile of it stays empty.
curl -sf -X POST "$SERVICE/test/user" -d '{"username":"demo","avatar_url":"/static/pfp/7.png"}' >/dev/null
curl -sf -X POST "$SERVICE/test/next" \
  -d '{"path":"/static/pfp/7.png","status":200,"body":"not a picture","count":50}' >/dev/null
seed_settings "savedLang=en" "tutorialDone=true"
start_corvana
sign_in_demo
shot profile-sidebar-before request_seen /static/pfp/7.png

# The avatar at the bottom of the sidebar opens the profile.
open_profile en 200

# The second picture: the sidebar's avatar turns into it, the cool-down starts.
click 234 372
wait_request /api/users/me/avatar || fail "the picture change was not sent"
shot profile-changed-en changed_from profile-sidebar-before 30x30+15+615 200
changed=$(changed_pixels "$SHOTS/profile-sidebar-before.png" "$SHOTS/profile-changed-en.png" 30x30+15+615)
[ "$changed" -gt 200 ] || fail "the sidebar's avatar did not change ($changed pixels)"
[ "$(color_count "$SHOTS/profile-changed-en.png" 200x20+1030+243 "#f3c84b")" -gt 20 ] \
  || fail "the cool-down is not shown"

# During the cool-down a further choice only explains why.
click 326 372
shot profile-cooldown-toast-en changed_from profile-changed-en 1280x720+0+0 300
[ "$(requests_to /api/users/me/avatar | wc -l)" -eq 1 ] || fail "a second change was sent during the cool-down"
finish
