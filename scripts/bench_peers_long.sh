#!/usr/bin/env bash
# Measures the peer engines of ../shared/peers on the long-URL workload:
# the records of ../shared/data/requests.json with the long URLs the
# benchmarks ask (quibex_decision_pass --list-long), each with its own
# record's page and type, and no extra site requests. Compare its time per
# request with the "long URLs" rows of the benchmark report and of the
# bridge benchmark (target quibex_jvm_bench), which ask the same requests.
#
#   scripts/bench_peers_long.sh [bench.mjs options, e.g. --engines ubo-core]
#
# Needs a Release tree in build/bench (scripts/bench.sh makes one) and the
# peers installed by a first run of ../shared/peers/run.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
shared=../shared
cache="${PEERS_CACHE:-${TMPDIR:-/tmp}/peer-bench-cache}"
if [[ ! -f "$cache/bench.mjs" ]]; then
  echo "bench_peers_long.sh: no peers in $cache: run $shared/peers/run.sh first" >&2
  exit 2
fi
cmake --build build/bench -j "$(nproc)" --target quibex_decision_pass >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/bench/bench/quibex_decision_pass --list-long >"$work/long.txt"
python3 - "$shared/data" "$work" <<'PY'
import json, pathlib, shutil, sys
data, work = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
records = json.loads((data / "requests.json").read_text())
urls = (work / "long.txt").read_text().split("\n")[:-1]
if len(urls) != len(records):
    sys.exit(f"bench_peers_long.sh: {len(urls)} long URLs for {len(records)} records")
for record, url in zip(records, urls):
    record["url"] = url
(work / "data").mkdir()
(work / "data" / "requests.json").write_text(json.dumps(records))
for name in ("easylist.txt", "easyprivacy.txt"):
    shutil.copy(data / name, work / "data" / name)
(work / "sites.txt").write_text("")
PY
node --expose-gc "$cache/bench.mjs" --data "$work/data" --sites "$work/sites.txt" \
  --out "$work/out" "$@"
