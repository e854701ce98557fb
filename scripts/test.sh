#!/usr/bin/env bash
# The test command: from a bare Debian 12 machine, installs what is needed,
# builds every configuration and runs every suite.
#   native    gcc: portable core tests and the libmcrypt reference tests
#   sanitize  clang, ASan+UBSan: the same tests, plus a short run of each fuzz target
#   tsan      clang, ThreadSanitizer: the same tests, the core driven from many threads
#   win64     mingw-w64 x86_64, run under wine64
#   win32     mingw-w64 i686 (the shipped form), run under wine32 on qemu-user
# Exits non-zero if any build or test fails, and if any test skips: every
# suite can run on this project's machines (QEL_ALLOW_SKIPS=1 elsewhere).
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || exit 1

presets=(native sanitize tsan win64 win32)
failed_presets=()
passed_total=0 failed_total=0 skipped_total=0
for preset in "${presets[@]}"; do
    echo "== $preset"
    log=$(mktemp)
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
        tail -40 "$log"
        rm -f "$log"
        failed_presets+=("$preset (build)")
        continue
    fi
    ctest --preset "$preset" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    # ctest counts a skipped test among the passed ones; it lists them apart.
    skipped=$(grep -cE '^\s*[0-9]+ - .* \(Skipped\)$' "$log")
    if [[ $summary =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
        failed_total=$((failed_total + BASH_REMATCH[1]))
        passed_total=$((passed_total + BASH_REMATCH[2] - BASH_REMATCH[1] - skipped))
        skipped_total=$((skipped_total + skipped))
    fi
    rm -f "$log"
    if [ "$status" -ne 0 ]; then
        failed_presets+=("$preset")
    elif [ "$skipped" -gt 0 ] && [ "${QEL_ALLOW_SKIPS:-0}" != 1 ]; then
        failed_presets+=("$preset (skipped tests)")
    fi
done

echo
if [ ${#failed_presets[@]} -gt 0 ]; then
    echo "failed: ${failed_presets[*]}"
fi
echo "all: $passed_total passed, $failed_total failed, $skipped_total skipped"
[ ${#failed_presets[@]} -eq 0 ]
