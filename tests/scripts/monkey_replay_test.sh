#!/usr/bin/env bash
# The random user's events come from its seed alone: one seed replays the same events, another differs.
set -euo pipefail
monkey=$1
plan() { QV_MONKEY_PLAN=50 "$monkey" 1 "$1"; }
first=$(plan 7)
[ "$(printf '%s\n' "$first" | wc -l)" -eq 50 ] || { echo "expected 50 events:"; echo "$first"; exit 1; }
[ "$first" = "$(plan 7)" ] || { echo "seed 7 made other events on its second run"; exit 1; }
[ "$first" != "$(plan 8)" ] || { echo "seeds 7 and 8 made the same events"; exit 1; }
echo "monkey replay: passed"
