#!/usr/bin/env bash
# test-package.sh DIR: packs the Corvane built in DIR as a Debian package and checks it: what
# it holds and depends on, that both validators pass on its desktop entry and AppStream data,
# that its manual page is there, and that its program, unpacked into a temporary root, opens
# its window offscreen and runs its command line with no display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "package check: $*" >&2
    exit 1
}
deb=$("$root/scripts/package.sh" "$1" 2>"$work/pack.log" | tail -n 1) ||
    fail "packing failed: $(cat "$work/pack.log")"

app=example.quillon.Corvane
expected=(usr/bin/corvane "usr/share/applications/$app.desktop"
    "usr/share/metainfo/$app.metainfo.xml" usr/share/icons/hicolor/scalable/apps/corvane.svg
    usr/share/man/man1/corvane.1.gz)
for size in 16 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/corvane.png")
done
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort >"$work/files"
printf '%s\n' "${expected[@]}" | sort | diff -u - "$work/files" || fail "unexpected file list"

[[ $(dpkg-deb -f "$deb" Package) == corvane ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Section) == web ]] || fail "section"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6network6 qt6-wayland libssl3; do
    [[ $depends == *"$needed"* ]] || fail "no dependency on $needed: $depends"
done

dpkg-deb -x "$deb" "$work/root"
complaints=$(desktop-file-validate "$work/root/usr/share/applications/$app.desktop") &&
    [[ -z $complaints ]] || fail "desktop entry: $complaints"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$app.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$work/root/usr/share/metainfo/$app.metainfo.xml"
version=$(dpkg-deb -f "$deb" Version)
grep -q "<release version=\"$version\"" "$work/root/usr/share/metainfo/$app.metainfo.xml" ||
    fail "the AppStream data has no release $version"
for size in 16 24 32 48 64 128 256; do
    file "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/corvane.png" |
        grep -q "PNG image data, $size x $size," || fail "icon of $size pixels"
done

zcat "$work/root/usr/share/man/man1/corvane.1.gz" >"$work/corvane.1" ||
    fail "the manual page is not gzipped"
grep -q '^\.TH CORVANE 1 ' "$work/corvane.1" || fail "the manual page has no title line"
version_line=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$work/root/usr/bin/corvane" --version) || fail "--version failed without a display"
[[ $version_line == "corvane $version" ]] || fail "--version says: $version_line"

# Once the window is shown, Qt hands it to the accessibility layer, under its title and at its
# full size; its debug log says so.
QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.accessibility.cache.debug=true' \
    "$work/root/usr/bin/corvane" >"$work/log" 2>&1 &
pid=$!
shown='name="Corvane" role=Client .*obj=frmCrawler.*992x586'
for _ in $(seq 300); do
    if grep -q "$shown" "$work/log" || ! kill -0 "$pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
kill "$pid" 2>/dev/null || fail "the program ended by itself: $(cat "$work/log")"
wait "$pid" || true
grep -q "$shown" "$work/log" || fail "the program opened no window"
echo "package check passed: $deb"
