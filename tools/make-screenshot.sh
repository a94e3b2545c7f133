#!/usr/bin/env bash
# Makes docs/screenshot.png, the README's picture, from the demo: runs tools/demo.sh without
# a display (the real program under a private Xvfb against the demo catalog) and copies the
# screenshot it saves.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
env -u DISPLAY CI=true bash tools/demo.sh
mkdir -p docs
cp build/demo/screenshot.png docs/screenshot.png
echo "docs/screenshot.png updated"
