#!/usr/bin/env bash
# Builds the project twice (plain, and with AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test in both builds; then runs the threaded tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

run_build() {  # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -DPV7_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300
}

run_build build
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_build build-asan -DPV7_SANITIZE=address -DPV7_BENCH=OFF

# ThreadSanitizer over the threaded tests: the command thread against paints and
# the request hook, the engine library's threads, bridge calls, DRAW blocking and
# the host's shutdown in every way. Only the programs holding them are built.
tsan_programs=(commands_tests host_tests hostproc_tests host_e2e_tests hoste2e_tests hosts_tests
               hostile_draw_tests security_tests cefengine_unit_tests cefengine_parts_tests cefengine_browser_tests
               cefengine_process_tests cefengine_osr_tests bridge_host_tests
               identity_unit_tests identity_e2e_tests identity_locale_tests)
cmake -S . -B build-tsan -DPV7_WERROR=ON -DPV7_SANITIZE=thread -DPV7_BENCH=OFF >/dev/null
available=$(cmake --build build-tsan --target help | sed -n 's/^\.\.\. \([^ ]*\).*/\1/p')
targets=()
for t in "${tsan_programs[@]}"; do
  if grep -qx "$t" <<<"$available"; then targets+=("$t"); fi
done
cmake --build build-tsan -j"$jobs" --target "${targets[@]}"
# atexit_sleep_ms=0: TSan otherwise sleeps a second in every exit, the watchdog's included.
TSAN_OPTIONS="halt_on_error=1:atexit_sleep_ms=0:second_deadlock_stack=1" \
  ctest --test-dir build-tsan -j"$jobs" --output-on-failure --timeout 300 \
    -R '^(host|hosts|hostile|security|cefengine|bridge|identity)\.' -E 'HostileParent|HostileBinary'
