#!/bin/sh
# Checks the include rules ARCHITECTURE.md states for the tunnel client: each folder
# of tunnel-client/src includes only its own layer and those below it.
# Usage: check-tunnel-include-rules.sh [repository root]; prints each breach, exits 1 on any.
root=${1:-$(dirname "$0")/..}
src="$root/tunnel-client/src"
[ -d "$src/core" ] || { echo "no tunnel client sources under $src" >&2; exit 2; }
tmp=$(mktemp)
. "$(dirname "$0")/include-rules-lib.sh"

# What each folder may include, from the bottom up. session/ runs the device, so it
# may name device/; device/ never names session/.
allowed() {
    case $1 in
    core) echo "core" ;;
    platform) echo "core platform" ;;
    events) echo "core platform events" ;;
    device) echo "core platform events device" ;;
    session) echo "core platform events device session" ;;
    driver) echo "core platform events device session driver" ;;
    cli) echo "core platform events device session driver cli" ;;
    *) echo "" ;;
    esac
}

for dir in "$src"/*/; do
    layer=$(basename "$dir")
    permitted=$(allowed "$layer")
    if [ -z "$permitted" ]; then
        breach "tunnel-client/src/$layer" "a folder the include rules do not place"
        continue
    fi
    allow_only "$(echo "$permitted" | tr ' ' '|')" "$layer/ includes from a layer above it" \
        $(find "$dir" -name '*.cpp' -o -name '*.h')
done

forbid_linux_outside_platform "$src"

rm -f "$tmp"
exit $status
