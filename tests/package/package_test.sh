#!/usr/bin/env bash
# The Debian package as a user gets it: scripts/package builds it from this
# build tree, it is unpacked into a scratch folder (dpkg-deb -x), and the
# unpacked tickora-setup-cli prints the project's version and builds a
# database from a small simulated market over https. lintian must report
# no errors.
#
#   package_test.sh SOURCE_DIR BUILD_DIR VERSION MARKET_SIM
set -euo pipefail
top=$1 build=$2 version=$3 sim=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/tickora-package-test.XXXXXX")
sim_pid=
cleanup() {
  if [[ -n "$sim_pid" ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

deb=$(BUILD_DIR=$build "$top/scripts/package" "$work/out" | tail -n 1)
[[ "$(basename "$deb")" == "tickora-setup_${version}_amd64.deb" ]] || fail "package named $deb"

# Depends comes from the programs' libraries, not from a hand-written list.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libcurl4 libsqlite3-0; do
  [[ "$depends" == *"$library "* ]] || fail "Depends lacks $library: $depends"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
for file in usr/bin/tickora-setup usr/bin/tickora-setup-cli \
    usr/share/applications/tickora-setup.desktop \
    usr/share/icons/hicolor/128x128/apps/tickora-setup.png \
    usr/share/man/man1/tickora-setup-cli.1.gz; do
  [[ -f "$root/$file" ]] || fail "the package lacks $file"
done
# The simulated market is a development tool, never installed by the package.
[[ -z "$(find "$root" -name 'market-sim*')" ]] || fail "the package holds market-sim"

cli=$root/usr/bin/tickora-setup-cli
[[ "$("$cli" --version)" == "tickora-setup-cli $version" ]] || fail "--version: $("$cli" --version)"

# A whole run of the unpacked program: every kind of issue with margin
# balances from last year, 24 issues, the https sites over TLS.
year=$(( $(date +%Y) - 1 ))
"$sim" --issues 24 --first-year "$year" --https --cert-dir "$work/certs" \
  --env-file "$work/sim.env" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [[ -s "$work/sim.env" ]] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log" >&2; fail "market-sim stopped"; }
  sleep 0.1
done
[[ -s "$work/sim.env" ]] || fail "market-sim did not start"
(
  # shellcheck disable=SC1091
  . "$work/sim.env"
  export XDG_CONFIG_HOME=$work/config
  "$cli" --from-year "$year" --kinds etf,reit,prime,standard,growth,other --margin \
    --quiet "$work/db"
) || fail "the run against the simulated market exited with $?"
[[ -f "$work/db/stock.mdb" ]] || fail "the run left no stock.mdb"
charts=$(find "$work/db/daily" -name '*.dat' | wc -l)
(( charts > 0 )) || fail "the run wrote no chart file"

# lintian exits non-zero on an error; warnings and notes are shown only.
status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$report" || true
(( status == 0 )) || fail "lintian reports errors"
echo "package test: $(basename "$deb"), $charts chart files"
