#!/usr/bin/env bash
# The Ansible module against two simulated taps on localhost, as a capture server's playbook
# runs it: the first run changes both taps, the second nothing; check mode writes nothing and
# tells the difference; a tap not there fails the task with the tool's own message and status;
# the facts say what `kalvessa100ctl list --json` says. Run by tools/testbed/in-netns.sh.
#   in-netns.sh ansible_test.sh <module folder> <kalvessa100ctl> <tapsim> <source dir>
set -euo pipefail
library=$1 ctl=$2 sim=$3 src=$4
if [ "${KALVESSA_NETNS:-}" != 1 ] || ! command -v ansible-playbook >/dev/null; then
    why=${KALVESSA_NETNS_WHY:-not run by in-netns.sh}
    command -v ansible-playbook >/dev/null || why="ansible-playbook is missing (Debian package ansible)"
    [ -z "${CI:-}" ] || { echo "FAIL: $why" >&2; exit 1; }
    echo "SKIP: $why"
    exit 0
fi
# Each phase with two taps of its own: current ones, ones with older firmware, generation 3.
if [ "${1:-}" != --inside ]; then
    status=0
    for phase in "current" "old --firmware-version 3.0 --reset-after-update" "gen3 --generation 3"; do
        read -r -a options <<<"${phase#* }"
        [ "$phase" != current ] || options=()
        KALVESSA_TAPSIM=$sim "$src/tools/tapsim/with-simulated-tap.sh" --second-tap "${options[@]}" -- \
            "$0" --inside "${phase%% *}" "$@" || status=1
    done
    exit $status
fi
phase=$2 library=$3 ctl=$4

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch ANSIBLE_LIBRARY=$library ANSIBLE_STDOUT_CALLBACK=json \
    ANSIBLE_LOCALHOST_WARNING=false ANSIBLE_INVENTORY_UNPARSED_WARNING=false \
    ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 ANSIBLE_NOCOLOR=1
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

# play NAME ARGS [ansible-playbook options]: one task of the module with these arguments; the
# task's result as JSON in $scratch/NAME.json.
play() {
    local name=$1 args=$2
    shift 2
    cat >"$scratch/$name.yml" <<YAML
- hosts: localhost
  gather_facts: false
  tasks:
    - kalvessa100_tap: {executable: "$ctl", $args}
      ignore_errors: true
YAML
    ansible-playbook -i localhost, -c local "$@" "$scratch/$name.yml" >"$scratch/$name.out" 2>"$scratch/$name.err" || true
    python3 - "$scratch/$name.out" >"$scratch/$name.json" <<'PY' || fail "$name: no result: $(cat "$scratch/$name.err")"
import json, sys
run = json.load(open(sys.argv[1]))
print(json.dumps(run["plays"][0]["tasks"][0]["hosts"]["localhost"]))
PY
}
# field NAME EXPRESSION: a Python expression over the task's result `r`
field() { python3 -c "import json,sys; r=json.load(open(sys.argv[1])); print($2)" "$scratch/$1.json"; }
expect() {  # expect NAME EXPRESSION VALUE
    local got
    got=$(field "$1" "$2" 2>&1) || true
    [ "$got" = "$3" ] || fail "$1: $2 is '$got', expected '$3' ($(head -c 600 "$scratch/$1.json"))"
}
shown() { "$ctl" show --json "$1" | python3 -c "import json,sys; d=json.load(sys.stdin); print(d$2)"; }

if [ "$phase" = old ]; then
    # Firmware is written only when asked for, and only into taps that run an older one.
    play keep "all: true"
    expect keep 'r.get("changed")' False
    expect keep '[t["firmware_version"] for t in r["ansible_facts"]["kalvessa100_taps"]]' "['3.0', '3.0']"
    play would "tap: kvtap1, firmware: latest" --check --diff
    expect would 'r.get("changed"), r["diff"][0]["after"].strip()' "True firmware: 4.0"
    play update "tap: kvtap1, firmware: latest"
    expect update 'r.get("changed")' True
    expect update '[t["firmware_version"] for t in r["ansible_facts"]["kalvessa100_taps"]]' "['3.0', '4.0']"
    play again "tap: kvtap1, firmware: latest"
    expect again 'r.get("changed")' False
    [ "$failed" -eq 0 ] && echo "PASS: ansible module, firmware" || exit 1
    exit 0
fi
if [ "$phase" = gen3 ]; then
    # Nothing can be read back: sent every run, said why; check mode says it would be.
    every='all: true, timestamps: false, crc_errors: true, fcs: false, filter: {enabled: true,
        match: keep, eth_dst: "*", eth_src: "*", ethertype: "08:00", ip_proto: "*", ip_src: "*", ip_dst: "*"}'
    for name in sent resent; do
        play $name "$every"
        expect $name 'r.get("changed"), any("cannot be read back" in w and "are sent" in w for w in r.get("warnings", []))' "True True"
    done
    play wouldsend "$every" --check
    expect wouldsend 'r.get("changed"), any("would be sent" in w for w in r.get("warnings", []))' "True True"
    play partial "all: true, fcs: true"
    expect partial 'r.get("failed"), r.get("rc"), "Missing: --filter" in r.get("msg", "")' "True 2 True"
    [ "$failed" -eq 0 ] && echo "PASS: ansible module, generation 3" || exit 1
    exit 0
fi

settings='all: true, fcs: false, filter: {enabled: true, eth_dst: "00:0e:c6:*:*:*", ip_proto: udp}'
# Each row: name, the module's arguments, options, then what the result must show.
play first "$settings"
expect first 'r.get("changed")' True
expect first '[t["changed"] for t in r["taps"]]' '[True, True]'
play second "$settings"
expect second 'r.get("changed")' False
expect second 'r.get("failed", False)' False
play check "tap: kvtap1, timestamps: false" --check --diff
expect check 'r.get("changed")' True
expect check '"timestamps: true" in r["diff"][0]["before"] and "timestamps: false" in r["diff"][0]["after"]' True
[ "$(shown kvtap1 '["timestamps"]')" = True ] || fail "check mode wrote into kvtap1"
[ "$(shown kvtap0 '["filter"]["ip_proto"]')" = 11 ] || fail "the first run's settings are not in kvtap0"

# Not there: the tool's own message and status.
play missing "tap: 00:0e:c6:99:99:99, fcs: true"
expected=$("$ctl" --json apply --tap 00:0e:c6:99:99:99 --fcs=on | python3 -c "import json,sys; e=json.load(sys.stdin)['error']; print(e['code'], e['message'])" || true)
expect missing 'r.get("failed")' True
expect missing '"%s %s" % (r.get("rc"), r.get("msg"))' "$expected"
play unknown "firmware: newest"
expect unknown 'r.get("failed")' True

# Facts: what list says of each tap, with the settings show reads.
play facts "tap: kvtap0"
listed=$("$ctl" list --json | python3 -c "import json,sys; print(sorted((t['interface'], t['mac'], t['generation'], t['firmware_version']) for t in json.load(sys.stdin)['taps']))")
expect facts 'sorted((t["interface"], t["mac"], t["generation"], t["firmware_version"]) for t in r["ansible_facts"]["kalvessa100_taps"])' "$listed"
expect facts '[t["settings"]["fcs"] for t in r["ansible_facts"]["kalvessa100_taps"]]' '[False, False]'
expect facts 'r.get("changed")' False

[ "$failed" -eq 0 ] && echo "PASS: ansible module" || exit 1
