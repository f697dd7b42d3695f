#!/usr/bin/env bash
# The main job, run from a finished build folder.
set -euo pipefail
build=${1:?build folder}
exec "$build/bin/ostrel-client" --help
