#!/usr/bin/env bash
# Builds the XML reader's libFuzzer target natively and runs it, seeded with the shipped string
# bundles (as UTF-16LE, the reader's input):
#   scripts/fuzz-xml.sh [SECONDS=300] [more libFuzzer options]
# Needs Debian's clang and libclang-rt-14-dev. Output, corpus and crash files go to
# $BUILD_ROOT/fuzz (default build/fuzz); a crash file replays with: build/fuzz/xml_fuzz FILE
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
shift || true
out=${BUILD_ROOT:-$here/build}/fuzz
cxx=${CXX:-$(command -v clang++-14 || command -v clang++)}
mkdir -p "$out/seeds" "$out/corpus" "$out/artifacts"

"$cxx" -std=c++17 -O1 -g -fno-omit-frame-pointer -Wall -Wextra \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$here" "$here/fuzz/xml_fuzz.cpp" "$here/resources/xml_document.cpp" -o "$out/xml_fuzz"

python3 - "$here/resources/skin/language" "$out/seeds" "$out/xml.dict" <<'PY'
import os, sys
src, seeds, dict_path = sys.argv[1:4]
for name in sorted(os.listdir(src)):
    if name.endswith(".xml"):
        text = open(os.path.join(src, name), "rb").read().decode("utf-8")
        open(os.path.join(seeds, name), "wb").write(text.encode("utf-16-le"))
tokens = ["<", ">", "</", "/>", "<?", "?>", "<!--", "-->", "<![CDATA[", "]]>", "<!DOCTYPE", "<!ENTITY",
          "[", "]", "&lt;", "&amp;", "&gt;", "&apos;", "&quot;", "&#", "&#x", ";", "=", "\"", "'", " ",
          "\r\n", "\t", "\ufeff", "String", "id", "StringBundle"]
with open(dict_path, "w") as out:
    for i, token in enumerate(tokens):
        data = token.encode("utf-16-le")
        out.write('t%d="%s"\n' % (i, "".join("\\x%02X" % b for b in data)))
PY

"$out/xml_fuzz" -max_total_time="$seconds" -dict="$out/xml.dict" -artifact_prefix="$out/artifacts/" \
  -print_final_stats=1 "$@" "$out/corpus" "$out/seeds"
