#!/bin/bash
# Renders every man page of a build with groff and man, failing on any warning.
#   scripts/check-man.sh BUILD_DIR
set -euo pipefail
pages=("$1"/man/*.[0-9])
((${#pages[@]})) && [[ -f ${pages[0]} ]] || { echo "check-man: no man pages in $1/man" >&2; exit 1; }
status=0
for page in "${pages[@]}"; do
    warnings=$( { groff -ww -z -man "$page"; MANWIDTH=80 man --warnings -l "$page" >/dev/null; } 2>&1)
    if [[ -n $warnings ]]; then
        echo "check-man: $page:" >&2
        echo "$warnings" >&2
        status=1
    fi
done
((status == 0)) && echo "check-man: ${#pages[@]} pages render without warnings"
exit $status
