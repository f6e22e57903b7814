#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package with scripts/package and checks it the way a user's
# system and Debian's tools would meet it, without installing it: lintian, its
# control data and file list, the hardening of the executable, the copyright file
# and the changelog, the desktop entry, the AppStream metadata, the icons, the
# manual page and the bash completion, that every shared library of the executable
# comes from an installed Debian package, and that the unpacked program runs.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${VARNO_PACKAGE_BUILD_DIR:-$root/build/package}

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/varno-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

deb=$(scripts/package 2> >(tee "$work/package.err" >&2) | tail -n1)
[ -f "$deb" ] || { echo "FAIL: scripts/package printed '$deb', which is no file" >&2; exit 1; }
case "$deb" in "$root"/dist/varno_*.deb) pass "package at $deb" ;; *) fail "package outside dist/: $deb" ;; esac
# The stand-in for CodexBar's tool, from the same release build (not packaged).
cmake --build "$build" --target fake-codexbar >/dev/null
fake_codexbar=$build/tools/fake-codexbar/fake-codexbar

version=$(sed -n 's/^project(Varno VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "FAIL: no project version in CMakeLists.txt" >&2; exit 1; }

# Built without a server address, as here, the script must say so.
grep -q 'warning: no server address given' "$work/package.err" ||
  fail "scripts/package did not warn about the missing server address"

# ---- lintian, as Debian's archive would run it ----
# No error and no warning; any informational or pedantic tag that stays must be
# one the README lists with its reason.
lintian --pedantic --display-info "$deb" >"$work/lintian" 2>"$work/lintian.err" || true
if grep -Eq '^[EW]: ' "$work/lintian"; then
  fail "lintian:"; grep -E '^[EW]: ' "$work/lintian" >&2
else
  pass "lintian --pedantic: no errors or warnings"
fi
while read -r tag; do
  grep -q "\`$tag\`" README.md || fail "lintian tag $tag is not listed in the README with its reason"
done < <(sed -n 's/^[IP]: varno[^:]*: \([a-z0-9-]*\).*/\1/p' "$work/lintian" | sort -u)

# ---- Control data ----
field() { dpkg-deb --field "$deb" "$1"; }
dpkg-deb --info "$deb" >"$work/info" || fail "dpkg-deb --info cannot read the package"
[ "$(field Package)" = varno ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version '$(field Version)' is not the project's $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture '$(field Architecture)'"
depends=$(field Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6keychain1 libqcoro6core0 \
    libicu72 zlib1g; do
  grep -Eq "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "no Maintainer or Description"
# `varno --headless` runs where no display server is installed: none may be pulled in.
for server in xserver-xorg-core xwayland xvfb weston; do
  grep -Eq "(^|, )$server( |,|$)" <<<"$depends, $(field Recommends)" &&
    fail "the package pulls in the display server $server"
done
pass "control: varno $version, Depends: $depends"

# ---- File list ----
dpkg-deb --contents "$deb" >"$work/contents"
awk '{print $NF}' "$work/contents" | sed 's#^\./#/#' | grep -v '/$' | sort >"$work/files"
expected=(
  /usr/bin/varno
  /usr/share/applications/varno.desktop
  /usr/share/metainfo/app.varno.Varno.metainfo.xml
  /usr/share/man/man1/varno.1.gz
  /usr/share/icons/hicolor/scalable/apps/varno.svg
  /usr/lib/systemd/user/varno.service
  /usr/share/doc/varno/copyright
  /usr/share/doc/varno/changelog.gz
  /usr/share/bash-completion/completions/varno
)
sizes=(16 22 24 32 48 64 128 256 512)
for s in "${sizes[@]}"; do expected+=("/usr/share/icons/hicolor/${s}x${s}/apps/varno.png"); done
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
if diff -u "$work/expected" "$work/files" >"$work/files.diff"; then
  pass "contents: exactly the ${#expected[@]} expected files"
else
  fail "contents differ from the expected list:"; cat "$work/files.diff" >&2
fi
if awk '$2 != "root/root" {bad = 1} END {exit !bad}' "$work/contents"; then
  fail "files not owned by root:"; awk '$2 != "root/root"' "$work/contents" >&2
fi
grep -q '^-rwxr-xr-x .*\./usr/bin/varno$' "$work/contents" || fail "/usr/bin/varno is not mode 0755"

# ---- Unpacked into a temporary root ----
dest=$work/root
dpkg-deb -x "$deb" "$dest"
apps=$dest/usr/share/applications
if desktop-file-validate "$apps/varno.desktop" >"$work/dfv" 2>&1 && [ ! -s "$work/dfv" ]; then
  pass "desktop-file-validate: no errors, warnings or hints"
else
  fail "desktop-file-validate:"; cat "$work/dfv" >&2
fi
grep -qx 'MimeType=x-scheme-handler/varno;' "$apps/varno.desktop" || fail "the entry does not declare varno:// links"
grep -qx 'Exec=varno %u' "$apps/varno.desktop" || fail "the entry does not run 'varno %u'"
grep -qx 'Icon=varno' "$apps/varno.desktop" || fail "the entry's icon is not 'varno'"
# Desktops skip an entry whose TryExec program is gone.
grep -qx 'TryExec=varno' "$apps/varno.desktop" || fail "the entry has no 'TryExec=varno'"
grep -qx 'X-GNOME-UsesNotifications=true' "$apps/varno.desktop" ||
  fail "the entry does not declare that Varno sends notifications"

unit=$dest/usr/lib/systemd/user/varno.service
grep -qx 'ExecStart=/usr/bin/varno --headless' "$unit" || fail "the unit does not run /usr/bin/varno --headless"
grep -qx 'Restart=on-failure' "$unit" && grep -qx 'RestartPreventExitStatus=77' "$unit" ||
  fail "the unit restarts after the signed-out exit, or not at all"
grep -qx 'WantedBy=default.target' "$unit" || fail "the unit cannot be enabled for the user"
if command -v systemd-analyze >/dev/null; then
  # Against the unpacked program, as the installed unit would run it; systemd reports
  # a bad setting and goes on, so anything it says is a failure.
  sed "s#^ExecStart=/usr/bin/varno#ExecStart=$dest/usr/bin/varno#" "$unit" >"$work/varno.service"
  mkdir -p "$work/unit-runtime" && chmod 700 "$work/unit-runtime"
  if ! XDG_RUNTIME_DIR=$work/unit-runtime systemd-analyze verify --man=no --user \
    "$work/varno.service" >"$work/unit.err" 2>&1 || [ -s "$work/unit.err" ]; then
    fail "systemd-analyze verify:"; cat "$work/unit.err" >&2
  fi
fi
pass "systemd user unit"

metainfo=$dest/usr/share/metainfo/app.varno.Varno.metainfo.xml
if appstreamcli validate --no-net "$metainfo" >"$work/asv" 2>&1; then
  pass "appstreamcli validate --no-net"
else
  fail "appstreamcli validate:"; cat "$work/asv" >&2
fi
# The newest release must be this version, so every version ships its notes.
newest=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n1)
[ "$newest" = "$version" ] || fail "newest release in the metadata is '$newest', not $version"
grep -q '<launchable type="desktop-id">varno.desktop</launchable>' "$metainfo" || fail "no launchable"
grep -q '<mediatype>x-scheme-handler/varno</mediatype>' "$metainfo" || fail "metadata does not provide varno://"
[ "$(grep -c '<image>https://' "$metainfo")" -eq 2 ] || fail "metadata lacks its two https screenshots"

# Each PNG is the size its folder names (width and height from the IHDR chunk).
for s in "${sizes[@]}"; do
  png=$dest/usr/share/icons/hicolor/${s}x${s}/apps/varno.png
  read -r w h < <(od -An -j16 -N8 -tu1 "$png" |
    awk '{print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8}')
  [ "$(head -c8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
  [ "$w" = "$s" ] && [ "$h" = "$s" ] || fail "${s}x${s} icon is ${w}x${h}"
done
pass "icons: ${sizes[*]} and scalable"

man=$dest/usr/share/man/man1/varno.1.gz
if gzip -t "$man" && zcat "$man" | grep -q "^\.TH VARNO 1 \"[0-9-]*\" \"Varno $version\"" &&
  MANWIDTH=80 man -l "$man" 2>"$work/man.err" | grep -q -- '--print-usage' && [ ! -s "$work/man.err" ]; then
  pass "manual page renders"
else
  fail "manual page:"; cat "$work/man.err" >&2
fi

# The manual page lists every option of the program, every settings key and every
# menu item.
MANWIDTH=200 man -l "$man" 2>/dev/null >"$work/man.txt"
help=$("$dest/usr/bin/varno" --help)
for option in $(grep -E '^  -' <<<"$help" | grep -oE -- '--[a-z][a-z-]*'); do
  grep -qF -- "$option" "$work/man.txt" || fail "the manual page lacks $option"
done
for key in $(sed -n 's/^inline const QString [a-zA-Z]*Key = QStringLiteral("\([a-zA-Z]*\)");/\1/p' \
  src/model/Settings.h); do
  grep -qw -- "$key" "$work/man.txt" || fail "the manual page lacks the settings key $key"
done
while read -r item; do
  grep -qF -- "$item" "$work/man.txt" || fail "the manual page lacks the menu item '$item'"
done < <(perl -0777 -ne 'print "$1\n" while /addAction\((?:[^;]*?,\s*)?QStringLiteral\("([^"]+)"\)/g' \
  src/app/MenuBarController.cpp src/ui/VarnoView.cpp | sed 's/\\u2026/…/' | sort -u)
grep -q 'serverURL' "$work/man.txt" || fail "the manual page does not name serverURL"

# ---- Copyright and changelog ----
doc=$dest/usr/share/doc/varno
# Machine-readable (DEP-5), with Varno's licence as LICENSE words it.
if /usr/bin/python3 - "$doc/copyright" LICENSE >"$work/copyright.out" 2>&1 <<'PY'; then
import sys
from debian.copyright import Copyright
with open(sys.argv[1]) as f:
    c = Copyright(f, strict=True)
files = c.find_files_paragraph("usr/bin/varno")
assert files is not None, "no Files paragraph covers the program"
assert files.license.synopsis == "MIT", f"the program's licence is {files.license.synopsis}"
words = lambda text: " ".join(text.replace("\n.\n", "\n").split())
licence = open(sys.argv[2]).read()
assert words(licence[licence.index("Permission"):]) == words(files.license.text), \
    "the MIT text differs from LICENSE"
assert "Qt 6" in c.header.comment and "libcurl" in c.header.comment, "the linked libraries are not named"
PY
  pass "copyright: DEP-5, MIT as in LICENSE, linked libraries named"
else
  fail "copyright:"; cat "$work/copyright.out" >&2
fi
# Debian's format, one entry per release in the metadata, the newest this version.
zcat "$doc/changelog.gz" >"$work/changelog"
if dpkg-parsechangelog -l "$work/changelog" --all -S Version >"$work/changelog.versions" 2>"$work/changelog.err" &&
  [ ! -s "$work/changelog.err" ]; then
  releases=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo")
  [ "$(head -n1 "$work/changelog.versions")" = "$version" ] ||
    fail "the changelog's newest version is not $version"
  [ "$(cat "$work/changelog.versions")" = "$releases" ] ||
    fail "the changelog's versions ($(tr '\n' ' ' <"$work/changelog.versions")) are not the metadata's ($(tr '\n' ' ' <<<"$releases"))"
  pass "changelog: $(wc -l <"$work/changelog.versions") release(s), newest $version"
else
  fail "dpkg-parsechangelog:"; cat "$work/changelog.err" >&2
fi

# ---- bash completion: the options of the program's own help ----
completion=$dest/usr/share/bash-completion/completions/varno
complete_with() { # prints what completing the word $1 after the word $2 offers
  bash -c 'source "$1"; _varno "$2" "$3" "$4"; printf "%s\n" "${COMPREPLY[@]}"' _ \
    "$completion" "$dest/usr/bin/varno" "$1" "$2"
}
[ "$(complete_with --reg varno)" = --register-url-handler ] || fail "completing --reg: '$(complete_with --reg varno)'"
[ "$(complete_with "" --dev)" = "" ] || fail "completing the value of --dev offers options"
[ "$(complete_with "" varno | sort)" = "$(grep -E '^  -' <<<"$help" | grep -oE -- '--[a-z][a-z-]*' | sort -u)" ] ||
  fail "completion offers $(complete_with "" varno | tr '\n' ' '), not the options of --help"
pass "bash completion from varno --help"

# ---- Hardening: Debian's flags in the installed program ----
# PIE, stack protector, fortify, RELRO and bind-now. Control-flow protection is
# looked for in the code instead: Debian 12's C start files carry no CET marking,
# so no program linked there can claim it in its ELF note.
if hardening-check --nocfprotection "$dest/usr/bin/varno" >"$work/hardening" 2>&1; then
  pass "hardening-check: $(grep -c ': yes' "$work/hardening") protections"
else
  fail "hardening-check:"; cat "$work/hardening" >&2
fi
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  branch_targets=$(objdump -d --no-show-raw-insn "$dest/usr/bin/varno" | grep -c endbr64 || true)
  [ "$branch_targets" -gt 1000 ] && pass "-fcf-protection: $branch_targets branch targets marked" ||
    fail "only $branch_targets endbr64 instructions: built without -fcf-protection?"
fi

# ---- Shared libraries: every one found, and each from an installed package ----
varno=$dest/usr/bin/varno
ldd "$varno" >"$work/ldd" || fail "ldd cannot read the executable"
if grep -q 'not found' "$work/ldd"; then fail "unresolved libraries:"; grep 'not found' "$work/ldd" >&2; fi
owned=0
while read -r lib; do
  # Merged /usr: dpkg may know the file under /lib or /usr/lib.
  candidates=("$lib" "$(readlink -f "$lib")")
  case "$lib" in /usr/*) candidates+=("${lib#/usr}") ;; *) candidates+=("/usr$lib") ;; esac
  found=
  for c in "${candidates[@]}"; do
    if owner=$(dpkg -S "$c" 2>/dev/null); then found=${owner%%:*}; break; fi
  done
  if [ -n "$found" ]; then owned=$((owned + 1)); else fail "$lib belongs to no installed package"; fi
done < <(awk '/=> \// {print $3} /^\t\/lib/ {print $1}' "$work/ldd")
[ "$owned" -gt 10 ] && pass "$owned shared libraries, each from a Debian package" ||
  fail "only $owned shared libraries checked"

# ---- The unpacked program runs ----
# The build number grows with the version: MAJOR*1000000 + MINOR*1000 + PATCH.
IFS=. read -r major minor patch <<<"$version"
build_number=$((major * 1000000 + minor * 1000 + patch))
out=$("$varno" --version) || fail "varno --version failed"
[ "$out" = "Varno $version (build $build_number)" ] && pass "varno --version: $out" ||
  fail "varno --version printed '$out', not 'Varno $version (build $build_number)'"
mkdir -p "$work/config"
if XDG_CONFIG_HOME=$work/config CODEXBAR_CLI=$fake_codexbar "$varno" --print-usage >"$work/usage" 2>"$work/usage.err" &&
  [ "$(jq '.daily | length' "$work/usage")" = 60 ] &&
  [ "$(jq -r '[.daily[].provider] | unique | join(",")' "$work/usage")" = claude,codex ]; then
  pass "varno --print-usage reads 60 days through the fake CodexBar tool"
else
  fail "varno --print-usage:"; cat "$work/usage" "$work/usage.err" >&2
fi

# No display, no session bus, no session: the service says what to do and exits with
# the status its unit does not restart on.
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS HOME=$work/home \
  XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config "$varno" --headless >"$work/headless.out" 2>&1
headless_status=$?
set -e
if [ "$headless_status" = 77 ] && grep -q 'varno --sign-in' "$work/headless.out"; then
  pass "varno --headless without a display or session bus asks for varno --sign-in"
else
  fail "varno --headless exited $headless_status:"; cat "$work/headless.out" >&2
fi

if [ "$failures" -gt 0 ]; then
  echo "package check: $failures failure(s)" >&2
  exit 1
fi
echo "package check: all passed ($deb)"
