#!/bin/sh
# Runs the Node client test; skipped (77) only where node itself is missing.
# Usage: run.sh <orvane executable>
command -v node >/dev/null 2>&1 || { echo "node is not installed: skipped"; exit 77; }
exec node "$(dirname "$0")/node_client_test.js" "$@"
