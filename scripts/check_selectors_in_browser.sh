#!/usr/bin/env bash
# Compares the selectors "quibex lint" says a browser rejects with what a
# real browser (Debian's headless chromium) says, over every distinct
# selector of the element-hiding rules of the given lists (by default the
# shared lists in ../shared/data). Not part of the test command: it needs
# chromium and takes a few seconds.
#
#   scripts/check_selectors_in_browser.sh [--quibex PATH] [LIST...]
#
# A selector counts as rejected by the browser when document.querySelector
# throws on it, or when a style rule written with it ("SELECTOR{}") does not
# come out as one rule (unbalanced brackets or quotes swallow what follows
# them in the host's style rule). Prints the counts and every disagreement;
# exits 0 when there is none, 1 when there is one, 2 on trouble.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
quibex=$root/build/gcc/tools/quibex
if [ "${1:-}" = "--quibex" ]; then
  quibex=$2
  shift 2
fi
lists=("$@")
if [ ${#lists[@]} -eq 0 ]; then
  lists=("$root/../shared/data/easylist.txt" "$root/../shared/data/easyprivacy.txt")
fi
browser=$(command -v chromium || true)
[ -n "$browser" ] || { echo "needs chromium (apt-get install chromium)" >&2; exit 2; }
[ -x "$quibex" ] || { echo "no quibex at $quibex (build it, or give --quibex)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$quibex" lint --json "${lists[@]}" > "$work/lint.jsonl"

# The distinct selectors of the rules the engine files, and lint's verdict
# on each; then a page that asks the browser about every one.
python3 - "$work" "${lists[@]}" <<'PY'
import json, sys
work, lists = sys.argv[1], sys.argv[2:]
selectors = set()
for path in lists:
    with open(path, 'rb') as f:
        for raw in f.read().split(b'\n'):
            line = raw[:-1] if raw.endswith(b'\r') else raw
            line = line.split(b'\0', 1)[0]
            at = line.find(b'##')
            if line.startswith(b'!') or at <= 0:
                continue
            selectors.add(line[at + 2:].decode('utf-8', 'replace'))
rejected = {}
for record in open(f'{work}/lint.jsonl', encoding='utf-8'):
    for finding in json.loads(record)['findings']:
        if 'rejectedSelector' in finding:
            rule = finding['rule']
            rejected[rule[rule.find('##') + 2:]] = finding['rejectedSelector']
ordered = sorted(selectors)
json.dump({'selectors': ordered, 'rejected': rejected},
          open(f'{work}/verdicts.json', 'w'))
page = '''<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<pre id="out"></pre><script>
const selectors = %s;
const bad = [];
for (let i = 0; i < selectors.length; i++) {
  const s = selectors[i];
  let ok = true;
  try { document.querySelector(s); } catch (e) { ok = false; }
  if (ok) {
    const sheet = new CSSStyleSheet();
    try { sheet.replaceSync(s + '{}'); } catch (e) {}
    if (sheet.cssRules.length !== 1) ok = false;
  }
  if (!ok) bad.push(i);
}
document.getElementById('out').textContent = 'RESULT ' + JSON.stringify(bad) + ' END';
</script></body></html>''' % json.dumps(ordered).replace('</', '<\\/')
open(f'{work}/page.html', 'w', encoding='utf-8').write(page)
PY

"$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --dump-dom "file://$work/page.html" \
  > "$work/dom.html" 2> "$work/browser.log" || true

python3 - "$work" <<'PY'
import html, json, re, sys
work = sys.argv[1]
verdicts = json.load(open(f'{work}/verdicts.json'))
dom = open(f'{work}/dom.html', encoding='utf-8', errors='replace').read()
found = re.search(r'RESULT (.*?) END', html.unescape(dom), re.S)
if not found:
    print('the browser gave no answer; see its log:', file=sys.stderr)
    print(open(f'{work}/browser.log').read()[-2000:], file=sys.stderr)
    sys.exit(2)
selectors = verdicts['selectors']
browser = {selectors[i] for i in json.loads(found.group(1))}
lint = set(verdicts['rejected'])
only_browser = sorted(browser - lint)
only_lint = sorted(lint - browser)
print(f'distinct selectors: {len(selectors)}')
print(f'rejected by the browser: {len(browser)}')
print(f'rejected by lint: {len(lint)}')
print(f'rejected by the browser only: {len(only_browser)}')
for s in only_browser:
    print(f'  browser only: {s!r}')
print(f'rejected by lint only: {len(only_lint)}')
for s in only_lint:
    print(f'  lint only: {s!r} ({verdicts["rejected"][s]})')
sys.exit(1 if only_browser or only_lint else 0)
PY
