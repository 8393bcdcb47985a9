#!/usr/bin/env bash
# The install check: a release build of the installed programs, `cmake --install` into a scratch
# root, exactly the expected files there, the desktop entry, metainfo and manual pages
# validated, then a Debian package made and inspected. Brings up a bare Debian 12 machine.
#   scripts/check-install.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-install
id=io.github.tarnflow.Tarnflow
programs=(tarnflow tarnflow-cli tarnflow-phonesim tarnflow-sample-images)

fail() {
    echo "check-install: $*" >&2
    exit 1
}

scripts/install-deps.sh --packaging
# Tests are not installed, so not built; the install goes without building everything first.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DTARNFLOW_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$build" -j2 --target "${programs[@]}" tarnflow_man_pages

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root/stage" cmake --install "$build" --prefix /usr >/dev/null

# Every file the package holds, and nothing else (no tests, benchmarks or static libraries).
expected=(
    usr/lib/udev/rules.d/60-tarnflow.rules
    usr/share/applications/$id.desktop
    usr/share/icons/hicolor/128x128/apps/$id.png
    usr/share/icons/hicolor/256x256/apps/$id.png
    usr/share/icons/hicolor/48x48/apps/$id.png
    usr/share/icons/hicolor/scalable/apps/$id.svg
    usr/share/metainfo/$id.metainfo.xml
)
for program in "${programs[@]}"; do
    expected+=("usr/bin/$program" "usr/share/man/man1/$program.1.gz")
done
diff -u <(printf '%s\n' "${expected[@]}" | sort) \
    <(cd "$root/stage" && find . -type f -printf '%P\n' | sort) ||
    fail "installed files differ from the expected list (- expected, + installed)"

stage="$root/stage/usr"
for program in "${programs[@]}"; do
    [ -x "$stage/bin/$program" ] || fail "$program is not executable"
done
QT_QPA_PLATFORM=offscreen "$stage/bin/tarnflow" --version | grep -qx 'tarnflow [0-9.]*' ||
    fail "the installed window program does not run"
"$stage/bin/tarnflow-cli" --version | grep -qx 'tarnflow-cli [0-9.]*' ||
    fail "the installed tarnflow-cli does not run"

desktop="$stage/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop entry not valid"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's Icon= is not $id"

# Infos (pedantic hints) may remain; errors and warnings may not.
report=$(appstreamcli validate --no-net "$stage/share/metainfo/$id.metainfo.xml") ||
    fail "metainfo not valid: $report"
if grep -E '^[EW]:' <<<"$report"; then
    fail "metainfo has errors or warnings"
fi

for page in "$stage"/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
done

rm -f "$build"/tarnflow_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/tarnflow_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single tarnflow .deb"
deb=${debs[0]}

contents=$(dpkg-deb --contents "$deb")
for path in "${programs[@]/#/./usr/bin/}" ./usr/lib/udev/rules.d/60-tarnflow.rules; do
    grep -q " $path\$" <<<"$contents" || fail "$deb lacks $path"
done
depends=$(dpkg-deb --field "$deb" Depends)
grep -q 'libc6' <<<"$depends" || fail "the Depends field was not filled by dpkg-shlibdeps"
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks Qt 6 Widgets: $depends"
dpkg-deb --control "$deb" "$root/control"
for script in postinst postrm; do
    [ -x "$root/control/$script" ] || fail "$script missing or not executable"
done

echo "check-install: $deb"
dpkg-deb --info "$deb"
