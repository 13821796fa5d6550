#!/usr/bin/env bash
# Tests the Windows release of tools/windows-release under Wine, each in a
# fresh Wine prefix: the installer silently with and without "Sealing" (the
# latter with the PATH entry, under a PATH of over 2,000 characters), the
# installed corvane.exe (a round trip; a sealing round trip with the
# plug-in), and the uninstaller, after which no file of ours, no PATH entry
# and no uninstall key is left and the PATH is as it was. Then the zip:
# unzipped and run as it is, nothing is sealed.
set -euo pipefail
cd "$(dirname "$0")/../.."

release=$PWD/build/windows/release
version=$(sed -n 's/^project(corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
setup=$release/corvane-$version-win64-setup.exe
zip=$release/corvane-$version-win64.zip
work=$PWD/build/windows/release-test
wine=${CORVANE_WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
server=${CORVANE_WINESERVER:-$(command -v wineserver64 || echo /usr/lib/wine/wineserver64)}
export WINEDEBUG=-all
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
expect_same() { [ "$2" = "$3" ] || fail "$1: expected [$3], got [$2]"; }

start_prefix() {
  export WINEPREFIX=$work/$1
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$server" -p </dev/null >/dev/null 2>&1
  "$wine" wineboot.exe </dev/null >/dev/null 2>&1 || true
}
stop_prefix() { "$server" -k 2>/dev/null || true; }
trap stop_prefix EXIT

run() { "$wine" "$@" </dev/null; }
user_path() {
  run reg.exe query 'HKCU\Environment' /v Path 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *Path *REG_[A-Z_]* *//p'
}
uninstall_key() { run reg.exe query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane' >/dev/null 2>&1; }

# Runs the installed (or unzipped) program in a fresh folder of the prefix.
corvane() {
  local program=$1
  shift
  (cd "$sandbox" && "$wine" "$program" "$@" </dev/null)
}

round_trip() {
  local program=$1
  sandbox=$(mktemp -d "$WINEPREFIX/drive_c/run.XXXXXX")
  printf 'Windows users get Corvane, é 日本.\n%.0s' {1..200} >"$sandbox/notes é.txt"
  cp "$sandbox/notes é.txt" "$sandbox/original"
  corvane "$program" "notes é.txt" >/dev/null || fail "compressing with $program"
}

installed_files() { (cd "$WINEPREFIX/drive_c/Program Files/Corvane" 2>/dev/null && ls | tr '\n' ' '); }

check_uninstall() {
  local folder='C:\Program Files\Corvane'
  # "_?=" must come last and unquoted, as Wine quotes a word with blanks.
  local words
  read -ra words <<<"_?=$folder"
  run "$folder\\uninstall.exe" /S "${words[@]}" || fail "uninstaller failed"
  expect_same "left after uninstalling" "$(installed_files)" "uninstall.exe "
  rm "$WINEPREFIX/drive_c/Program Files/Corvane/uninstall.exe"
  rmdir "$WINEPREFIX/drive_c/Program Files/Corvane" || fail "installation folder not empty"
  ! uninstall_key || fail "uninstall key left"
}

# The zip's files; its texts have Windows line ends.
files=$(cmake -E tar tf "$zip" | grep -v '/$' | sed "s|^corvane-$version-win64/||" | sort | tr '\n' ' ')
expect_same "zip" "$files" "LICENSE.txt README.txt corvane.exe corvane.html sdk/bin/corvane-1.dll sdk/include/corvane.h sdk/lib/libcorvane.dll.a sealer/README.txt sealer/plugin.dll "
unzipped=$work/unzipped
rm -rf "$unzipped" && mkdir -p "$unzipped"
(cd "$unzipped" && cmake -E tar xf "$zip")
for text in README.txt LICENSE.txt sealer/README.txt; do
  [ "$(grep -c $'\r$' "$unzipped/corvane-$version-win64/$text")" = "$(wc -l <"$unzipped/corvane-$version-win64/$text")" ] ||
    fail "$text has lines without CRLF"
done

# Without sealing, with the PATH entry, under a long PATH.
start_prefix plain
long_path=$(printf 'C:\\Tools\\folder-%04d;' {1..130})
long_path=${long_path%;}
[ ${#long_path} -gt 2000 ] || fail "test PATH too short"
run reg.exe add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "$long_path" /f >/dev/null
run "$setup" /S /PATH || fail "silent install"
expect_same "installed" "$(installed_files)" "LICENSE.txt README.txt corvane-path.exe corvane.exe corvane.html uninstall.exe "
expect_same "PATH with the entry" "$(user_path)" "$long_path;C:\\Program Files\\Corvane"
uninstall_key || fail "no uninstall key"
round_trip 'C:\Program Files\Corvane\corvane.exe'
rm "$sandbox/notes é.txt"
corvane 'C:\Program Files\Corvane\corvane.exe' "notes é.txt.lx" >/dev/null || fail "extracting"
cmp -s "$sandbox/notes é.txt" "$sandbox/original" || fail "round trip differs"
check_uninstall
expect_same "PATH after uninstalling" "$(user_path)" "$long_path"
stop_prefix

# With sealing, without the PATH entry.
start_prefix sealing
run "$setup" /S /SEALING || fail "silent install with sealing"
expect_same "installed" "$(installed_files)" "LICENSE.txt README.txt corvane.exe corvane.html plugin.dll uninstall.exe "
export CORVANE_PASSPHRASE="correct horse"
round_trip 'C:\Program Files\Corvane\corvane.exe'
expect_same "sealed" "$(cd "$sandbox" && ls | tr '\n' ' ')" "notes é.proto notes é.txt original "
rm "$sandbox/notes é.txt"
corvane 'C:\Program Files\Corvane\corvane.exe' "notes é.proto" >/dev/null || fail "unsealing"
cmp -s "$sandbox/notes é.proto.txt" "$sandbox/original" || fail "sealing round trip differs"
unset CORVANE_PASSPHRASE
check_uninstall
expect_same "PATH untouched" "$(user_path)" ""

# The zip, unzipped and run as it is: nothing is sealed.
round_trip "$unzipped/corvane-$version-win64/corvane.exe"
expect_same "not sealed" "$(cd "$sandbox" && ls | tr '\n' ' ')" "notes é.txt notes é.txt.lx original "
stop_prefix

if [ "$failures" -gt 0 ]; then
  echo "release tests: $failures failed" >&2
  exit 1
fi
echo "release tests: passed"
