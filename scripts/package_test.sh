#!/usr/bin/env bash
# Builds the Debian packages from a build tree and checks them: what each
# holds, its dependencies, the programs of the command-line package run from
# an unpacked copy (against a virtual hub of the packaged hubsim), the
# desktop entries, AppStream metadata, icon, manual pages and bash completion,
# the copyright file and changelog, lintian's verdict (no error, no warning),
# and the Python package imported from an unpacked copy.
# Usage: scripts/package_test.sh [BUILD_DIR]      (default: build)
# Needs, besides the build's packages: dpkg-dev file man-db groff-base
# desktop-file-utils lintian appstream.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
check() {  # check DESCRIPTION COMMAND...: passes when COMMAND succeeds
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

missing=()
for tool in cmake cpack dpkg-deb dpkg-shlibdeps dpkg-parsechangelog file readelf nm man lexgrog \
            desktop-file-validate gzip lintian appstreamcli; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "package_test: missing ${missing[*]}" >&2
  echo "package_test: apt-get install dpkg-dev file man-db groff-base desktop-file-utils lintian appstream" >&2
  exit 2
fi

# --- build the packages ------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build"
if grep -q '^HUB_BUILD_GUI:BOOL=OFF' "$build/CMakeCache.txt"; then
  echo "package_test: $build is configured with HUB_BUILD_GUI=OFF; the window package needs it ON" >&2
  exit 2
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

build_abs=$(cd "$build" && pwd)
out=$build_abs/packages
rm -rf "$out"
(cd "$build_abs" && cpack -G DEB -B "$out") >"$build_abs/package_test.cpack.log" 2>&1 ||
  { cat "$build_abs/package_test.cpack.log"; echo "package_test: cpack failed" >&2; exit 1; }

scratch=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

shopt -s nullglob
cli_debs=("$out"/hubtools_*.deb)
gui_debs=("$out"/hubtools-gui_*.deb)
py_debs=("$out"/python3-hubtools_*.deb)
shopt -u nullglob
if [ ${#cli_debs[@]} -ne 1 ] || [ ${#gui_debs[@]} -ne 1 ] || [ ${#py_debs[@]} -ne 1 ]; then
  ls -l "$out" >&2
  echo "package_test: expected one hubtools_*.deb, hubtools-gui_*.deb and python3-hubtools_*.deb in $out" >&2
  exit 1
fi
cli=${cli_debs[0]}
gui=${gui_debs[0]}
py=${py_debs[0]}
echo "packages: $(basename "$cli") $(basename "$gui") $(basename "$py")"

# --- control fields ----------------------------------------------------------
arch=$(dpkg --print-architecture)
field() { dpkg-deb -f "$1" "$2"; }
for deb in "$cli" "$gui" "$py"; do
  name=$(basename "$deb")
  check "$name: version $version-1" test "$(field "$deb" Version)" = "$version-1"
  check "$name: architecture $arch" test "$(field "$deb" Architecture)" = "$arch"
  check "$name: has a maintainer" grep -q '<.*@.*>' <<<"$(field "$deb" Maintainer)"
  description=$(field "$deb" Description)
  check "$name: synopsis and long description" \
    test "$(wc -l <<<"$description")" -ge 3 -a -z "$(grep -i 'built using cmake' <<<"$description")"
done
check "hubtools is named hubtools" test "$(field "$cli" Package)" = hubtools
check "hubtools-gui is named hubtools-gui" test "$(field "$gui" Package)" = hubtools-gui
check "python3-hubtools is named python3-hubtools" test "$(field "$py" Package)" = python3-hubtools
check "python3-hubtools: section python" test "$(field "$py" Section)" = python

cli_depends=$(field "$cli" Depends)
gui_depends=$(field "$gui" Depends)
echo "hubtools depends: $cli_depends"
echo "hubtools-gui depends: $gui_depends"
check "hubtools: dependencies computed from the binaries (libc6)" grep -q 'libc6 (>=' <<<"$cli_depends"
check "hubtools: no Qt dependency" test -z "$(grep -i 'qt' <<<"$cli_depends")"
check "hubtools: no udev dependency (only the windows watch for devices)" test -z "$(grep -i 'udev' <<<"$cli_depends")"
check "hubtools-gui: dependencies computed from the binaries (libc6)" grep -q 'libc6 (>=' <<<"$gui_depends"
check "hubtools-gui: depends on Qt 6 widgets" grep -q 'libqt6widgets6' <<<"$gui_depends"
py_depends=$(field "$py" Depends)
echo "python3-hubtools depends: $py_depends"
python_abi=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
check "python3-hubtools: dependencies computed from the extension (libstdc++6)" grep -q 'libstdc++6 (>=' <<<"$py_depends"
check "python3-hubtools: depends on python3 $python_abi" grep -q "python3 (>= $python_abi~), python3 (<< " <<<"$py_depends"
check "python3-hubtools: depends on hubtools $version-1 (its network library)" \
  grep -q "hubtools (= $version-1)" <<<"$py_depends"
check "python3-hubtools: no Qt dependency" test -z "$(grep -i 'qt' <<<"$py_depends")"

# --- contents ----------------------------------------------------------------
# Every entry that is not a directory, as "MODE PATH[ -> TARGET]", sorted.
entries() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { $2 = $3 = $4 = $5 = ""; print }' | tr -s ' ' | sort; }
cli_expected="-rw-r--r-- ./usr/share/bash-completion/completions/hubctl
lrwxrwxrwx ./usr/share/bash-completion/completions/hubflash -> hubctl
lrwxrwxrwx ./usr/share/bash-completion/completions/hubsim -> hubctl
-rw-r--r-- ./usr/share/doc/hubtools/changelog.Debian.gz
-rw-r--r-- ./usr/share/doc/hubtools/copyright
-rw-r--r-- ./usr/share/doc/hubtools/security.md
-rw-r--r-- ./usr/share/lintian/overrides/hubtools
-rw-r--r-- ./usr/share/man/man1/hubctl.1.gz
-rw-r--r-- ./usr/share/man/man1/hubflash.1.gz
-rw-r--r-- ./usr/share/man/man1/hubsim.1.gz
-rw-r--r-- ./usr/lib/hubtools/netline/libnetline.so
-rwxr-xr-x ./usr/bin/hubctl
-rwxr-xr-x ./usr/bin/hubflash
-rwxr-xr-x ./usr/bin/hubsim"
gui_expected="-rw-r--r-- ./usr/share/applications/org.example.hubtools.hubpanel.desktop
-rw-r--r-- ./usr/share/applications/org.example.hubtools.portdesk.desktop
-rw-r--r-- ./usr/share/doc/hubtools-gui/changelog.Debian.gz
-rw-r--r-- ./usr/share/doc/hubtools-gui/copyright
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/hubtools.svg
-rw-r--r-- ./usr/share/lintian/overrides/hubtools-gui
-rw-r--r-- ./usr/share/metainfo/org.example.hubtools.hubpanel.metainfo.xml
-rw-r--r-- ./usr/share/metainfo/org.example.hubtools.portdesk.metainfo.xml
-rw-r--r-- ./usr/share/man/man1/hubpanel.1.gz
-rw-r--r-- ./usr/share/man/man1/portdesk.1.gz
-rwxr-xr-x ./usr/bin/hubpanel
-rwxr-xr-x ./usr/bin/portdesk"
site=./usr/lib/python3/dist-packages
py_expected="-rw-r--r-- ./usr/share/doc/python3-hubtools/changelog.Debian.gz
-rw-r--r-- ./usr/share/doc/python3-hubtools/copyright
-rw-r--r-- ./usr/share/doc/python3-hubtools/lava.md
-rw-r--r-- ./usr/share/doc/python3-hubtools/python.md
-rw-r--r-- ./usr/share/lintian/overrides/python3-hubtools
-rw-r--r-- $site/hubtools-$version.dist-info/METADATA
-rw-r--r-- $site/hubtools-$version.dist-info/entry_points.txt
-rw-r--r-- $site/hubtools-$version.dist-info/top_level.txt
-rw-r--r-- $site/hubtools/_hubtools.cpython-${python_abi/./}-$(gcc -print-multiarch).so
$(for module in python/hubtools/*.py; do echo "-rw-r--r-- $site/hubtools/$(basename "$module")"; done)"
py_entries=$(entries "$py")
cli_entries=$(entries "$cli")
gui_entries=$(entries "$gui")
if [ "$cli_entries" = "$(sort <<<"$cli_expected")" ]; then
  pass "hubtools holds exactly the three programs, the network library, their manual pages, completion and documents"
else
  fail "hubtools contents"; diff <(sort <<<"$cli_expected") <(echo "$cli_entries") || true
fi
if [ "$gui_entries" = "$(sort <<<"$gui_expected")" ]; then
  pass "hubtools-gui holds exactly the two windows, their manual pages, desktop entries, metadata, icon and documents"
else
  fail "hubtools-gui contents"; diff <(sort <<<"$gui_expected") <(echo "$gui_entries") || true
fi
if [ "$py_entries" = "$(sort <<<"$py_expected")" ]; then
  pass "python3-hubtools holds exactly the package's modules, its extension, its metadata and documents"
else
  fail "python3-hubtools contents"; diff <(sort <<<"$py_expected") <(echo "$py_entries") || true
fi

mkdir -p "$scratch/cli" "$scratch/gui"
dpkg-deb -x "$cli" "$scratch/cli"
dpkg-deb -x "$gui" "$scratch/gui"
# The Python package beside hubtools, as both are installed.
mkdir -p "$scratch/py"
dpkg-deb -x "$cli" "$scratch/py"
dpkg-deb -x "$py" "$scratch/py"
extension=$(echo "$scratch"/py/usr/lib/python3/dist-packages/hubtools/_hubtools.*.so)

libraries_found() {  # the binary exists and ldd resolves every library it needs
  local libraries
  libraries=$(ldd "$1") && ! grep -q 'not found' <<<"$libraries"
}
links_no_qt() {  # the binary's dynamic section names no Qt library
  local dynamic
  dynamic=$(readelf -d "$1") && ! grep -qi 'NEEDED.*qt' <<<"$dynamic"
}
links_no_network() {  # gensio and libcrypto come with the network library only
  local dynamic
  dynamic=$(readelf -d "$1") && ! grep -qi 'NEEDED.*\(gensio\|crypto\)' <<<"$dynamic"
}
for program in hubctl hubflash hubsim; do
  binary=$scratch/cli/usr/bin/$program
  check "$program: links no Qt library" links_no_qt "$binary"
  check "$program: every shared library found" libraries_found "$binary"
  check "$program: links no network library" links_no_network "$binary"
done
for program in hubpanel portdesk; do
  check "$program: every shared library found" libraries_found "$scratch/gui/usr/bin/$program"
  check "$program: links no network library" links_no_network "$scratch/gui/usr/bin/$program"
done
check "_hubtools: every shared library found" libraries_found "$extension"
check "_hubtools: links no network library" links_no_network "$extension"
check "libnetline.so: every shared library found" libraries_found "$scratch/cli/usr/lib/hubtools/netline/libnetline.so"
# The packaged hubctl finds the packaged library beside it: a URL where
# nothing listens is refused by the network, not for want of the library.
refused_by_network() {
  local err
  err=$(HUBLINK_REMOTES= "$scratch/cli/usr/bin/hubctl" /G:rfc2217://127.0.0.1:1 2>&1 >/dev/null) || true
  grep -q 'refused the connection' <<<"$err"
}
check "hubctl: loads the packaged network library for a URL" refused_by_network

hardened() {  # full RELRO, stack protector and fortified functions
  local binary=$1 dynamic symbols
  dynamic=$(readelf -d "$binary") && symbols=$(nm -D "$binary") &&
    readelf -lW "$binary" | grep -q GNU_RELRO && grep -q 'BIND_NOW\|Flags:.* NOW' <<<"$dynamic" &&
    grep -q '__stack_chk_fail' <<<"$symbols" && grep -q '__[a-z_]*_chk\b' <<<"$symbols"
}
for binary in "$scratch"/cli/usr/bin/* "$scratch"/gui/usr/bin/*; do
  check "$(basename "$binary"): built with the hardening flags" hardened "$binary"
  check "$(basename "$binary"): stripped" grep -q ', stripped' <<<"$(file -b "$binary")"
  check "$(basename "$binary"): no .comment section" test -z "$(readelf -S "$binary" | grep -F .comment)"
done
netlib=$scratch/cli/usr/lib/hubtools/netline/libnetline.so
check "libnetline.so: stripped" grep -q ', stripped' <<<"$(file -b "$netlib")"
check "libnetline.so: no .comment section" test -z "$(readelf -S "$netlib" | grep -F .comment)"
check "_hubtools: stripped" grep -q ', stripped' <<<"$(file -b "$extension")"
check "_hubtools: no .comment section" test -z "$(readelf -S "$extension" | grep -F .comment)"

# --- copyright file and changelog ----------------------------------------------
for tree in cli gui py; do
  case $tree in cli) package=hubtools ;; gui) package=hubtools-gui ;; py) package=python3-hubtools ;; esac
  doc=$scratch/$tree/usr/share/doc/$package
  check "$package: machine-readable copyright file under the MIT licence" \
    grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright"
  check "$package: copyright names the MIT licence" grep -qx 'License: MIT' "$doc/copyright"
  gzip -dc "$doc/changelog.Debian.gz" >"$scratch/$package.changelog"
  check "$package: changelog's newest entry is $version-1" \
    test "$(dpkg-parsechangelog -l "$scratch/$package.changelog" -S Version)" = "$version-1"
done

# --- lintian -------------------------------------------------------------------
# Errors and warnings fail; info and pedantic tags are shown.
for deb in "$cli" "$gui" "$py"; do
  name=$(basename "$deb")
  tags=$(lintian --display-info --pedantic --display-experimental --tag-display-limit 0 "$deb" 2>/dev/null)
  serious=$(grep '^[EW]: ' <<<"$tags" || true)
  [ -z "$tags" ] || sed 's/^/     /' <<<"$tags"
  if [ -z "$serious" ] && lintian --fail-on error,warning "$deb" >/dev/null 2>&1; then
    pass "$name: lintian reports no error and no warning"
  else
    fail "$name: lintian"
  fi
done

# --- the command-line programs, run from the unpacked package ---------------
bin=$scratch/cli/usr/bin
run() {  # run NAME COMMAND...: output in $scratch/NAME.out, status in $status
  local name=$1
  shift
  status=0
  timeout 60 "$@" >"$scratch/$name.out" 2>"$scratch/$name.err" || status=$?
}

run banner "$bin/hubctl"
first=$(head -n 1 "$scratch/banner.out")
if [ "$status" -eq 0 ] &&
   [[ $first == "hubctl Managed USB Hub API v$version"*"Usage: hubctl command [password] [argument]" ]] &&
   grep -q '^    /J      Commands in JSON format$' "$scratch/banner.out"; then
  pass "hubctl without arguments prints its banner and usage, exit 0"
else
  fail "hubctl without arguments (exit $status)"; head -n 3 "$scratch/banner.out"
fi

run flashhelp "$bin/hubflash" --help
if [ "$status" -eq 0 ] && grep -q '^Usage: hubflash \[options\] PORT FILE$' "$scratch/flashhelp.out"; then
  pass "hubflash --help prints its usage, exit 0"
else
  fail "hubflash --help (exit $status)"; head -n 3 "$scratch/flashhelp.out"
fi

run simhelp "$bin/hubsim" --help
if [ "$status" -eq 0 ] && grep -q '^Usage: hubsim \[options\]$' "$scratch/simhelp.out"; then
  pass "hubsim --help prints its usage, exit 0"
else
  fail "hubsim --help (exit $status)"
fi

# One virtual hub of the packaged hubsim, found through its registry by the
# packaged hubctl and updated by the packaged hubflash.
registry=$scratch/registry
"$bin/hubsim" --tree "$registry" --erase-ms 0 >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$scratch/sim.out" ] && break
  sleep 0.1
done
hub=$(head -n 1 "$scratch/sim.out")
check "hubsim serves a hub at $registry/dev/ttyUSB0" test "$hub" = "$registry/dev/ttyUSB0"
export HUBLINK_REGISTRY_ROOT=$registry

run search "$bin/hubctl" /Q -F
check "hubctl /Q -F finds the virtual hub" test "$status:$(cat "$scratch/search.out")" = "0:0001,$hub"
run json "$bin/hubctl" /J '{"CMD":"Q"}'
check "hubctl /J Q answers with one hub" grep -q '"HUBS": "1"' "$scratch/json.out"
run uid "$bin/hubctl" /U:UID0123456789AB
check "hubctl /U finds the hub by its UID" test "$status:$(cat "$scratch/uid.out")" = "0:0123456789AB"

printf 'TAVRIN_PID:\012\263' >"$scratch/image.bin"
head -c 2048 /dev/zero >>"$scratch/image.bin"
run scramble "$bin/hubflash" --scramble "$scratch/image.bin" "$scratch/image.enc"
run flash "$bin/hubflash" -q UID0123456789AB "$scratch/image.enc"
if [ "$status" -eq 0 ] && [ "$(tail -n 1 "$scratch/flash.out")" = "Firmware programmed Successfully!" ]; then
  pass "hubflash programs the virtual hub"
else
  fail "hubflash update (exit $status)"; cat "$scratch/flash.out" "$scratch/flash.err"
fi

# The packaged completion offers the virtual hub after "hubctl /S:"; it is
# loaded by the name of each program (hubflash and hubsim link to it).
completions=$scratch/cli/usr/share/bash-completion/completions
offers=$(bash -c 'source "$1/hubsim" && complete -p hubctl hubflash hubsim >/dev/null &&
                  COMP_LINE="hubctl /S:" COMP_POINT=10 && _hubctl && printf "%s\n" "${COMPREPLY[@]}"' \
         _ "$completions" 2>&1)
check "bash completion offers $hub after hubctl /S:" test "$offers" = "$hub"
unset HUBLINK_REGISTRY_ROOT

# --- the Python package, imported from the unpacked packages -------------------
# Debian's python3 (the extension is built for it), with nothing of the
# build tree on its path.
py_run() {  # py_run NAME CODE: as run
  run "$1" env -u PYTHONHOME PYTHONPATH="$scratch/py/usr/lib/python3/dist-packages" PYTHONNOUSERSITE=1 \
    HUBLINK_REMOTES= /usr/bin/python3 -c "$2"
}
py_run pyimport 'import hubtools, os
print(os.path.dirname(hubtools.__file__))
with hubtools.VirtualHub(ports=4) as vhub:
    hub = hubtools.Hub(vhub.port)
    hub.on(2)
    print(hub.states, vhub.states)'
check "python3-hubtools: imports from its folder and switches a virtual hub's port" \
  test "$status:$(cat "$scratch/pyimport.out")" = \
  "0:$scratch/py/usr/lib/python3/dist-packages/hubtools
(False, True, False, False) (False, True, False, False)"
py_run pymeta 'import importlib.metadata as m
print(m.version("hubtools"))
for group in "pytest11", "pdudaemon.driver":
    print(group, [e.value for e in m.entry_points(group=group) if e.name == "hubtools"])'
check "python3-hubtools: version and entry points for pytest and pdudaemon" \
  test "$status:$(cat "$scratch/pymeta.out")" = "0:$version
pytest11 ['hubtools.pytest_plugin']
pdudaemon.driver ['hubtools.pdudaemon:ManagedHub']"
# A URL where nothing listens is refused by the network, not for want of
# the library hubtools brings.
py_run pyurl 'import hubtools
try:
    hubtools.Hub("rfc2217://127.0.0.1:1").states
except hubtools.HubError as e:
    print(e)'
check "python3-hubtools: loads hubtools' network library for a URL" grep -q 'refused the connection' "$scratch/pyurl.out"
grep -q 'refused the connection' "$scratch/pyurl.out" || cat "$scratch/pyurl.out" "$scratch/pyurl.err"

# --- the windows start from the unpacked package -----------------------------
for program in hubpanel portdesk; do
  status=0
  QT_QPA_PLATFORM=offscreen timeout 3 "$scratch/gui/usr/bin/$program" \
    >"$scratch/$program.out" 2>&1 || status=$?
  if [ "$status" -eq 124 ]; then
    pass "$program starts and keeps running (offscreen)"
  else
    fail "$program ended at start with status $status"; cat "$scratch/$program.out"
  fi
done

# --- desktop entries and icon ------------------------------------------------
icon=$scratch/gui/usr/share/icons/hicolor/scalable/apps/hubtools.svg
for program in hubpanel portdesk; do
  id=org.example.hubtools.$program
  entry=$scratch/gui/usr/share/applications/$id.desktop
  metainfo=$scratch/gui/usr/share/metainfo/$id.metainfo.xml
  report=$(desktop-file-validate "$entry" 2>&1) && [ -z "$report" ] &&
    pass "$program.desktop passes desktop-file-validate" ||
    { fail "$program.desktop: desktop-file-validate"; echo "$report"; }
  check "$program.desktop: Exec= runs the packaged $program" grep -qx "Exec=$program" "$entry"
  check "$program.desktop: Icon= names the packaged icon" grep -qx "Icon=$(basename "$icon" .svg)" "$entry"
  check "$program.desktop: Categories" grep -q '^Categories=.*HardwareSettings;' "$entry"
  report=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) &&
    pass "$id.metainfo.xml passes appstreamcli validate --no-net" ||
    { fail "$id.metainfo.xml: appstreamcli validate"; echo "$report"; }
  check "$id.metainfo.xml launches $id.desktop" \
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo"
done
check "icon is an SVG document" grep -q '<svg xmlns="http://www.w3.org/2000/svg"[^>]*viewBox=' "$icon"
check "icon ends its SVG element" test "$(tail -n 1 "$icon")" = "</svg>"

# --- manual pages -------------------------------------------------------------
for page in "$scratch"/cli/usr/share/man/man1/*.1.gz "$scratch"/gui/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  check "$name.1.gz is gzip-compressed" gzip -t "$page"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$scratch/$name.txt") &&
    [ -z "$warnings" ] && pass "$name(1) renders without warnings" ||
    { fail "$name(1) renders with warnings"; echo "$warnings"; }
  check "$name(1): NAME line read by lexgrog" grep -q "\"$name - " <<<"$(lexgrog "$page" 2>&1)"
  sections=ok
  for section in NAME SYNOPSIS DESCRIPTION 'EXIT STATUS' ENVIRONMENT EXAMPLES 'SEE ALSO'; do
    grep -qx "$section" "$scratch/$name.txt" || { sections=missing; echo "  $name(1) lacks $section"; }
  done
  check "$name(1) has every section" test "$sections" = ok
  check "$name(1) describes HUBLINK_REGISTRY_ROOT" grep -q 'HUBLINK_REGISTRY_ROOT' "$scratch/$name.txt"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
