#!/usr/bin/env bash
# The Debian package as a user gets it, unpacked into a root of its own (dpkg -x, no system
# change): every file in its place, the version the same everywhere, the library's SONAME, the man
# pages readable with the exit statuses, the installed kvx-convert passing the conversion's
# tests, and a whole download by the installed kvx-transfer from the installed kvx-emulator.
# Usage: deb_package_test.sh KVX_TOOLS_DEB
set -uo pipefail
cd "$(dirname "$0")/.."
deb=$1
work=$(mktemp -d "$PWD/build/deb-package-test.XXXXXX")
source scripts/lib/harness.sh
cleanup() {
  stop_emulator
  rm -rf "$work"
}
trap cleanup EXIT
source tests/shell_checks.sh

root=$work/root
dpkg-deb -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)
libdir=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)
export LD_LIBRARY_PATH=$libdir

for file in usr/bin/kvx-transfer usr/bin/kvx-convert usr/bin/kvx-chart usr/bin/kvx-emulator \
  usr/bin/tarvo-link usr/include/tarvo.h usr/share/doc/kvx-tools/copyright \
  usr/share/doc/kvx-tools/changelog.gz usr/share/man/man1/kvx-transfer.1.gz \
  usr/share/man/man1/kvx-convert.1.gz usr/share/man/man1/kvx-chart.1.gz \
  usr/share/man/man1/kvx-emulator.1.gz usr/share/man/man1/tarvo-link.1.gz \
  usr/lib/udev/rules.d/70-tarvo.rules etc/tarvo/usb-ids \
  usr/share/locale/ja/LC_MESSAGES/kvx-tools.mo; do
  check "/$file is in the package" [ -e "$root/$file" ]
done
check "libtarvo.so.1 is the library's SONAME, and both links lead to it" \
  bash -c "readelf -d '$libdir/libtarvo.so.1' | grep -q 'SONAME.*\[libtarvo.so.1\]' &&
           [ -f \"\$(readlink -f '$libdir/libtarvo.so')\" ]"
check "no installed program looks for libraries in a build folder (no RUNPATH)" \
  bash -c "! readelf -d '$root'/usr/bin/* '$libdir/libtarvo.so.1' | grep -q 'R.*PATH'"
check "the package declares what it needs (libc6, libstdc++6) and the library it gives" \
  bash -c "dpkg-deb -f '$deb' Depends | grep -q libstdc++6 &&
           dpkg-deb --ctrl-tarfile '$deb' | tar -xO ./shlibs | grep -q '^libtarvo 1 kvx-tools'"
check "/etc/tarvo/usb-ids is a conffile, naming no id until the user does" \
  bash -c "dpkg-deb --ctrl-tarfile '$deb' | tar -xO ./conffiles | grep -qx /etc/tarvo/usb-ids &&
           ! grep -v '^#' '$root/etc/tarvo/usb-ids' | grep -q ."
# The udev rule's question, asked of the installed tarvo-link as udev asks it.
rule_program=$(sed -n 's/.*PROGRAM="\([^"]*\)".*/\1/p' "$root/usr/lib/udev/rules.d/70-tarvo.rules")
named_status() {  # IDS ID: the installed tarvo-link's answer for ID when IDS are named
  local command=${rule_program/\/usr\/bin/$root/usr/bin}
  TARVO_USB_IDS=$1 ${command//\$attr\{idVendor\}:\$attr\{idProduct\}/$2} >/dev/null 2>&1
  echo $?
}
check "the udev rule asks the installed tarvo-link, which says yes to a named id and no otherwise" \
  [ "$(named_status 1234:0300 1234:0300)/$(named_status 1234:0300 1234:0301)" = 0/1 ]
for tool in kvx-transfer kvx-convert kvx-chart kvx-emulator tarvo-link; do
  check "$tool --version says the package's version, $version" \
    [ "$("$root/usr/bin/$tool" --version)" = "$tool $version" ]
done

# The man pages, as man shows them.
page() { MANWIDTH=100 LC_ALL=C.UTF-8 man -l "$root/usr/share/man/man1/$1.1.gz" 2>/dev/null; }
page kvx-transfer >"$work/kvx-transfer.txt"
check "man kvx-transfer: its name, synopsis and version" \
  bash -c "grep -q 'kvx-transfer - download' '$work/kvx-transfer.txt' &&
           grep -q 'SYNOPSIS' '$work/kvx-transfer.txt' &&
           grep -q 'kvx-transfer $version' '$work/kvx-transfer.txt'"
check "man kvx-transfer lists every exit status, with the program's messages in Japanese" \
  bash -c "grep -q 'Exit status' '$work/kvx-transfer.txt' &&
           for status in 0 2 3 4 5 6 7 8 9 10 11 '128\\+N' 1; do
             grep -qE \"^ +\$status +[a-z]\" '$work/kvx-transfer.txt' || exit 1
           done && grep -q '終了しました' '$work/kvx-transfer.txt'"
for tool in kvx-transfer kvx-convert kvx-chart kvx-emulator tarvo-link; do
  page $tool >"$work/$tool.txt"
  check "man $tool: its name, what it does, its environment, examples, pages to see also" \
    bash -c "grep -q '$tool - ' '$work/$tool.txt' &&
             [ \"\$(grep -xE 'DESCRIPTION|ENVIRONMENT|EXAMPLES|SEE ALSO' '$work/$tool.txt' |
                    tr '\\n' '/')\" = 'DESCRIPTION/ENVIRONMENT/EXAMPLES/SEE ALSO/' ]"
done

# The installed kvx-convert against the conversion's own tests: the worked examples byte for
# byte, the messages and the exit statuses.
echo "-- the conversion's tests, run on the installed kvx-convert"
bash tests/kvx_convert_test.sh "$root/usr/bin/kvx-convert" tests/data | sed 's/^/     /'
check "the installed kvx-convert passes the conversion's tests" [ "${PIPESTATUS[0]}" = 0 ]

# A whole download with the installed tools: the emulator with the kind-2 example capture, two
# data blocks at the protocol's own pace.
export TARVO_DEVICE_ROOT=$work/devices
start_emulator "$TARVO_DEVICE_ROOT" "$root/usr/bin/kvx-emulator" --kind 2 \
  --capture examples/kind2-capture.txt >/dev/null 2>&1
mkdir -p "$work/download"
"$root/usr/bin/kvx-transfer" --folder "$work/download" --time absolute >"$work/transfer.out" 2>&1
check "the installed kvx-transfer downloads from the installed kvx-emulator (exit status 0)" \
  [ $? = 0 ]
check "the download's CSV files are written (QM-0001.csv onwards)" \
  [ -s "$work/download/QM-DATA/QM-0001.csv" ]
"$root/usr/bin/kvx-chart" "$work/download/QM-DATA/QM-0001.csv" >/dev/null 2>&1
check "the installed kvx-chart draws the first of them" \
  bash -c "[ $? = 0 ] && grep -q '<svg' '$work/download/QM-DATA/QM-0001.svg'"

# Under a Japanese locale the installed tools find their catalogue in /usr/share/locale.
mkdir -p "$work/locales"
localedef -i ja_JP -f UTF-8 "$work/locales/ja_JP.UTF-8" >/dev/null 2>&1
LOCPATH=$work/locales LC_ALL=ja_JP.UTF-8 LANGUAGE= "$root/usr/bin/kvx-convert" --kind 3 >"$work/usage" 2>&1
check "the installed kvx-convert speaks Japanese under ja_JP.UTF-8" \
  [ "$(tail -1 "$work/usage")" = "詳しくは 'kvx-convert --help' を実行してください。" ]

[ $failures -eq 0 ]
