# What the end-to-end scripts share; sourced with BITS PREFIX BUILD-DIR as
# their arguments. Servers started into $servers stop on exit, with $work.
# A pipeline fails when any of its commands does (a credential tool that
# failed must not pass for the tr after it), so a check whose reader may stop
# early (grep -q, head) reads a here-string, never a pipe.
set -o pipefail
bits=$1 prefix=$2 build=$3
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
root=$(readlink -f "$here/../..")
python=/usr/bin/python3
# No program may hang a test: past the bound it is stopped, after its
# backtraces and the tails of the servers' logs are told on stderr.
run() {
    "$here/bounded-wine-run" "${QEL_PROCESS_BOUND:-300}" "$bits" "$prefix" "$@"
    local status=$?
    if [ "$status" = 124 ]; then
        for log in "$work"/*.err "$work"/*/commands.log "$work"/*/requests.log; do
            [ -s "$log" ] && { echo "--- ${log#"$work"/}"; tail -n 20 "$log"; } >&2
        done
    fi
    return "$status"
}
windows_path() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }
work=$(mktemp -d)
servers=()
stop_servers() { for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null; done; rm -rf "$work"; }
trap stop_servers EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A JPEG of SIZE arbitrary bytes between its start and end markers.
make_jpeg() {
    "$python" -c "import sys,os; open(sys.argv[1],'wb').write(b'\xff\xd8\xff\xe0\x00\x10JFIF\x00' + os.urandom(int(sys.argv[2])) + b'\xff\xd9')" "$1" "$2"
}

# The VBScript sample sends $picture through SERVER; sets $output.
send_sample() {
    output=$(run cscript //nologo "$(windows_path "$root/samples/vbscript/SendPictureMessage.vbs")" "$1" \
        gateway@example.com "$(windows_path "$picture")" | tr -d '\r')
}

# The mail EML (waited for) is what the sample's $output composed, field by field;
# OPTIONS go to check_mail.py.
check_delivered() {
    local eml=$1
    shift
    sed -n '/^----- TranslatedMessage -----$/,/^----- end -----$/p' <<<"$output" | sed '1d;$d' | sed 's/$/\r/' |
        head -c -2 >"$work/translated.txt"
    for _ in $(seq 50); do [ -e "$eml" ] && break; sleep 0.1; done
    "$python" "$here/check_mail.py" "$@" "$eml" "$work/translated.txt" "$picture" gateway@example.com \
        "Qel Dispatch" dispatch@example.com "$root/scripts/wine-run" "$bits" "$prefix" "$build/gateway/qel-gateway-read.exe"
}
