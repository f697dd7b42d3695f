#!/usr/bin/env bash
# scripts/grant-tunnel-rights.sh as sudo runs it for a player: the whole right on the one
# file it checked, or that file left exactly as it was with one line saying why, also
# while a program of that player keeps changing what the name points at.
# Usage (as root): grant_tunnel_rights.sh CLIENT   (CLIENT: a built ostrel-client)
# Its mounts, and a /dev/net/tun of its own, live in a mount namespace of its own.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: needs root (makes an account and mounts filesystems)"
  exit 77
fi
[ -n "${GRANT_TEST_NAMESPACE:-}" ] || GRANT_TEST_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
GRANT=$(cd "$(dirname "$0")/.." && pwd)/grant-tunnel-rights.sh
CLIENT=$(realpath "$1")
PLAYER=corvana-grantee
id -u "$PLAYER" >/dev/null 2>&1 || useradd --system --user-group --no-create-home --shell /usr/sbin/nologin "$PLAYER"
UID_OF_PLAYER=$(id -u "$PLAYER")
AS_PLAYER=(setpriv --reuid="$PLAYER" --regid="$PLAYER" --clear-groups)

STAGE=$(mktemp -d /tmp/corvana-grant.XXXXXX)
chmod 755 "$STAGE"
FAILED=0
cleanup() {
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  umount /dev/net/tun "$STAGE"/* 2>/dev/null || true
  rm -rf "$STAGE"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; FAILED=$((FAILED + 1)); }

# A tmpfs keeps ACLs and file capabilities; a ramfs keeps no extended attributes at all.
for dir in plain nosuid ramfs dev; do mkdir "$STAGE/$dir"; done
mount -t tmpfs -o mode=755 tmpfs "$STAGE/plain"
mount -t tmpfs -o mode=755,nosuid tmpfs "$STAGE/nosuid"
mount -t ramfs -o mode=755 ramfs "$STAGE/ramfs"
mount -t tmpfs -o mode=755 tmpfs "$STAGE/dev"
# The device closed to users, as where no udev opened it.
mknod -m 600 "$STAGE/dev/tun" c 10 200
mount --bind "$STAGE/dev/tun" /dev/net/tun

# state FILE: owner, mode, links, ACL and capabilities, one line.
state() {
  { stat -c '%u:%g %a %h' "$1"; getfacl -cnp "$1"; getcap "$1" 2>/dev/null | cut -d' ' -f2-; } | tr -s '\n' ' '
}
granted_state="0:0 750 1 user::rwx user:$UID_OF_PLAYER:r-x group::--- mask::r-x other::--- cap_net_admin=ep "

# ---- Refusals: the client as it was, one line why ----
# case | folder of the client | user named | what is in place while the grant runs | the line says
refusals=(
  "no such user|plain|corvana-no-such-user|-|no user corvana-no-such-user"
  "a nosuid mount|nosuid|$PLAYER|-|nosuid mount"
  "a filesystem without ACLs (ramfs)|ramfs|$PLAYER|-|keeps no ACLs"
  "the player's program holds it open for writing|plain|$PLAYER|writer|open for writing"
  "/dev/net/tun cannot take the ACL, after every change to the client|plain|$PLAYER|read-only-tun|Read-only file system"
)
for row in "${refusals[@]}"; do
  IFS='|' read -r name folder user meanwhile says <<<"$row"
  client=$STAGE/$folder/client
  rm -f "$client" "$STAGE/held"
  # A setuid bit and an ACL entry of the player's own (where the filesystem keeps one):
  # both must come back after a chown that drops the one and a grant that drops the other.
  install -o "$PLAYER" -g "$PLAYER" -m 4755 "$CLIENT" "$client"
  setfacl -m u:nobody:r "$client" 2>/dev/null || true
  case $meanwhile in
    writer)
      "${AS_PLAYER[@]}" perl -e 'open(my $f, "+<", $ARGV[0]) or die "$!\n"; print "held\n"; close STDOUT; sleep 300' \
        "$client" >"$STAGE/held" &
      for _ in $(seq 100); do [ -s "$STAGE/held" ] && break; sleep 0.1; done
      [ -s "$STAGE/held" ] || fail "$name: the player's program did not open the client" ;;
    read-only-tun) mount -o remount,bind,ro /dev/net/tun ;;
  esac
  before=$(state "$client") tun_before=$(state /dev/net/tun)
  status=0
  bash "$GRANT" "$client" "$user" 2>"$STAGE/reason" || status=$?
  after=$(state "$client") tun_after=$(state /dev/net/tun)
  [ "$meanwhile" = read-only-tun ] && mount -o remount,bind,rw /dev/net/tun
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true

  [ "$status" -ne 0 ] || fail "$name: the grant reported success"
  [ "$(wc -l <"$STAGE/reason")" -eq 1 ] && grep -qF -- "$says" "$STAGE/reason" \
    || fail "$name: not the one line saying \"$says\": $(cat "$STAGE/reason")"
  [ "$after" = "$before" ] || fail "$name: the client changed from [$before] to [$after]"
  [ "$tun_after" = "$tun_before" ] || fail "$name: /dev/net/tun changed from [$tun_before] to [$tun_after]"
done

# ---- A grant while the player's program keeps swapping the name ----
# In the player's folder the name "client" is in turn the real client, gone, a link to
# a file of root's, a link to another program of the player's, and that program itself.
# Whatever the grant opened, the right goes to that one file, whole, or to nothing;
# nothing else is chowned, chmodded or given a capability.
folder=$STAGE/plain/player
decoy=$STAGE/plain/root-decoy
mkdir "$folder"
chown "$PLAYER:" "$folder"
swapper='
  chdir $ARGV[0] or die;
  my $stop = 0;
  $SIG{TERM} = sub { $stop = 1 };
  for (my $rounds = 1; !$stop; $rounds++) {
    rename "real", "client"; rename "client", "real";
    symlink $ARGV[1], "client"; unlink "client";
    symlink "other", "client"; unlink "client";
    rename "other", "client"; rename "client", "other";
    if ($rounds == 1) { print "swapping\n"; close STDOUT }
  }'
successes=0
tries=0
refusals_failed=$FAILED
while [ "$successes" -eq 0 ] && [ "$tries" -lt 200 ] && [ "$FAILED" -eq "$refusals_failed" ]; do
  tries=$((tries + 1))
  rm -f "$folder"/*
  install -o "$PLAYER" -g "$PLAYER" -m 755 "$CLIENT" "$folder/real"
  install -o "$PLAYER" -g "$PLAYER" -m 755 /usr/bin/true "$folder/other"
  # An entry the player gave another account must not carry the right to it.
  setfacl -m u:nobody:rx "$folder/real" "$folder/other"
  install -m 755 /usr/bin/true "$decoy"
  declare -A was=()
  for f in "$folder/real" "$folder/other" "$decoy"; do was[$f]=$(state "$f"); done

  "${AS_PLAYER[@]}" perl -e "$swapper" "$folder" "$decoy" >"$STAGE/swapping" &
  swapper_pid=$!
  for _ in $(seq 100); do [ -s "$STAGE/swapping" ] && break; sleep 0.05; done
  [ -s "$STAGE/swapping" ] || { fail "the player's program did not start swapping"; break; }
  status=0
  bash "$GRANT" "$folder/client" "$PLAYER" 2>"$STAGE/reason" || status=$?
  kill -TERM "$swapper_pid"
  wait "$swapper_pid" || true

  changed=()
  for f in "$folder/real" "$folder/other" "$decoy"; do
    [ "$(state "$f")" = "${was[$f]}" ] || changed+=("$f")
  done
  if [ "$status" -eq 0 ]; then
    successes=$((successes + 1))
    if [ "${#changed[@]}" -ne 1 ] || [ "$(state "${changed[0]}")" != "$granted_state" ]; then
      fail "try $tries: a grant that succeeded did not give the whole right to one file alone:"
      for f in "$folder/real" "$folder/other" "$decoy"; do echo "  $f: [$(state "$f")]" >&2; done
    fi
  else
    [ "${#changed[@]}" -eq 0 ] || fail "try $tries: a refused grant changed ${changed[*]}: $(cat "$STAGE/reason")"
    [ "$(wc -l <"$STAGE/reason")" -eq 1 ] || fail "try $tries: the refusal is not one line: $(cat "$STAGE/reason")"
  fi
done
[ "$successes" -gt 0 ] || fail "no grant succeeded in $tries tries under the swapping"

[ "$FAILED" -eq 0 ] || exit 1
echo "PASS ($tries tries under the swapping)"
