#!/usr/bin/env bash
# multibuf.exe carries its version information and its application manifest,
# once each, as Explorer and Windows' loader read them.
#   CheckResources.sh <multibuf.exe>
set -euo pipefail
exe="$1"
# The version strings are UTF-16, each name followed by its value.
versions="$(strings -el "$exe" | paste -sd '|')"
for pair in "ProductName|MultiBuf" "OriginalFilename|multibuf.exe" "InternalName|multibuf"; do
    count="$(grep -oF "|$pair|" <<<"|$versions|" | wc -l)"
    [ "$count" -eq 1 ] || { echo "FAILED: version entry '$pair' found $count times"; exit 1; }
done
count="$(strings "$exe" | grep -c 'requestedExecutionLevel level="asInvoker"' || true)"
[ "$count" -eq 1 ] || { echo "FAILED: the manifest found $count times"; exit 1; }
echo "PASSED: version information and manifest in $exe"
