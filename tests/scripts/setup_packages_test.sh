#!/usr/bin/env bash
# The package check of scripts/setup on a machine where dpkg-query has never
# heard of one of the packages (it then exits 1, as it does for a package that
# was never installed): setup must go on and count that package as missing,
# and only that one.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
stub=$(mktemp -d)
trap 'rm -rf "$stub"' EXIT

# Every package installed but the unknown one, which makes dpkg-query say so
# on stderr and exit 1 after printing the others.
cat >"$stub/dpkg-query" <<'STUB'
#!/usr/bin/env bash
status=0
for package in "$@"; do
    case $package in
    -*) ;;
    "$UNKNOWN") echo "dpkg-query: no packages found matching $package" >&2; status=1 ;;
    *) echo "ii |$package" ;;
    esac
done
exit $status
STUB
chmod +x "$stub/dpkg-query"

fail() { echo "setup package check: FAILED: $*" >&2; exit 1; }
for unknown in cmake qemu-user ca-certificates; do
    missing=$(UNKNOWN=$unknown PATH="$stub:$PATH" "$root/scripts/setup" --missing) ||
        fail "setup stopped when dpkg-query did not know $unknown"
    [ "$missing" = "$unknown" ] || fail "with $unknown unknown, setup found missing: '${missing//$'\n'/ }'"
done
# A dpkg-query that knows everything: nothing is missing.
missing=$(UNKNOWN=none PATH="$stub:$PATH" "$root/scripts/setup" --missing) || fail "setup stopped with every package known"
[ -z "$missing" ] || fail "with every package installed, setup found missing: $missing"
echo "setup package check: 4 passed, 0 failed"
