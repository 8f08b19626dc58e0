#!/usr/bin/env bash
# Installs what is missing, builds the default preset, checks the C++ format, builds and runs
# every test under AddressSanitizer and UndefinedBehaviorSanitizer (preset "asan"), then runs
# in the default build the tests the sanitizers leave out (test preset "unsanitized": the
# packages, the load test, the tests timed for full speed), two at a time. The default build is
# then only what those tests and the packages need (build preset "unsanitized"). JOV_ASAN=0
# leaves the sanitizers out and builds and runs every test in the default build. ctest's summary
# of the default build comes last; the exit status is non-zero when any step failed.
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
step() {
  local name=$1 start=$SECONDS
  shift
  echo "== ${name}"
  if "$@"; then
    echo "== ${name}: passed in $((SECONDS - start)) s"
  else
    echo "== ${name}: FAILED after $((SECONDS - start)) s"
    failed+=("${name}")
  fi
}

if [ "${JOV_ASAN:-1}" != 0 ]; then
  default=unsanitized
else
  default=default
fi
bash scripts/build.sh "${default}" || exit 1

step "format check" bash scripts/check-format.sh
if [ "${JOV_ASAN:-1}" != 0 ]; then
  step "asan build" bash -c 'cmake --preset asan >/dev/null && cmake --build --preset asan'
  if [[ ! " ${failed[*]} " =~ " asan build " ]]; then
    step "asan tests" ctest --preset asan -j2 --timeout 600
  fi
fi

[ ${#failed[@]} -eq 0 ] || echo "== failed before the default tests: ${failed[*]}"
# Two tests at a time, as the two cores allow; those that run a whole register's programs take
# turns (resource lock register_programs), and the load test runs alone.
ctest --preset "${default}" -j2 --timeout 300
status=$?
[ ${#failed[@]} -eq 0 ] || status=1
exit ${status}
