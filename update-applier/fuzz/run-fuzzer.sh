#!/bin/sh
# Builds the apply.json fuzz target with g++ against the libFuzzer runtime of the
# installed clang, with coverage of the applier's own code (the plan reader and
# what it calls), and fuzzes a copy of the seed corpus.
#   usage: run-fuzzer.sh [seconds] [libFuzzer options]   (default 300)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
src="$here/../src"
out="${APPLIER_FUZZ_DIR:-$root/build/fuzz-applier}"
. "$root/scripts/fuzz/gcc-libfuzzer.sh"
mkdir -p "$out/corpus"
cp -n "$here"/corpus/* "$out/corpus/" 2>/dev/null || true
sources=$(find "$src" -name '*.cpp' ! -path "$src/main.cpp" | sort)
# shellcheck disable=SC2086  # one word per source file
gcc_libfuzzer_build "$out/applier_plan_fuzzer" -I"$src" "$here/read_apply_plan_fuzz.cpp" $sources
seconds="${1:-300}"
[ $# -gt 0 ] && shift
cd "$out"
exec ./applier_plan_fuzzer -use_value_profile=1 -max_len=4096 -max_total_time="$seconds" "$@" corpus
