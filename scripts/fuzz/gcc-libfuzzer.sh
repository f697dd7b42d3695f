# Sourced by the fuzz scripts. clang 14 here cannot compile the project's C++23,
# so fuzzers are built with g++, instrumented for coverage and comparisons, and
# linked against the libFuzzer runtime of the installed clang through a small
# bridge (libfuzzer_gcc_bridge.cpp).
#   root=<top of the repository>; . "$root/scripts/fuzz/gcc-libfuzzer.sh"
#   gcc_libfuzzer_build OUTPUT SOURCE... [FLAGS...] [LIBS...]
gcc_libfuzzer_build() {
    local binary runtime
    binary=$1
    shift
    runtime=$(ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a 2>/dev/null | tail -n 1)
    [ -n "$runtime" ] || { echo "libclang_rt.fuzzer-x86_64.a not found (install clang)" >&2; return 1; }
    mkdir -p "$(dirname "$binary")"
    g++ -std=c++23 -O2 -c "$root/scripts/fuzz/libfuzzer_gcc_bridge.cpp" -o "$binary.bridge.o"
    g++ -std=c++23 -O1 -g -fsanitize=address,undefined -fsanitize-coverage=trace-pc,trace-cmp "$@" \
        "$binary.bridge.o" "$runtime" -Wl,--wrap=__sanitizer_cov_trace_pc -lpthread -o "$binary"
}

# Fuzzes a copy of the seed corpus beside the binary.
#   gcc_libfuzzer_run BINARY SEEDS_FOLDER [SECONDS (300)] [libFuzzer options...]
gcc_libfuzzer_run() {
    local binary seeds seconds
    binary=$1
    seeds=$2
    seconds=${3:-300}
    shift 2
    [ $# -gt 0 ] && shift
    mkdir -p "$(dirname "$binary")/corpus"
    cp -n "$seeds"/* "$(dirname "$binary")/corpus/" 2>/dev/null || true
    cd "$(dirname "$binary")"
    exec "./$(basename "$binary")" -use_value_profile=1 -max_len=4096 -max_total_time="$seconds" "$@" corpus
}
