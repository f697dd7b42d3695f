#!/usr/bin/env bash
# The tour after the first sign-in: it starts on its own, walks through its
# seven steps, Escape ends it, and after a restart and a new sign-in it stays away.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

start_display
start_service
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
seed_settings "savedLang=en"
start_corvana
sign_in_demo
# Dimmed by the tour, the sidebar's icons are much darker than without it.
shot tutorial-welcome-en app_log_has "tour: step 1 of 7"
sidebar_dimmed=$(brightness "$SHOTS/tutorial-welcome-en.png" 56x300+0+260)
# Next through the sidebar's LAN tab, the LAN page's join card and public
# rooms, the about and settings tabs, to the farewell.
walk_tour en
key Escape
wait_setting tutorialDone true || fail "Escape did not end the tour for good"
shot tutorial-gone-en changed_from tutorial-done-en
sidebar_clear=$(brightness "$SHOTS/tutorial-gone-en.png" 56x300+0+260)
[ "$sidebar_clear" -gt $((sidebar_dimmed * 2)) ] || fail "the tour did not dim the window ($sidebar_dimmed vs $sidebar_clear)"

# A new run: the tour does not come back.
kill "$APP_PID"
wait "$APP_PID" 2>/dev/null || true
curl -sf -X POST "$SERVICE/test/reset" >/dev/null
start_corvana
sign_in_demo
# (the tour would start half a second after the sign-in)
shot tutorial-second-login-en 1
[ "$(grep -c 'tour: step 1 of' "$APP_LOG")" -eq 1 ] || fail "the tour started again after a restart"
again=$(brightness "$SHOTS/tutorial-second-login-en.png" 56x300+0+260)
[ "$again" -gt $((sidebar_dimmed * 2)) ] || fail "the tour came back after a restart ($again)"
finish
