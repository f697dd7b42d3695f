# Steps the page tests share, sourced after lib.sh (not a test itself).

# sign_in_demo: the English login form, as the demo player.
sign_in_demo() {
  wait_request /api/update || fail "no update check"
  sleep 1.5
  click 990 330
  type_text demo
  click 990 410
  type_text demo1234
  key Return
  wait_request /api/auth/login || fail "the login was not sent"
  sleep 1.5
}

# color_count FILE GEOMETRY COLOR: how many pixels of the region are near the colour.
color_count() {
  convert "$1" -crop "$2" +repage -fuzz 12% -fill black +opaque "$3" -fill white -opaque "$3" \
    -format "%[fx:round(mean*w*h)]" info:
}

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

app_log_has() { grep -q -- "$1" "$APP_LOG" 2>/dev/null; }

# changed_pixels FILE1 FILE2 GEOMETRY: how many pixels of the region differ between two shots.
changed_pixels() {
  convert "$1" -crop "$3" +repage "$STAGE/region-a.png"
  convert "$2" -crop "$3" +repage "$STAGE/region-b.png"
  # compare's status is 1 when the regions differ, which is not a failure here
  { compare -metric AE -fuzz 8% "$STAGE/region-a.png" "$STAGE/region-b.png" null: 2>&1 || true; } | cut -d' ' -f1
}

# open_profile LANG PICKER_X: the profile from the sidebar's avatar, then its picture picker.
open_profile() {
  click 30 630
  wait_request /api/auth/me || fail "the profile did not ask for the account"
  shot "profile-$1" 1
  click "$2" 300
  wait_request /api/pfp/list || fail "the picture list was not asked for"
  shot "profile-picker-$1" 1.5
}
