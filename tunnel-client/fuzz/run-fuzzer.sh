#!/bin/sh
# Builds the fuzz entry points with g++ against the libFuzzer runtime of the
# installed clang (clang 14 itself cannot compile this code base), with coverage
# of the session, event and rewrite code they reach, and fuzzes a copy of the
# seed corpus.   usage: run-fuzzer.sh [seconds] [libFuzzer options]   (default 300)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
src="$here/../src"
out="${OSTREL_FUZZ_DIR:-$root/build/fuzz}"
. "$root/scripts/fuzz/gcc-libfuzzer.sh"
mkdir -p "$out/corpus"
cp -n "$here"/corpus/* "$out/corpus/" 2>/dev/null || true
gcc_libfuzzer_build "$out/ostrel_fuzz" -I"$src" -I"$here" \
    "$here/fuzz_targets.cpp" "$here/device_fuzz_targets.cpp" "$here/libfuzzer_main.cpp" \
    "$src"/session/*.cpp "$src"/events/*.cpp "$src"/device/frame_rewrite.cpp "$src"/platform/linux/udp_socket_linux.cpp \
    $(pkg-config --cflags --libs libsodium)
seconds="${1:-300}"
[ $# -gt 0 ] && shift
cd "$out"
exec ./ostrel_fuzz -use_value_profile=1 -max_len=4096 -max_total_time="$seconds" "$@" corpus
