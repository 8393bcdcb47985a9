#!/usr/bin/env bash
# The test command: installs missing packages, configures, builds with -j2 and runs every test.
#   scripts/run-tests.sh          normal build in build/
#   scripts/run-tests.sh --asan   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/run-tests.sh --tsan   ThreadSanitizer in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
sanitize=""
exclude=()
case "${1:-}" in
    "") ;;
    --asan) build=build-asan; sanitize=address ;;
    # Debian's Qt is not built with ThreadSanitizer, which then cannot see Qt's own locking and
    # reports Qt's hand-overs as races. The window's tests run in the other two builds; every
    # thread of ours (ports, receive threads, engine, simulator) is tested here without Qt.
    --tsan) build=build-tsan; sanitize=thread; exclude=(-LE '^gui$') ;;
    *) echo "usage: $0 [--asan|--tsan]" >&2; exit 2 ;;
esac

scripts/install-deps.sh
# Warnings are errors here, for the developers and CI; a plain build only shows them.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNFLOW_SANITIZE="$sanitize" \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build "$build" -j2
ctest --test-dir "$build" -j2 --output-on-failure --timeout 300 "${exclude[@]}"
