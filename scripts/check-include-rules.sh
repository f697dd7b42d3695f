#!/bin/sh
# Checks the include rules ARCHITECTURE.md states for the desktop back end.
# Usage: check-include-rules.sh [repository root]; prints each breach, exits 1 on any.
root=${1:-$(dirname "$0")/..}
src="$root/desktop/src"
[ -d "$src/platform" ] || { echo "no desktop sources under $src" >&2; exit 2; }
tmp=$(mktemp)
. "$(dirname "$0")/include-rules-lib.sh"

forbid_linux_outside_platform "$src"

# The platform layer is a leaf: it includes only its own headers.
allow_only platform "the platform layer includes from an area above it" \
    $(find "$src/platform" -name '*.cpp' -o -name '*.h')

# Areas other than the shell and the facade do not reach into the service client
# or the room session.
for area in updates forwarding discord; do
    [ -d "$src/$area" ] || continue
    forbid '#include "(service|session)/' "$area/ includes the service client or the room session" \
        $(find "$src/$area" -name '*.cpp' -o -name '*.h')
done

# The facade QML knows as `api` is the top of the back end: below main.cpp
# nothing includes it, so each class under it stays testable alone.
forbid '#include "service/api_client\.h"' "includes the facade ApiClient" \
    $(find "$src" -name '*.cpp' -o -name '*.h' | grep -v -e "^$src/main.cpp$" -e "^$src/service/api_client\.\(h\|cpp\)$")

# The REST core knows nothing of rooms, forwards, presence or updates.
[ -d "$src/service" ] && forbid '#include "(session|forwarding|discord|updates)/' "the REST core includes an area above it" \
    $(find "$src/service" -name 'service_client.*' -o -name 'request_options.h')

rm -f "$tmp"
exit $status
