#!/usr/bin/env bash
# One Wine process per Windows test program, yet one ctest entry per case:
#   gtest-cases.sh run LOG PROGRAM [ARGS...]   runs the whole program into LOG
#   gtest-cases.sh case LOG NAME               reports NAME's part of LOG
# Under qemu-user every process start costs seconds, so a case entry reads the
# program's log rather than starting it again. A run passes over a failure only
# when the failed case, or the case the program stopped in, is in LOG.names
# (the cases ctest made entries of), since only an entry reports it. No list,
# a failure outside any case, or an abnormal exit after the last case (a
# crash at exit shows no case, and gtest exits 1 when cases fail) fail the run.
set -uo pipefail
action=$1 log=$2
shift 2
case $action in
run)
    names=$log.names
    rm -f "$log"
    "$@" >"$log" 2>&1
    status=$?
    cat "$log"
    if ! grep -q . "$names" 2>/dev/null; then
        echo "no list of the program's cases ($names): no entry would report a failed case"
        exit 1
    fi
    awk -v status="$status" '
        FNR == NR { if ($0 != "") listed[$0] = 1; next }
        { sub(/\r$/, "") }
        /^\[ RUN      \] / { open = substr($0, 14); next }
        /^\[  FAILED  \] [0-9]+ tests?, listed below:$/ { next }
        /^\[  FAILED  \] / { name = substr($0, 14); sub(/[ ,].*/, "", name); failed[name] = 1; open = ""; next }
        /^\[  (     OK |SKIPPED )\] / { open = "" }
        END {
            if (open != "")
                failed[open] = 1
            for (name in failed) {
                count++
                if (!(name in listed)) {
                    print "failed outside the listed cases: " name
                    bad = 1
                }
            }
            if (open == "" && status != (count ? 1 : 0)) {
                print "exit status " status (count ? " after the last case" : " and no failed case") \
                      ": a crash, or an exit no case owns"
                bad = 1
            }
            if (count && !bad)
                print count " failed case(s), each reported by an entry of its own"
            exit bad
        }' "$names" "$log" || exit $((status ? status : 1))
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
