#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on a corpus
# seeded from the test files and the samples. Findings land in build-fuzz/artifacts/.
#   scripts/fuzz.sh [SECONDS] [TARGET ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_bitmap fuzz_descriptor fuzz_bandset fuzz_treatment)

scripts/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESSERA_FUZZ=ON -DTESSERA_BUILD_GUI=OFF \
    -DTESSERA_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

mkdir -p build-fuzz/artifacts
for target in "${targets[@]}"; do
    corpus=build-fuzz/corpus-$target
    mkdir -p "$corpus"
    case $target in
        fuzz_bitmap) seeds=$(ls tests/data/corrupt/*.bmp samples/*.bmp 2>/dev/null || true) ;;
        fuzz_descriptor) seeds=$(ls tests/data/corrupt/*.txt samples/*.txt 2>/dev/null || true) ;;
        fuzz_bandset) seeds=$(ls tests/data/corrupt/*.bmp samples/*.bmp 2>/dev/null || true) ;;
        fuzz_treatment) seeds=$(ls docs/treatment-example.json 2>/dev/null || true) ;;
    esac
    for seed in $seeds; do cp -n "$seed" "$corpus/" 2>/dev/null || true; done
    echo "== $target for ${seconds}s"
    "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
        -artifact_prefix="build-fuzz/artifacts/$target-" -print_final_stats=1 "$corpus" 2>&1 |
        grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY|Done)' || true
    # Crashes, sanitizer reports, leaks, time-outs and memory blow-ups fail the run; a merely
    # slow input (slow-unit-) is only reported.
    failing=$(find build-fuzz/artifacts -name "$target-crash-*" -o -name "$target-leak-*" \
                   -o -name "$target-timeout-*" -o -name "$target-oom-*")
    if [ -n "$failing" ]; then
        echo "$target found a failing input:"; echo "$failing"
        exit 1
    fi
    ls build-fuzz/artifacts/"$target"-slow-unit-* 2>/dev/null | sed 's/^/slow input (not a failure): /' || true
done
