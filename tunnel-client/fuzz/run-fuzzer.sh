#!/bin/sh
# Builds the fuzz entry points with g++ against the libFuzzer runtime of the
# installed clang (clang 14 itself cannot compile this code base) and fuzzes a
# copy of the seed corpus.   usage: run-fuzzer.sh [seconds]   (default 300)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src="$here/../src"
out="${OSTREL_FUZZ_DIR:-$here/../../build/fuzz}"
runtime=$(ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a 2>/dev/null | tail -n 1)
[ -n "$runtime" ] || { echo "libclang_rt.fuzzer-x86_64.a not found (install clang)" >&2; exit 1; }
mkdir -p "$out/corpus"
cp -n "$here"/corpus/* "$out/corpus/" 2>/dev/null || true
g++ -std=c++23 -O1 -g -fsanitize=address,undefined -fsanitize-coverage=trace-cmp \
    -I"$src" -I"$here" \
    "$here/fuzz_targets.cpp" "$here/device_fuzz_targets.cpp" "$here/libfuzzer_main.cpp" "$here/gcc_coverage_shims.cpp" \
    "$src"/session/*.cpp "$src"/events/*.cpp "$src"/device/frame_rewrite.cpp "$src"/device/internet_checksum.cpp \
    "$src"/platform/udp_socket.cpp "$src"/platform/linux/udp_socket_linux.cpp "$src"/platform/linux/udp_burst.cpp \
    "$runtime" $(pkg-config --cflags --libs libsodium) -lpthread -o "$out/ostrel_fuzz"
cd "$out"
exec ./ostrel_fuzz -use_value_profile=1 -max_len=4096 -max_total_time="${1:-300}" corpus
