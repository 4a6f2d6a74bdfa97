#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# package_test.sh CPACK BUILD FILES: builds the Debian package from the build folder and
# checks it as Debian would: lintian finds no error and no warning, the metainfo and the
# desktop entry it installs validate, the MIME package is accepted, the desktop program's
# run path leads to the Italian module, and it holds exactly the files listed in FILES.
# Exits 77 (skipped) when a tool is missing, unless VOKTA_REQUIRE_TOOLS=1.
set -u
cpack=$1 build=$2 expected=$3

missing=""
for tool in lintian appstreamcli desktop-file-validate dpkg-deb dpkg-shlibdeps update-mime-database readelf; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    if [ "${VOKTA_REQUIRE_TOOLS:-}" = 1 ]; then
        echo "missing tools:$missing (VOKTA_REQUIRE_TOOLS=1)" >&2
        exit 1
    fi
    echo "skipped, missing tools:$missing"
    exit 77
fi

work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAILED: $*" >&2
    failed=1
}

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAILED: cpack -G DEB" >&2
    exit 1
fi
deb=$(ls "$work"/*.deb)
echo "package: $deb, $(wc -c <"$deb") bytes"

lintian --fail-on error,warning --tag-display-limit 0 "$deb" || fail "lintian"

root=$work/root
dpkg-deb -x "$deb" "$root"
for metainfo in "$root"/usr/share/metainfo/*.metainfo.xml; do
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $metainfo"
done
for entry in "$root"/usr/share/applications/*.desktop; do
    report=$(desktop-file-validate "$entry" 2>&1)
    [ -z "$report" ] || fail "desktop-file-validate $entry: $report"
done

# The MIME package among the desktop's own: ".dim" files are ours before the general type's.
mime=$work/mime
mkdir -p "$mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$root"/usr/share/mime/packages/vokta.xml "$mime/packages/"
update-mime-database "$mime" >/dev/null 2>&1 || fail "update-mime-database"
for glob in 60:application/x-vokta-dim:\*.dim 50:application/x-raw-disk-image:\*.dim \
            50:application/x-raw-disk-image:\*.ima 50:application/x-raw-disk-image:\*.vfd \
            50:application/x-raw-disk-image:\*.flp; do
    grep -qxF "$glob" "$mime/globs2" || fail "the MIME database has no $glob"
done

# The desktop program finds the Italian module by name through its run path.
runpath=$(readelf -d "$root/usr/bin/vokta" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
module=$(echo "$runpath" | sed "s|\\\$ORIGIN|$root/usr/bin|")/libvoktaita.so
[ -f "$module" ] || fail "the program's run path '$runpath' does not lead to libvoktaita.so"

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort >"$work/files.txt"
if ! sort "$expected" | diff -u - "$work/files.txt"; then
    fail "the package's files differ from $expected (- listed only, + packaged only)"
fi
exit $failed
