#!/usr/bin/env bash
# Sets up, builds, starts two virtual hubs and runs a short hubctl session
# and a headless firmware update against them, the way a new user would try
# the tools without hardware.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release >/dev/null

hubctl=build/console/hubctl
base=/dev/shm; [ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/hubs.XXXX")
build/sim/hubsim --hubs 2 --tree "$work" >"$work.paths" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$work" "$work".*' EXIT

for _ in $(seq 100); do
  [ "$(wc -l <"$work.paths")" -ge 2 ] && break
  sleep 0.05
done
# hubctl finds hubs through the device registry; point it at the virtual one.
export HUBLINK_REGISTRY_ROOT="$work"
hub=$(head -n 1 "$work.paths")

run() {
  printf '\n$ hubctl'
  for a in "$@"; do case "$a" in *[\ \"{}]*) printf " '%s'" "$a" ;; *) printf ' %s' "$a" ;; esac; done
  echo
  set +e; "$hubctl" "$@"; status=$?; set -e
  echo "(exit status $status)"
}

"$hubctl" | head -n 1
run /Q
run /Q -F
run /S:"$hub" 1:1,3
run /G:"$hub"
run /G:"$hub" -B
run /S:"$hub" T:ALL
run /G:"$hub" -H
run /S:"$hub" wrongpw 1:2
run /U:"$hub"
run /X:"$hub" 'Rack 7, shelf 2'
run /T:"$hub"
run /G:UID0123456789A1 -H
run /J '{"CMD":"GPST","COM":"'"$hub"'"}'
run /J '{"CMD":"SPST","COM":"UID0123456789A1","STATES":"F5,FF,FF,FF"}'
run /J '{"CMD":"QH","COM":"'"$hub"'"}'

# A firmware update without a window: an image that names the hubs' product
# (0AB3), scrambled as firmware files are, then written through the loader.
hubflash=build/firmware/hubflash
{ head -c 20000 /dev/urandom; printf 'TAVRIN_PID:\x0a\xb3'; head -c 4000 /dev/urandom; } >"$work.bin"
printf '\n$ hubflash --scramble image.bin image.enc\n'
"$hubflash" --scramble "$work.bin" "$work.enc"
printf '\n$ hubflash UID0123456789A1 image.enc\n'
set +e; "$hubflash" UID0123456789A1 "$work.enc"; status=$?; set -e
echo "(exit status $status)"

echo
echo "The windows: build/panel/hubpanel (type a hub's path, Search Port) and"
echo "HUBLINK_REGISTRY_ROOT=DIR build/desk/portdesk (Search All Hubs), against"
echo "build/sim/hubsim --hubs 2 --tree DIR &"
