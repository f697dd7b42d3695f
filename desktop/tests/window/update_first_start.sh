#!/usr/bin/env bash
# A first start with a newer release on offer: the update overlay offers it,
# "Update Now" downloads it with progress, the real CorvanaUpdateStub takes
# over, replaces the files and starts the program again, which then finds
# nothing more to fetch and goes on to the login.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/pages.bash"

stage_release
start_display
start_service --update-dir "$RELEASE"
# The unchanged tunnel client is not fetched; the new file, fetched after the
# program, is held, so the download can be seen under way.
hold_release_file
seed_settings "savedLang=en"
BIN=$INSTALL start_corvana
first_pid=$APP_PID
shot update-available-en app_log_has "updater: update available: 2 files"

# A whole sign-in typed under the overlay reaches nothing beneath: no login, no
# toast. The overlay's button holds the focus, so the closing Return is its own.
key Tab
type_text demo
key Tab
type_text demo1234
shot update-keys-typed-en 0.3
[ "$(changed_pixels "$SHOTS/update-available-en.png" "$SHOTS/update-keys-typed-en.png" 1276x716+2+2)" -lt 50 ] \
  || fail "the keys changed the window under the overlay"
key Return
shot update-keys-return-en 0.5
[ -z "$(requests_to /api/auth/login)" ] || fail "a sign-in typed under the overlay was sent"
[ "$(color_count "$SHOTS/update-keys-return-en.png" 480x90+400+620 "#e04040")" -eq 0 ] \
  && [ "$(color_count "$SHOTS/update-keys-return-en.png" 480x90+400+620 "#c1fd05")" -eq 0 ] \
  || fail "a toast showed above the overlay"
shot update-downloading-en app_log_has "updater: downloading: notes/changes.txt"
app_log_has "updater: all files verified" && fail "the download had ended before its screenshot"
let_release_file

# The hand-over: the program quits, the applier replaces the files and starts it again.
wait_until 60 app_log_has "updater: launching stub: $INSTALL/CorvanaUpdateStub" || fail "the applier was not started"
wait_until 30 bash -c "! kill -0 $first_pid 2>/dev/null" || fail "the program did not quit for the update"
wait_until 60 cmp -s "$INSTALL/corvana" "$RELEASE/corvana" || fail "the program file was not replaced"
cmp -s "$INSTALL/notes/changes.txt" "$RELEASE/notes/changes.txt" || fail "the new file was not installed"
[ ! -e "$INSTALL/updater.log" ] || fail "the applier reported: $(cat "$INSTALL/updater.log")"
wait_until 60 bash -c "[ \$(grep -c 'app: started' '$APP_LOG') -ge 2 ]" || fail "the program was not started again"
# Only the second start can have found nothing to fetch.
wait_until 30 app_log_has "updater: no update needed" || fail "the new start found an update again"
wait_until 30 xdotool search --onlyvisible --name '^Corvana$' || fail "the window did not come back"
pgrep -x corvana >/dev/null || fail "no program runs after the update"
shot update-restarted-en changed_from update-downloading-en
[ "$(grep -c 'app: started' "$APP_LOG")" -eq 2 ] || fail "expected exactly two starts"
finish
