#!/bin/sh
# Builds the fuzz entry points with g++ against the libFuzzer runtime of the
# installed clang (clang 14 itself cannot compile this code base), with coverage
# of the session, event and rewrite code they reach, and fuzzes a copy of the
# seed corpus.   usage: run-fuzzer.sh [seconds] [libFuzzer options]   (default 300)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
src="$here/../src"
. "$root/scripts/fuzz/gcc-libfuzzer.sh"
binary="${OSTREL_FUZZ_DIR:-$root/build/fuzz}/ostrel_fuzz"
gcc_libfuzzer_build "$binary" -I"$src" -I"$here" \
    "$here/fuzz_targets.cpp" "$here/device_fuzz_targets.cpp" "$here/libfuzzer_main.cpp" \
    "$src"/session/*.cpp "$src"/events/*.cpp "$src"/device/frame_rewrite.cpp "$src"/core/*.cpp \
    "$src"/platform/udp_socket.cpp "$src"/platform/linux/udp_socket_linux.cpp "$src"/platform/linux/udp_burst.cpp \
    $(pkg-config --cflags --libs libsodium)
gcc_libfuzzer_run "$binary" "$here/corpus" "$@"
