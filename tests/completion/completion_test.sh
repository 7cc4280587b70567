#!/usr/bin/env bash
# Drives the bash completion functions of hubctl, hubflash and hubsim as bash
# would on a Tab, and checks what they offer, against a hand-made device
# registry and against one built by hubsim --tree.
# Usage: completion_test.sh COMPLETION_FILE HUBSIM
set -uo pipefail
completion=$1
hubsim=$2

# shellcheck source=/dev/null
source "$completion" || { echo "cannot source $completion"; exit 1; }

scratch=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

passed=0
failed=0

# complete LINE: calls the function `complete -F` registered for the line's
# command, with the cursor at the end, as bash sets the variables (words cut
# at COMP_WORDBREAKS too). The offers are left in COMPREPLY.
complete_line() {
  COMP_LINE=$1
  COMP_POINT=${#COMP_LINE}
  local command=${COMP_LINE%% *} registered function
  registered=$(complete -p "$command" 2>/dev/null) || { COMPREPLY=("<no completion for $command>"); return; }
  function=${registered#*-F }
  function=${function%% *}
  COMP_WORDS=()
  local rest=$COMP_LINE word=
  while [ -n "$rest" ]; do
    local c=${rest:0:1}
    rest=${rest:1}
    if [ "$c" = " " ]; then
      [ -n "$word" ] && COMP_WORDS+=("$word")
      word=
    elif [[ $COMP_WORDBREAKS == *"$c"* ]]; then
      [ -n "$word" ] && COMP_WORDS+=("$word")
      COMP_WORDS+=("$c")
      word=
    else
      word+=$c
    fi
  done
  COMP_WORDS+=("$word")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$function" "$command" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
}

# expect LINE EXPECTED...: the offers, in order, are exactly EXPECTED.
expect() {
  local line=$1
  shift
  complete_line "$line"
  local want got
  want=$(printf '%s\n' "$@")
  got=$(printf '%s\n' "${COMPREPLY[@]}")
  if [ "$got" = "$want" ]; then
    passed=$((passed + 1)); echo "ok   [$line]"
  else
    failed=$((failed + 1)); echo "FAIL [$line]"
    diff <(echo "$want") <(echo "$got") | sed 's/^/     /'
  fi
}

# A registry as the kernel shows it: USB and CDC-ACM adapters, a real and a
# placeholder 8250 port, and a virtual console without a device.
fake=$scratch/fake
add_tty() {  # add_tty NAME DRIVER [TYPE]
  local entry=$fake/sys/class/tty/$1
  mkdir -p "$entry/device" "$fake/sys/bus/any/drivers/$2" "$fake/dev"
  ln -s "$fake/sys/bus/any/drivers/$2" "$entry/device/driver"
  [ $# -lt 3 ] || echo "$3" >"$entry/type"
  : >"$fake/dev/$1"
}
add_tty ttyUSB10 ftdi_sio
add_tty ttyUSB2 ftdi_sio
add_tty ttyACM0 cdc_acm
add_tty ttyS0 serial8250 0
add_tty ttyS1 serial8250 4
add_tty ttyS2 port 0
mkdir -p "$fake/sys/class/tty/tty1"
: >"$fake/dev/tty1"

export HUBLINK_REGISTRY_ROOT=$fake
unset HUBLINK_REMOTES
d=$fake/dev

echo "# hubctl: commands, then the registry's serial devices after the colon"
expect "hubctl /" /Q /Q: /S: /F: /P: /G: /W: /T: /X: /U: /D: /R: /J /H
expect "hubctl /S" /S:
expect "hubctl /S:" "$d/ttyACM0" "$d/ttyS1" "$d/ttyUSB2" "$d/ttyUSB10"
expect "hubctl /S:$d/ttyU" "$d/ttyUSB2" "$d/ttyUSB10"
expect "hubctl /x:$d/ttyA" "$d/ttyACM0"
expect "hubctl /Q:$d/ttyS" "$d/ttyS1"
expect "hubctl /S:$fake/nothing"
expect "hubctl /Q " -F
expect "hubctl /G:$d/ttyUSB2 " -B -H
expect "hubctl /S:$d/ttyUSB2 "

echo "# without ':' in COMP_WORDBREAKS the whole word is replaced"
saved_breaks=$COMP_WORDBREAKS
COMP_WORDBREAKS=${COMP_WORDBREAKS//:/}
expect "hubctl /S:$d/ttyA" "/S:$d/ttyACM0"
COMP_WORDBREAKS=$saved_breaks

echo "# hub URLs of HUBLINK_REMOTES after the local devices; entries that are no URL left out"
export HUBLINK_REMOTES="tcp://lab1:2000 notaurl rfc2217://lab2:3000"
expect "hubctl /T:" "$d/ttyACM0" "$d/ttyS1" "$d/ttyUSB2" "$d/ttyUSB10" tcp://lab1:2000 rfc2217://lab2:3000
expect "hubctl /T:tc" tcp://lab1:2000
expect "hubctl /T:rfc2217://la" //lab2:3000
expect "hubflash rfc" rfc2217://lab2:3000
unset HUBLINK_REMOTES

echo "# hubflash: options, PORT from the registry, then files"
touch "$scratch/image.enc" "$scratch/image.bin"
expect "hubflash --re" --recover
expect "hubflash $d/ttyU" "$d/ttyUSB2" "$d/ttyUSB10"
expect "hubflash -p secret $d/ttyA" "$d/ttyACM0"
expect "hubflash --password "
expect "hubflash --raw $d/ttyUSB2 $scratch/image.e" "$scratch/image.enc"
expect "hubflash --scramble $scratch/image.b" "$scratch/image.bin"

echo "# hubsim: options, fault kinds and a hub fault's command"
expect "hubsim --f" --firmware --fault
expect "hubsim --fault loader-s" loader-silent loader-split loader-slow-erase
expect "hubsim --fault late:E" 'E?Q2' ESDD EUFW
expect "hubsim --fault silent:R" RD RH
expect "hubsim --hubs "
mkdir "$scratch/treedir"
expect "hubsim --tree $scratch/tree" "$scratch/treedir"

echo "# a registry built by hubsim --tree: its hubs are offered"
"$hubsim" --hubs 2 --tree "$scratch/sim" >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ "$(wc -l <"$scratch/sim.out")" -ge 2 ] && break
  sleep 0.1
done
mapfile -t hubs <"$scratch/sim.out"
export HUBLINK_REGISTRY_ROOT=$scratch/sim
if [ ${#hubs[@]} -eq 2 ]; then
  expect "hubctl /S:" "${hubs[@]}"
  expect "hubflash " "${hubs[@]}"
else
  failed=$((failed + 1)); echo "FAIL hubsim --tree printed: ${hubs[*]}"; cat "$scratch/sim.err"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
