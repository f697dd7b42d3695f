#!/usr/bin/env bash
# A start in Persian with a newer release on offer whose new file cannot be
# fetched: the overlay offers the release, shows the download under way, then
# the failure with nothing but Exit; Exit ends the program and the
# installation stays as it was.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

stage_release
start_display
start_service --update-dir "$RELEASE"
# The new file, fetched after the program, answers late and then with 404.
hold_release_file '"status":404'
seed_settings "savedLang=fa"
BIN=$INSTALL start_corvana
shot update-available-fa app_log_has "updater: update available: 2 files"

click_button update-available-fa "#c1fd05"
shot update-downloading-fa app_log_has "updater: downloading: notes/changes.txt"
app_log_has "updater: download failed" && fail "the download had failed before its screenshot"
let_release_file

shot update-error-fa app_log_has "updater: download failed: notes/changes.txt"
click_button update-error-fa "#e04040"
wait_until 10 bash -c "! kill -0 $APP_PID 2>/dev/null" || fail "Exit did not end the program"
cmp -s "$INSTALL/corvana" "$BIN/corvana" || fail "a failed update changed the installation"
app_log_has "updater: launching stub" && fail "the applier was started after a failed download"
finish
