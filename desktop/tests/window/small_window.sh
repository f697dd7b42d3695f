#!/usr/bin/env bash
# The window at its smallest, 720x480, in English and then in Persian: every
# page, dialog and overlay as a screenshot small-<view>-<lang>.png; the
# registration form stays put while its captions appear, the profile's
# user-name button stands whole inside its card, and the connected game
# server's connect code and Launch Game are in view without scrolling.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

# Click positions at 720x480, per language (the Persian window is mirrored).
declare -A EN=(
  [register]="580 399" [reg_email]="510 171" [reg_user]="510 241" [reg_pass]="510 311" [to_login]="588 459"
  [user]="510 219" [pass]="510 289"
  [create]="204 267" [game]="290 250" [server]="622 314" [disconnect]="623 79" [logout]="608 354")
declare -A FA=(
  [register]="152 399" [reg_email]="210 171" [reg_user]="210 241" [reg_pass]="210 311" [to_login]="155 459"
  [user]="210 219" [pass]="210 289"
  [create]="600 267" [game]="450 250" [server]="152 314" [disconnect]="152 79" [logout]="112 354")
NEUTRAL="700 470"
# Sidebar tabs at 480 px height.
TAB_GAMES="30 187" TAB_ABOUT="30 337" TAB_ANNOUNCE="30 287" TAB_PROFILE="30 391" TAB_SETTINGS="30 441"

tap() { local -n pos=$POS; click ${pos[$1]} "${2:-0.4}"; }
WHOLE=720x480+0+0
# small_shot NAME [CONDITION...]: as shot, once the state is reached; the
# window's 720x480, not the whole screen.
small_shot() {
  shot "small-$1" "${@:2}"
  mogrify -crop "$WHOLE" +repage "$SHOTS/small-$1.png"
}
# small_changed NAME: the window differs from its screenshot small-NAME.
small_changed() { changed_from "small-$1" "$WHOLE" 300; }

# username_button_edges FILE: "card-left button-left button-right card-right" on
# the middle row of the profile's user-name button, the next-to-last purple
# button of the page scrolled to its end (the last is the password's).
username_button_edges() {
  convert "$1" -crop 660x436+58+40 +repage -depth 8 txt:- | awk -F'[,:() ]+' '
    NR > 1 { x = $1; y = $2; gray[y, x] = ($3 + $4 + $5) / 3
             if ($5 - $3 > 60 && $5 - $4 > 60) { n[y]++; if (!(y in lo) || x < lo[y]) lo[y] = x; if (x > hi[y]) hi[y] = x } }
    END {
      blocks = 0
      for (y = 0; y < 436; y++)
        if (n[y] > 60) { if (!(y - 1 in n) || n[y - 1] <= 60) start[++blocks] = y; stop[blocks] = y }
      if (blocks < 2) { print "none"; exit }
      row = int((start[blocks - 1] + stop[blocks - 1]) / 2)
      ref = gray[row, 12]; cl = -1; cr = -1
      for (x = 13; x < 660; x++) if (gray[row, x] >= ref + 4) { if (cl < 0) cl = x; cr = x }
      print cl + 58, lo[row] + 58, hi[row] + 58, cr + 58
    }'
}

check_username_button() {
  local edges cl bl br cr
  edges=$(username_button_edges "$SHOTS/small-profile-end-$1.png")
  read -r cl bl br cr <<<"$edges"
  [ "$edges" != none ] || fail "no user-name button on the profile page ($1)"
  log "user-name row ($1): card $cl..$cr, button $bl..$br"
  [ $((br - bl)) -ge 150 ] && [ "$bl" -ge $((cl + 8)) ] && [ "$br" -le $((cr - 8)) ] \
    || fail "the user-name button is cut by its card ($1: card $cl..$cr, button $bl..$br)"
}

# check_next_step LANG: in the game page's connected view the player's next
# step stands whole in the window, unscrolled: Launch Game's lime block, and
# the connect code's lime letters beside or above it, below the header.
check_next_step() {
  local file=$SHOTS/small-game-connection-$1.png box w h x y all letters
  box=$(convert "$file" -fuzz 15% -fill black +opaque "#c1fd05" -fill white -opaque "#c1fd05" \
    -define connected-components:verbose=true -define connected-components:area-threshold=400 \
    -connected-components 8 null: \
    | awk '$NF == "srgb(255,255,255)" { split($2, b, /[x+]/); if (b[1] >= 200 && b[1] <= 300) { print $2; exit } }')
  [ -n "$box" ] || fail "no Launch Game in view in the connected game page ($1)"
  IFS='x+' read -r w h x y <<<"$box"
  log "Launch Game ($1): $box"
  [ "$h" -ge 44 ] || fail "Launch Game is cut by the fold ($1: $box)"
  all=$(color_count "$file" 662x300+58+140 "#c1fd05")
  letters=$((all - $(color_count "$file" "$box" "#c1fd05")))
  [ "$letters" -gt 120 ] || fail "no connect code in view in the connected game page ($1: $letters lime pixels)"
}

# visit LANG: one start of the program at 720x480, through every view.
visit() {
  local lang=$1
  POS=${lang^^}
  # The manifest comes slowly, so the check's overlay can be seen.
  slow_manifest
  start_corvana
  xdotool windowsize --sync "$WINDOW" 720 480
  xdotool getwindowgeometry "$WINDOW" | grep -q 'Geometry: 720x480' || fail "the window is not 720x480"
  SETTLE_LIMIT=2 small_shot "update-$lang" request_seen /api/update
  app_log_has "updater: no update needed" && fail "the check had ended before its screenshot"
  wait_until 60 update_check_done || fail "the update check did not end"
  if [ "$lang" = en ]; then
    small_shot lang
    click 250 350
    small_shot "login-$lang" small_changed lang
  else
    small_shot "login-$lang"
  fi
  key Return
  small_shot "toast-$lang" small_changed "login-$lang"

  tap register
  small_shot "register-$lang" small_changed "toast-$lang"
  [ "$(changed_pixels "$SHOTS/small-login-$lang.png" "$SHOTS/small-register-$lang.png" 340x90+345+50)" -gt 200 ] \
    || fail "the registration form did not open"
  # From the bottom up, so a caption appearing moves no field still to be clicked.
  tap reg_pass; type_text 12
  tap reg_user; type_text ab
  tap reg_email; type_text x
  xdotool mousemove $NEUTRAL
  small_shot "register-captions-$lang" small_changed "register-$lang"
  moved=$(changed_pixels "$SHOTS/small-register-$lang.png" "$SHOTS/small-register-captions-$lang.png" 340x90+345+50)
  [ "$moved" -lt 50 ] || fail "the registration form moved as its captions appeared ($moved pixels)"
  tap to_login

  tap user; type_text demo
  tap pass; type_text demo1234
  key Return
  wait_request /api/auth/login || fail "the login was not sent"
  small_shot "tutorial-1-$lang" app_log_has "tour: step 1 of 7"
  for step in 2 3 4 5 6 7; do
    tour_next "small-tutorial-$((step - 1))-$lang"
    small_shot "tutorial-$step-$lang" app_log_has "tour: step $step of 7"
  done
  tour_next "small-tutorial-7-$lang"
  small_shot "announce-popup-$lang" setting_is tutorialDone true
  click 360 450   # beside the card: the pop-up goes

  xdotool mousemove $NEUTRAL
  small_shot "lan-$lang" small_changed "announce-popup-$lang"
  tap create
  xdotool mousemove $NEUTRAL
  small_shot "lan-create-$lang" small_changed "lan-$lang"

  click $TAB_GAMES; xdotool mousemove $NEUTRAL
  small_shot "game-$lang" request_seen /api/games/dedicated
  tap game
  xdotool mousemove $NEUTRAL
  wait_request /api/games/cs2/servers || fail "the servers were not asked for"
  small_shot "game-servers-$lang" pings_shown "$WHOLE"
  tap server
  xdotool mousemove $NEUTRAL
  small_shot "game-connection-$lang" app_log_has "dedicated: ready: connect 127.0.0.1:"
  check_next_step "$lang"
  tap disconnect
  small_shot "game-confirm-$lang" small_changed "game-connection-$lang"
  click 600 420   # beside the card: the dialog goes
  wait_until 10 small_changed "game-confirm-$lang" || fail "the confirmation did not go"

  click $TAB_ABOUT; xdotool mousemove $NEUTRAL
  small_shot "about-$lang"
  click $TAB_ANNOUNCE; xdotool mousemove $NEUTRAL
  small_shot "announce-page-$lang" small_changed "about-$lang"
  click $TAB_PROFILE; xdotool mousemove $NEUTRAL
  small_shot "profile-$lang" request_seen /api/auth/me
  xdotool mousemove 400 300 click 5 click 5 click 5 click 5 click 5 click 5
  xdotool mousemove $NEUTRAL
  small_shot "profile-end-$lang" small_changed "profile-$lang"
  check_username_button "$lang"

  click $TAB_SETTINGS; xdotool mousemove $NEUTRAL
  small_shot "settings-$lang" small_changed "profile-end-$lang"
  tap logout
  small_shot "logout-confirm-$lang" small_changed "settings-$lang"
  key Escape

  check_no_qml_warnings
  kill "$APP_PID"
  wait_until 20 bash -c '! pgrep -x corvana' || fail "the program did not end"
  # The next start begins with an empty request log and program log.
  curl -sf -X POST "$SERVICE/test/reset" >/dev/null
  mv "$APP_LOG" "$APP_LOG.$lang"
}

start_display
start_service
curl -sf -X POST "$SERVICE/test/announce" -H 'Content-Type: application/json' -d '{"clear": true,
  "title": "Weekend tournament", "body": "Teams of five, servers in Tehran and Mashhad.\nSign-up open until Friday evening."}' >/dev/null
visit en
# A first start in Persian: the tour and the pop-up come again.
seed_settings "savedLang=fa"
visit fa
finish
