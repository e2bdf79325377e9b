#!/usr/bin/env bash
# The README's first command: installs what is missing (as root), builds
# everything in release mode into build/release, then runs the engine on
# the bundled sample lists through the quibex tool: every sample request
# decided and explained, every sample page with its selectors and their
# rules, and what a candidate update of the second list changes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

build=build/release
echo "== Building into $build (log: $build/build.log)"
mkdir -p "$build"
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
         -DQUIBEX_BUILD_TESTS=OFF -DQUIBEX_BUILD_BENCHMARKS=OFF &&
       cmake --build "$build" -j "$(nproc)"; } >"$build/build.log" 2>&1; then
  cat "$build/build.log"
  echo "demo: the build failed" >&2
  exit 1
fi

quibex=$build/tools/quibex
first=examples/lists/first.txt
second=examples/lists/second.txt
lists=(--first "$first" --second "$second")

# Splits a line at its tabs into the array named fields (empty fields kept).
split_tabs() {
  fields=()
  readarray -d $'\t' -t fields < <(printf '%s' "$1")
}

# The rules of a list without its comments and blank lines.
show_rules() {
  grep -v -e '^!' -e '^$' "$1" | sed 's/^/    /'
}

cat <<TEXT

== The sample lists
The engine loads two lists. Rules of the second list decide before any
rule of the first; within a list, exceptions ("@@") before blocking rules.

  $first (list 0):
$(show_rules "$first")

  $second (list 1):
$(show_rules "$second")

== The sample requests ($(basename examples/requests.tsv)), decided and explained
TEXT
while IFS= read -r line <&3 && IFS= read -r note <&4; do
  split_tabs "$line"
  echo
  echo "# $note"
  "$quibex" check --explain "${lists[@]}" "${fields[0]}" "${fields[1]:-}"
done 3<examples/requests.tsv 4<examples/requests.notes

cat <<TEXT

== The sample pages ($(basename examples/pages.tsv)), with their selectors
TEXT
while IFS= read -r line <&3 && IFS= read -r note <&4; do
  split_tabs "$line"
  echo
  echo "# $note"
  "$quibex" selectors --explain "${lists[@]}" \
    "${fields[0]}" "${fields[1]:-}" "${fields[2]:-}"
done 3<examples/pages.tsv 4<examples/pages.notes

cat <<TEXT

== The same requests as a stream: one answer per line (1 = blocked)
TEXT
"$quibex" batch "${lists[@]}" <examples/requests.tsv 2>&1 >"$build/answers.txt" |
  sed 's/^/  /'
paste "$build/answers.txt" examples/requests.tsv | cut -f1,2 | sed 's/^/  /'

cat <<TEXT

== What a candidate update of the second list ($(basename examples/lists/second-update.txt)) changes
TEXT
"$quibex" diff "${lists[@]}" --new-second examples/lists/second-update.txt \
  <examples/requests.tsv | sed 's/^/  /'
echo
"$quibex" diff --selectors "${lists[@]}" \
  --new-second examples/lists/second-update.txt <examples/pages.tsv |
  sed 's/^/  /'

cat <<TEXT

Next: "$quibex --help" lists every command, and
"$quibex lint FILE" shows what the engine makes of a rule list
and which of its rules will never take effect.
TEXT
