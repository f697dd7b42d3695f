# Steps the page tests share, sourced after lib.sh (not a test itself).

# signed_in: every start of the program has signed in.
signed_in() { each_start_logged 'auth: login success'; }

# sign_in_demo: the English login form, as the demo player (over the user
# name an earlier run left in the field).
sign_in_demo() {
  wait_until 60 update_check_done || fail "the update check did not end"
  click 990 330
  key ctrl+a
  type_text demo
  click 990 410
  type_text demo1234
  key Return
  wait_request /api/auth/login || fail "the login was not sent"
  wait_until 20 signed_in || fail "the sign-in did not succeed"
}

# button_centre SHOT COLOR MIN_WIDTH MAX_WIDTH: "x,y" of the first block of the
# colour with a button's height in the screenshot (a progress bar or a frame of
# the colour is thin).
button_centre() {
  convert "$SHOTS/$1.png" -fuzz 15% -fill black +opaque "$2" -fill white -opaque "$2" \
    -define connected-components:verbose=true -define connected-components:area-threshold=400 \
    -connected-components 8 null: \
    | awk -v low="$3" -v high="$4" '$NF == "srgb(255,255,255)" {
        split($2, box, /[x+]/)
        if (box[2] >= 28 && box[2] <= 48 && box[1] >= low && box[1] <= high) { print $3; exit }
      }'
}
click_centre() { click "$(printf '%.0f' "${1%,*}")" "$(printf '%.0f' "${1#*,}")"; }
# click_button SHOT COLOR [MIN_WIDTH MAX_WIDTH]: clicks that block.
click_button() {
  local centre
  centre=$(button_centre "$1" "$2" "${3:-40}" "${4:-400}")
  [ -n "$centre" ] || fail "no $2 button in screenshot $1"
  click_centre "$centre"
}
# tour_next SHOT: the tour card's Next, its lime button: 84 px wide, 120 on the
# last step.
tour_next() {
  local centre
  centre=$(button_centre "$1" "#c1fd05" 80 88)
  [ -n "$centre" ] || centre=$(button_centre "$1" "#c1fd05" 116 124)
  [ -n "$centre" ] || fail "no tour button in screenshot $1"
  click_centre "$centre"
}

# color_count FILE GEOMETRY COLOR: how many pixels of the region are near the colour.
color_count() {
  convert "$1" -crop "$2" +repage -fuzz 12% -fill black +opaque "$3" -fill white -opaque "$3" \
    -format "%[fx:round(mean*w*h)]" info:
}

# pings_shown GEOMETRY: the servers' latencies stand in green in the region,
# once the pings of the loopback servers have answered.
pings_shown() { grab "$STAGE/now.png"; [ "$(color_count "$STAGE/now.png" "$1" "#9bf07e")" -gt 40 ]; }

# brightness FILE GEOMETRY: mean brightness of a region, 0..1000.
brightness() {
  convert "$1" -crop "$2" +repage -colorspace Gray -format "%[fx:round(mean*1000)]" info:
}

# A handler for steam:// links, as a desktop with Steam installed has one:
# it writes the link it was given to $STAGE/steam-links.
install_steam_handler() {
  mkdir -p "$XDG_DATA_HOME/applications" "$STAGE/bin"
  cat >"$STAGE/bin/steam-handler" <<HANDLER
#!/bin/sh
echo "\$1" >>"$STAGE/steam-links"
HANDLER
  chmod +x "$STAGE/bin/steam-handler"
  cat >"$XDG_DATA_HOME/applications/test-steam.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Steam link recorder
Exec=$STAGE/bin/steam-handler %u
MimeType=x-scheme-handler/steam;
NoDisplay=true
ENTRY
  printf '[Default Applications]\nx-scheme-handler/steam=test-steam.desktop\n' >"$XDG_CONFIG_HOME/mimeapps.list"
}

# The desktop's sound player, as the program finds it on PATH: each call is a line in $STAGE/sounds.
install_sound_recorder() {
  mkdir -p "$STAGE/bin"
  printf '#!/bin/sh\necho "$*" >>"%s/sounds"\n' "$STAGE" >"$STAGE/bin/canberra-gtk-play"
  chmod +x "$STAGE/bin/canberra-gtk-play"
  export PATH="$STAGE/bin:$PATH"
}

# changed_pixels FILE1 FILE2 GEOMETRY: how many pixels of the region differ between two shots.
changed_pixels() {
  convert "$1" -crop "$3" +repage "$STAGE/region-a.png"
  convert "$2" -crop "$3" +repage "$STAGE/region-b.png"
  differing "$STAGE/region-a.png" "$STAGE/region-b.png"
}

# open_profile LANG PICKER_X: the profile from the sidebar's avatar, then its picture picker.
open_profile() {
  click 30 630
  shot "profile-$1" request_seen /api/auth/me
  click "$2" 300
  shot "profile-picker-$1" request_seen /api/pfp/list
}

# stage_release: an installation of our own in $INSTALL, so an update replaces
# nothing of the build, and in $RELEASE the release on offer: a changed
# program, the same tunnel client and a new file (the applier itself is never
# part of a release).
stage_release() {
  INSTALL=$STAGE/install
  RELEASE=$STAGE/release
  mkdir -p "$INSTALL" "$RELEASE/notes"
  cp "$BIN/corvana" "$BIN/ostrel-client" "$BIN/CorvanaUpdateStub" "$INSTALL/"
  cp "$BIN/corvana" "$BIN/ostrel-client" "$RELEASE/"
  printf '\n# release 1.5.1\n' >>"$RELEASE/corvana"
  printf 'Corvana 1.5.1: dedicated servers in two more cities.\n' >"$RELEASE/notes/changes.txt"
}
release_file_route() { echo "/api/update/file/$(printf notes/changes.txt | od -An -tx1 | tr -d ' \n')"; }
# hold_release_file [JSON]: the next fetch of the release's new file is held until
# let_release_file; then it answers as the service's test control is told (a
# status). Held, not delayed: a loaded machine may take longer than any delay to
# reach the screenshot of the download under way.
hold_release_file() {
  curl -sf -X POST "$SERVICE/test/next" -d "{\"path\":\"$(release_file_route)\",\"hold\":true${1:+,$1}}" >/dev/null
}
let_release_file() {
  curl -sf -X POST "$SERVICE/test/release" -d "{\"path\":\"$(release_file_route)\"}" >/dev/null
}

# walk_tour LANG: Next through the tour from its welcome (already shot as
# tutorial-welcome-LANG) to its farewell, a screenshot of every step.
walk_tour() {
  local previous=tutorial-welcome-$1 step=2 name
  for name in sidebar join public about settings done; do
    tour_next "$previous"
    shot "tutorial-$name-$1" app_log_has "tour: step $step of 7"
    previous=tutorial-$name-$1 step=$((step + 1))
  done
}
