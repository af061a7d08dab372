#!/bin/sh
# Packs the built tree, unpacks the .deb, checks its files and programs: package_check.sh CPACK BUILD_DIR
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
"$1" -G DEB --config "$2/CPackConfig.cmake" -B "$tmp/out" >"$tmp/log" 2>&1 || { cat "$tmp/log"; fail cpack; }
deb=$(ls "$tmp"/out/dosemanager_*_amd64.deb) || fail "no package"
dpkg-deb -x "$deb" "$tmp/root"
r="$tmp/root/usr"
for f in bin/dosemanager bin/dosectl bin/dosemanager-simulator share/applications/dosemanager.desktop \
         share/icons/hicolor/48x48/apps/dosemanager.png share/icons/hicolor/128x128/apps/dosemanager.png \
         share/icons/hicolor/scalable/apps/dosemanager.svg share/metainfo/dosemanager.metainfo.xml \
         share/man/man1/dosectl.1.gz share/man/man1/dosemanager.1.gz \
         share/doc/dosemanager/README.md share/doc/dosemanager/copyright; do
  [ -s "$r/$f" ] || fail "not in the package: /usr/$f"
done
for d in libqt5widgets5 libqt5sql5-sqlite libqt5sql5-psql fonts-wqy-zenhei qttranslations5-l10n libfreexl1 libzip4; do
  dpkg-deb -f "$deb" Depends | grep -q "$d" || fail "Depends lacks $d"
done
# The licence: the copyright file in the machine-readable format, pointing at
# Debian's copy of the text, and the same licence in the AppStream metadata.
grep -q "^License: GPL-3.0-or-later" "$r/share/doc/dosemanager/copyright" \
  && grep -q "/usr/share/common-licenses/GPL-3" "$r/share/doc/dosemanager/copyright" || fail "copyright: not GPL-3.0-or-later"
grep -q "<project_license>GPL-3.0-or-later</project_license>" "$r/share/metainfo/dosemanager.metainfo.xml" \
  || fail "metainfo: project_license"
version=$(dpkg-deb -f "$deb" Version)
[ "$("$r/bin/dosectl" --version)" = "dosectl $version" ] || fail "dosectl --version"
[ "$("$r/bin/dosemanager" --version)" = "dosemanager $version" ] || fail "dosemanager --version"
"$r/bin/dosemanager" --help | grep -q -- "--data-dir" || fail "dosemanager --help"
"$r/bin/dosemanager" --no-such-option 2>"$tmp/err"
[ $? = 2 ] && grep -q -- "--data-dir" "$tmp/err" || fail "dosemanager: an unknown option"
"$r/bin/dosectl" --data-dir "$deb" status 2>/dev/null
[ $? = 1 ] || fail "dosectl --data-dir naming a file"
# The validators and lintian, where installed: errors fail, warnings are shown.
validate() {
  command -v "$1" >/dev/null || return 0
  "$@" 2>&1 | tee "$tmp/log"
  ! grep -Eq "^E:|: error:" "$tmp/log" || fail "$1"
}
validate desktop-file-validate "$r/share/applications/dosemanager.desktop"
validate appstreamcli validate --no-net "$r/share/metainfo/dosemanager.metainfo.xml"
validate lintian "$deb"
