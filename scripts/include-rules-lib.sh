# Shared by the include-rule checks (sourced): the caller sets root and tmp;
# status ends 1 once any breach is reported.
status=0

breach() {
    echo "$1: $2"
    status=1
}

# Reports each include of the files after the first two arguments that
# matches the extended pattern, with the message.
forbid() {
    pattern=$1
    message=$2
    shift 2
    for file in "$@"; do
        grep -nE "$pattern" "$file" > "$tmp" || true
        while IFS= read -r line; do
            breach "${file#$root/}:$line" "$message"
        done < "$tmp"
    done
}

# Reports each include of the files after the first two arguments that does
# not name a folder the extended pattern matches, with the message.
allow_only() {
    folders=$1
    message=$2
    shift 2
    for file in "$@"; do
        grep -n '#include "' "$file" | grep -vE "#include \"($folders)/" > "$tmp" || true
        while IFS= read -r line; do
            breach "${file#$root/}:$line" "$message"
        done < "$tmp"
    done
}

# OS code is reached only through the platform layer: outside <src>/platform/
# nothing names a platform/linux header.
forbid_linux_outside_platform() {
    forbid '#include "platform/linux/' "names a platform/linux header outside the platform layer" \
        $(find "$1" -name '*.cpp' -o -name '*.h' | grep -v "^$1/platform/")
}
