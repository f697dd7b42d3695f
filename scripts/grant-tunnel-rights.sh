#!/usr/bin/env bash
# Gives one user's copy of the tunnel client the one right it needs to make and configure
# its network adapter: CAP_NET_ADMIN as a file capability (the client hands it on to the ip
# runs it starts). The file becomes root's, readable and runnable by that user alone, so
# no other local account can use the right and the user cannot change what holds it.
#   sudo scripts/grant-tunnel-rights.sh CLIENT USER
# The client makes its adapter through /dev/net/tun; where the device is not open to
# every user (Debian's udev opens it, a machine without udev may not), that user alone
# is let in. Taken back by removing the file (a rebuild writes a new one without the
# right) or by
#   sudo setcap -r CLIENT; sudo setfacl -x u:USER /dev/net/tun
#
# All or nothing: either the whole right is given, or the client is left as it was and
# one line on stderr says why (exit status 1).
set -euo pipefail
export PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C
me=grant-tunnel-rights
client=${1:?usage: grant-tunnel-rights.sh CLIENT USER}
user=${2:?usage: grant-tunnel-rights.sh CLIENT USER}

changed=0
# fail REASON: puts back what was changed, says why in one line, exit status 1.
fail() {
  trap - EXIT
  local reason=$1 err
  if [ "$changed" -eq 1 ]; then
    err=$(restore 2>&1) || reason+="; putting it back failed too (${err##*: })"
  fi
  echo "$me: $reason" >&2
  exit 1
}
trap 'fail "$client: stopped before the end"' EXIT
# step WHAT COMMAND...: one change; its failure ends the grant with WHAT and the system's reason.
step() {
  local what=$1 err
  shift
  err=$("$@" 2>&1 >/dev/null) || { err=${err##*$'\n'}; fail "$client: $what failed (${err##*: })"; }
}

[ "$(id -u)" -eq 0 ] || fail "run as root (sudo)"
uid=$(id -u -- "$user" 2>/dev/null) || fail "no user $user"

# The name lies in a folder the user, and so any program of theirs, can change at any
# moment: the client is opened once, and only that open file is checked and changed,
# through /proc/self/fd/N, whatever the name points at by then. The shell cannot open
# without following a link or without waiting on a FIFO, so perl opens it, and the
# shell takes the same file over from perl's descriptor.
coproc opener {
  exec perl -MFcntl -e '
    $| = 1;
    my $f;
    if (!sysopen($f, $ARGV[0], O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)) {
      print $!{ELOOP} ? "is a symbolic link\n" : "cannot be opened ($!)\n";
    } else {
      print -f $f ? "fd " . fileno($f) . "\n" : "is not a regular file\n";
    }
    <STDIN>;' "$client"
}
opener_pid=$opener_PID
read -r said <&"${opener[0]}" || said="cannot be opened"
case $said in
  "fd "*) exec {fd}<"/proc/$opener_pid/fd/${said#fd }" ;;
  *) fail "$client $said" ;;
esac
to_opener=${opener[1]}
exec {to_opener}>&-
wait "$opener_pid" || true
file=/proc/self/fd/$fd

# What can be checked before anything changes.
read -r links owner group mode < <(stat -L -c '%h %u %g %a' "$file")
[ "$links" -eq 1 ] || fail "$client is not the one name of its file ($links links)"
acl=$(getfacl -cnp "$file")
if [ "$owner" -ne "$uid" ] && { [ "$owner" -ne 0 ] || ! grep -q "^user:$uid:r-x" <<<"$acl"; }; then
  fail "$client belongs to neither $user nor an earlier grant to $user"
fi
mount_id=$(awk '$1 == "mnt_id:" { print $2 }' "/proc/$BASHPID/fdinfo/$fd")
read -r mount_point options < <(findmnt -rn -o ID,TARGET,VFS-OPTIONS | awk -v id="$mount_id" '$1 == id { print $2, $3 }') \
  || fail "$client: its mount is not in the mount table"
[[ ,$options, != *,nosuid,* ]] \
  || fail "$client lies on a nosuid mount ($mount_point), where a file capability is ignored"
# An ACL keeps the right to that user alone; where the filesystem keeps none, reading
# one fails with something else than "no such attribute".
err=$(getfattr --absolute-names -n system.posix_acl_access "$file" 2>&1 >/dev/null) || [[ $err == *"No such attribute" ]] \
  || fail "$client: its filesystem keeps no ACLs, which would keep the right to $user alone (${err##*: })"
cap=$(getfattr --absolute-names -n security.capability -e hex "$file" 2>/dev/null | sed -n 's/^security.capability=//p' || true)

# The file as it was, put back on any failure below. A chown drops a file capability, so
# it comes first, and the capability last.
restore() {
  chown "$owner:$group" "$file" &&
    setfacl -n --set-file=- "$file" <<<"$acl" &&
    chmod "$mode" "$file" &&
    if [ -n "$cap" ]; then setfattr -n security.capability -v "$cap" "$file"; fi
}
changed=1
step "making it root's" chown root:root "$file"
# From here on no one but root opens it for writing (the mask shuts out any ACL entry).
step "closing it to others" chmod 0700 "$file"
step "letting $user run it" setfacl --set "u::rwx,u:$uid:r-x,g::---,o::---" "$file"
# A program that opened it for writing before (a shared writable mapping, say) could
# still change what runs with the right: the kernel grants a read lease only while no
# one holds the file open for writing (F_SETLEASE is 1024; perl's Fcntl does not name it).
# A link made before the chown would carry the right to a name elsewhere.
busy=$(perl -MFcntl -e '
  my $f;
  open($f, "<&=", $ARGV[0]) or do { print "$!\n"; exit 1 };
  fcntl($f, 1024, F_RDLCK) or do { print $!{EAGAIN} ? "busy\n" : "$!\n"; exit 1 };
  fcntl($f, 1024, F_UNLCK);' "$fd") || {
  [ "$busy" != busy ] || fail "$client is open for writing in another program"
  fail "$client: whether another program has it open for writing is unknown ($busy)"
}
[ "$(stat -L -c %h "$file")" -eq 1 ] || fail "$client got another name while being granted"
# cap_net_admin+ep as the kernel stores it (revision 2, effective, permitted bit 12).
# setcap would do the same but takes no /proc/self/fd name.
step "giving it CAP_NET_ADMIN" setfattr -n security.capability -v 0x0100000200100000000000000000000000000000 "$file"

tun=/dev/net/tun
if [ -c "$tun" ] && [ "$(stat -c %a "$tun")" != 666 ]; then
  step "letting $user open $tun" setfacl -m "u:$uid:rw" "$tun"
fi
trap - EXIT
