#!/bin/bash
# Builds everything and runs every test tier through CTest: host (native, sanitizers),
# windows (test programs under Wine) and end-to-end (Zentrovia.exe under Wine on Xvfb).
# Ends with one summary line: "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh" || exit 1
"$root/scripts/build.sh" || { echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
run_tier() {
    local dir=$1 log
    log=$(mktemp)
    ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "${ZV_TEST_JOBS:-2}" 2>&1 | tee "$log"
    # "N% tests passed, F tests failed out of T"
    local line total bad
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [[ -z "$line" ]]; then
        failed=$((failed + 1))  # the tier did not even report
    else
        bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    fi
    rm -f "$log"
}

run_tier "$root/build/host"
run_tier "$root/build/win"

echo "${passed} passed, ${failed} failed"
[[ $failed -eq 0 ]]
