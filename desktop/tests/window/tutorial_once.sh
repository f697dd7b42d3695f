#!/usr/bin/env bash
# The tour after the first sign-in: it starts on its own, walks through its
# steps, Escape ends it, and after a restart and a new sign-in it stays away.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

start_display
start_service
curl -sf -X POST "$SERVICE/test/announce" -d '{"clear":true}' >/dev/null
seed_settings "savedLang=en"
start_corvana
sign_in_demo
# Dimmed by the tour, the sidebar's icons are much darker than without it.
shot tutorial-welcome-en 0.6
sidebar_dimmed=$(brightness "$SHOTS/tutorial-welcome-en.png" 56x300+0+260)
# Next: the second step lights the sidebar's LAN tab.
click 748 427
shot tutorial-sidebar-en 0.8
# Next again: the LAN page's join card.
click 381 430
shot tutorial-join-en 0.8
key Escape
sleep 0.6
[ "$(setting tutorialDone)" = "true" ] || fail "Escape did not end the tour for good"
shot tutorial-gone-en 0.3
sidebar_clear=$(brightness "$SHOTS/tutorial-gone-en.png" 56x300+0+260)
[ "$sidebar_clear" -gt $((sidebar_dimmed * 2)) ] || fail "the tour did not dim the window ($sidebar_dimmed vs $sidebar_clear)"

# A new run: the tour does not come back.
kill "$APP_PID"
wait "$APP_PID" 2>/dev/null || true
curl -sf -X POST "$SERVICE/test/reset" >/dev/null
start_corvana
sign_in_demo
shot tutorial-second-login-en 1.2
again=$(brightness "$SHOTS/tutorial-second-login-en.png" 56x300+0+260)
[ "$again" -gt $((sidebar_dimmed * 2)) ] || fail "the tour came back after a restart ($again)"
finish
