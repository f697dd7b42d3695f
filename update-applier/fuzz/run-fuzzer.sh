#!/bin/sh
# Builds the apply.json fuzz target with g++ against the libFuzzer runtime of the
# installed clang, with coverage of the applier's own code (the plan reader and
# what it calls), and fuzzes a copy of the seed corpus.
#   usage: run-fuzzer.sh [seconds] [libFuzzer options]   (default 300)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/scripts/fuzz/gcc-libfuzzer.sh"
binary="${APPLIER_FUZZ_DIR:-$root/build/fuzz-applier}/applier_plan_fuzzer"
# shellcheck disable=SC2046  # one word per source file
gcc_libfuzzer_build "$binary" -I"$here/../src" "$here/read_apply_plan_fuzz.cpp" \
    $(find "$here/../src" -name '*.cpp' ! -name main.cpp | sort)
gcc_libfuzzer_run "$binary" "$here/corpus" "$@"
