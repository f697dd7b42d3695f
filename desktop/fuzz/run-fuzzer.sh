#!/bin/sh
# Builds one fuzz target of the desktop program with g++ against the libFuzzer
# runtime of the installed clang (clang 14 itself cannot compile this code
# base), with coverage of every desktop source it reaches, linked with Qt, and
# fuzzes a copy of its seed corpus.
#   usage: run-fuzzer.sh TARGET [seconds] [libFuzzer options]   (default 300)
#   TARGET: lobby_message, ipc_stream, update_manifest or hosts_cleanup
# A crash leaves a crash-* file beside the binary; the binary replays it when
# given it as its argument.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
src="$root/desktop/src"
. "$root/scripts/fuzz/gcc-libfuzzer.sh"

target=${1:-}
case "$target" in
    lobby_message) entry=fuzz::lobbyMessage ;;
    ipc_stream) entry=fuzz::ipcStream ;;
    update_manifest) entry=fuzz::updateManifest ;;
    hosts_cleanup) entry=fuzz::hostsCleanup ;;
    *)
        echo "usage: $0 lobby_message|ipc_stream|update_manifest|hosts_cleanup [seconds] [libFuzzer options]" >&2
        exit 2
        ;;
esac
shift

out="${CORVANA_FUZZ_DIR:-$root/build/fuzz-desktop}"
objects="$out/objects"
# Nothing left over from sources that have gone since the last build.
rm -rf "$objects"
mkdir -p "$objects"
modules="Qt6Core Qt6Gui Qt6Widgets Qt6Qml Qt6Quick Qt6QuickControls2 Qt6Network Qt6WebSockets Qt6Multimedia Qt6Svg"
qt_cflags=$(pkg-config --cflags $modules)
qt_libs=$(pkg-config --libs $modules)
moc="$(pkg-config --variable=libexecdir Qt6Core)/moc"
compiler=g++
if command -v ccache >/dev/null 2>&1; then compiler="ccache g++"; fi

# The back end and the targets as one instrumented library, built ahead with
# the flags gcc_libfuzzer_build gives its own sources (-fPIC: Qt asks for it),
# so each target's link takes only what its entry point reaches. The real
# hosts file code gives way to the stand-in in fake_hosts_platform.cpp.
for header in $(grep -rl --include='*.h' -e 'Q_OBJECT' -e 'Q_GADGET' "$src" | sort); do
    name=$(echo "${header#"$src"/}" | tr / _)
    "$moc" -I"$src" "$header" -o "$objects/moc_${name%.h}.cpp"
done
export compiler objects qt_cflags src here
{
    find "$src" -name '*.cpp' ! -path "$src/main.cpp" ! -path "$src/platform/linux/hosts_file.cpp"
    find "$here" -maxdepth 1 -name '*.cpp' ! -name libfuzzer_main.cpp ! -name replay_main.cpp
    find "$objects" -name 'moc_*.cpp'
} | sort | xargs -P 4 -I{} sh -c '
    source=$1
    name=$(echo "$source" | sed "s|^$src/||; s|^$here/|fuzz/|; s|^$objects/||; s|/|_|g")
    $compiler -std=c++23 -O1 -g -fPIC -fsanitize=address,undefined -fsanitize-coverage=trace-pc,trace-cmp \
        -I"$src" -I"$here" $qt_cflags -c "$source" -o "$objects/${name%.cpp}.o"
' _ {}
rm -f "$out/libcorvana_fuzz.a"
ar rcs "$out/libcorvana_fuzz.a" "$objects"/*.o

binary="$out/$target/corvana_${target}_fuzzer"
# shellcheck disable=SC2086  # one word per flag
gcc_libfuzzer_build "$binary" -fPIC -DCORVANA_FUZZ_ENTRY="$entry" -I"$src" -I"$here" $qt_cflags \
    "$here/libfuzzer_main.cpp" "$out/libcorvana_fuzz.a" $qt_libs
gcc_libfuzzer_run "$binary" "$here/corpus/$target" "$@"
