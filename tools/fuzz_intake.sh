#!/usr/bin/env bash
# Builds a libFuzzer target with clang (AddressSanitizer and UndefinedBehaviorSanitizer on) into
# build-fuzz/ and runs it: the web card reader (default) or, with "ini" first, the configuration
# file reader. Other arguments go to libFuzzer; without any, it runs for ten minutes. The normal
# build does not need clang and is not touched.
#   tools/fuzz_intake.sh                       # web card reader, ten minutes
#   tools/fuzz_intake.sh ini                   # configuration file reader, ten minutes
#   tools/fuzz_intake.sh -max_total_time=60    # one minute
#   tools/fuzz_intake.sh crash-<hash>          # replay one input
set -euo pipefail
cd "$(dirname "$0")/.."
target=webcard
sources=(src/intake/WebCard.cpp)
if [ "${1:-}" = ini ] || [ "${1:-}" = webcard ]; then
  target=$1
  shift
fi
if [ "$target" = ini ]; then
  sources=(src/model/Ini.cpp)
fi
out=build-fuzz
mkdir -p "$out/corpus-$target"

# shellcheck disable=SC2046
clang++ -std=c++20 -g -O1 -fPIC -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -DQT_NO_CAST_FROM_ASCII -DQT_NO_CAST_TO_ASCII -DQT_USE_QSTRINGBUILDER \
  -Isrc/model -Isrc/intake $(pkg-config --cflags Qt6Core) \
  "tests/fuzz/fuzz_$target.cpp" "${sources[@]}" src/model/CardFields.cpp src/model/TextCodec.cpp \
  $(pkg-config --libs Qt6Core) -o "$out/fuzz_$target"

if [ $# -eq 0 ]; then
  set -- -max_total_time=600
fi
# Replaying files needs no corpus folders; a fuzzing run grows build-fuzz/corpus-<target> from
# the seeds.
for a in "$@"; do
  if [ -f "$a" ]; then
    exec "$out/fuzz_$target" "$@"
  fi
done
seeds=tests/fuzz/corpus
if [ "$target" = ini ]; then
  seeds=tests/fuzz/corpus_ini
fi
exec "$out/fuzz_$target" -max_len=4096 -print_final_stats=1 "$@" "$out/corpus-$target" "$seeds"
