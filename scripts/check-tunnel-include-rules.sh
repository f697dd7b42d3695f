#!/bin/sh
# Checks the include rules ARCHITECTURE.md states for the tunnel client: each folder
# of tunnel-client/src includes only its own layer and those below it.
# Usage: check-tunnel-include-rules.sh [repository root]; prints each breach, exits 1 on any.
root=${1:-$(dirname "$0")/..}
src="$root/tunnel-client/src"
[ -d "$src/core" ] || { echo "no tunnel client sources under $src" >&2; exit 2; }
status=0
tmp=$(mktemp)

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
        echo "tunnel-client/src/$layer: a folder the include rules do not place"
        status=1
        continue
    fi
    pattern=$(echo "$permitted" | tr ' ' '|')
    for file in $(find "$dir" -name '*.cpp' -o -name '*.h'); do
        grep -n '#include "' "$file" | grep -vE "#include \"($pattern)/" > "$tmp" || true
        while IFS= read -r line; do
            echo "${file#$root/}:$line: $layer/ includes from a layer above it"
            status=1
        done < "$tmp"
    done
done

# OS code is reached through the platform interfaces: outside platform/ nothing
# names a platform/linux header.
for file in $(find "$src" -name '*.cpp' -o -name '*.h' | grep -v "^$src/platform/"); do
    grep -n '#include "platform/linux/' "$file" > "$tmp" || true
    while IFS= read -r line; do
        echo "${file#$root/}:$line: names a platform/linux header outside the platform layer"
        status=1
    done < "$tmp"
done

rm -f "$tmp"
exit $status
