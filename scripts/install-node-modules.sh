#!/usr/bin/env bash
# Installs the npm packages pinned in package-lock.json into node_modules/: the share page's
# bundled HMAC (taken into the share service at build time) and the browser test harness.
# Idempotent and quick when nothing changed: it remembers the lockfile it installed from. The
# build's configure step runs it too.
set -euo pipefail
cd "$(dirname "$0")/.."
stamp=node_modules/.vyo-lock.sha256
wanted=$(sha256sum package-lock.json | cut -d' ' -f1)
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ] && [ -f node_modules/@noble/hashes/hmac.js ]; then
  exit 0
fi
if ! command -v npm >/dev/null 2>&1; then
  echo "install-node-modules: npm is missing; run scripts/install-deps.sh first" >&2
  exit 1
fi
echo "install-node-modules: npm ci"
npm ci --no-audit --no-fund --ignore-scripts --loglevel=error
echo "$wanted" > "$stamp"
