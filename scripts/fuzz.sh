#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time, growing the corpora
# in fuzz/corpus. Any crash stops the run; keep its input as a named file in the corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

scripts/install-deps.sh
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNFLOW_FUZZ=ON \
    -DTARNFLOW_SANITIZE=address -DTARNFLOW_BUILD_TESTS=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build build-fuzz -j2 --target fuzz_ProcessReceivedInput fuzz_DloadFileInput

run() {
    local target=$1 corpus=$2 scratch
    scratch=$(mktemp -d)
    # New inputs go to a scratch folder; the kept corpus only gains what adds coverage.
    build-fuzz/bin/"$target" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 \
        -artifact_prefix=build-fuzz/ "$scratch" "fuzz/corpus/$corpus"
    build-fuzz/bin/"$target" -merge=1 "fuzz/corpus/$corpus" "$scratch" >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
run fuzz_ProcessReceivedInput process_received
run fuzz_DloadFileInput dload_file
