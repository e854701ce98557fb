#!/usr/bin/env bash
# One Wine process per Windows test program, yet one ctest entry per case:
#   gtest-cases.sh run LOG PROGRAM [ARGS...]   runs the whole program into LOG
#   gtest-cases.sh case LOG NAME               reports NAME's part of LOG
# Under qemu-user every process start costs seconds, so a case entry reads the
# program's log rather than starting it again. A run passes when every failure
# in it belongs to a case (that case's entry reports it); a program that fails
# outside any case, or leaves no log, fails the run.
set -uo pipefail
action=$1 log=$2
shift 2
case $action in
run)
    rm -f "$log"
    "$@" >"$log" 2>&1
    status=$?
    cat "$log"
    [ "$status" -eq 0 ] && exit 0
    # A case that failed, or the case the program stopped in.
    if awk '{ sub(/\r$/, "") }
            /^\[ RUN      \] / { open = 1 }
            /^\[  (FAILED  |     OK |SKIPPED )\] / { open = 0 }
            /^\[  FAILED  \] [^ ,]*\./ { owned = 1 }
            END { exit !(owned || open) }' "$log"; then
        exit 0
    fi
    exit "$status"
    ;;
case)
    name=$1
    [ -f "$log" ] || { echo "no log of the program's run: $log"; exit 1; }
    awk -v name="$name" '
        function ends(line, mark,    after) {
            after = substr(line, length(mark name) + 1, 1)
            return index(line, mark name) == 1 && (after == "" || after == " " || after == ",")
        }
        { sub(/\r$/, "") }
        !seen && $0 == "[ RUN      ] " name { seen = 1; inside = 1 }
        inside { print }
        inside && ends($0, "[       OK ] ") { result = "ok"; inside = 0 }
        inside && ends($0, "[  SKIPPED ] ") { result = "skipped"; inside = 0 }
        inside && ends($0, "[  FAILED  ] ") { result = "failed"; inside = 0 }
        END {
            if (!seen) { print "not run: the program stopped before this case"; exit 1 }
            if (result == "") { print "the program stopped in this case"; exit 1 }
            exit result == "failed"
        }' "$log"
    ;;
esac
