#!/usr/bin/env bash
# Builds the Debian package with scripts/package and checks it the way a user's
# system would meet it, without installing it: its control data and file list,
# the desktop entry, the AppStream metadata, the icons and the manual page, that
# every shared library of the executable comes from an installed Debian package,
# and that the unpacked program runs.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${VARNO_PACKAGE_BUILD_DIR:-$root/build/package}

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

deb=$(scripts/package | tail -n1)
[ -f "$deb" ] || { echo "FAIL: scripts/package printed '$deb', which is no file" >&2; exit 1; }
case "$deb" in "$root"/dist/varno_*.deb) pass "package at $deb" ;; *) fail "package outside dist/: $deb" ;; esac
# The stand-in for CodexBar's tool, from the same release build (not packaged).
cmake --build "$build" --target fake-codexbar >/dev/null
fake_codexbar=$build/tools/fake-codexbar/fake-codexbar

version=$(sed -n 's/^project(Varno VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "FAIL: no project version in CMakeLists.txt" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/varno-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

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
