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
set -euo pipefail
client=${1:?usage: grant-tunnel-rights.sh CLIENT USER}
user=${2:?usage: grant-tunnel-rights.sh CLIENT USER}
[ "$(id -u)" -eq 0 ] || { echo "grant-tunnel-rights: run as root (sudo)" >&2; exit 1; }
if [ -L "$client" ] || [ ! -f "$client" ]; then
  echo "grant-tunnel-rights: $client is not a regular file" >&2
  exit 1
fi
id -u "$user" >/dev/null 2>&1 || { echo "grant-tunnel-rights: no user $user" >&2; exit 1; }
# chown drops file capabilities, so the capability comes last.
chown root:root "$client"
chmod 0700 "$client"
setfacl -m "u:$user:rx" "$client"
setcap cap_net_admin+ep "$client"
tun=/dev/net/tun
if [ -c "$tun" ] && [ "$(stat -c %a "$tun")" != 666 ]; then
  setfacl -m "u:$user:rw" "$tun"
fi
