#!/usr/bin/env bash
# Builds the libFuzzer target of the web card reader with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) into build-fuzz/ and runs it. Arguments go to libFuzzer; without
# any, it runs for ten minutes. The normal build does not need clang and is not touched.
#   tools/fuzz_intake.sh                       # ten minutes
#   tools/fuzz_intake.sh -max_total_time=60    # one minute
#   tools/fuzz_intake.sh crash-<hash>          # replay one input
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-fuzz
mkdir -p "$out/corpus"

# shellcheck disable=SC2046
clang++ -std=c++20 -g -O1 -fPIC -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -DQT_NO_CAST_FROM_ASCII -DQT_NO_CAST_TO_ASCII -DQT_USE_QSTRINGBUILDER \
  -Isrc/store -Isrc/intake $(pkg-config --cflags Qt6Core) \
  tests/fuzz/fuzz_webcard.cpp src/intake/WebCard.cpp src/store/CardFields.cpp \
  src/store/TextCodec.cpp \
  $(pkg-config --libs Qt6Core) -o "$out/fuzz_webcard"

if [ $# -eq 0 ]; then
  set -- -max_total_time=600
fi
# Replaying files needs no corpus folders; a fuzzing run grows build-fuzz/corpus from the seeds.
for a in "$@"; do
  if [ -f "$a" ]; then
    exec "$out/fuzz_webcard" "$@"
  fi
done
exec "$out/fuzz_webcard" -max_len=4096 -print_final_stats=1 "$@" "$out/corpus" tests/fuzz/corpus
