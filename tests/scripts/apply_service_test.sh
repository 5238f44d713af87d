#!/usr/bin/env bash
# A tap plugged in on a server: the udev rule matches it (and nothing else) and wants the apply
# unit for its interface; systemd accepts the unit; and the unit's ExecStart line, run as it
# stands, gives a simulated tap the settings its folder declares, and writes nothing the second
# time. Run by tools/testbed/in-netns.sh, in namespaces of its own: the tool and the declared
# folder are laid over the real paths the unit names, for this test's eyes only.
#   in-netns.sh apply_service_test.sh <unit file> <rule file> <kalvessa100ctl> <tapsim> <source dir>
set -euo pipefail
unit=$1 rule=$2 ctl=$3 sim=$4 src=$5
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
skip() {  # never in CI: there the namespace, overlays and systemd-analyze must be had
    [ -z "${CI:-}" ] || { echo "FAIL: $*" >&2; exit 1; }
    echo "SKIP: $*"
    exit 0
}

# The rule: its keys, each as KEY OP VALUE, from its one line.
line=$(grep -v '^\s*#' "$rule" | grep -v '^\s*$')
[ "$(wc -l <<<"$line")" -eq 1 ] || fail "the rule is not one line: $line"
declare -A matches=() assigns=()
while IFS= read -r pair; do
    if [[ $pair =~ ^([A-Za-z_]+(\{[A-Za-z_]+\})?)(==|\+=|=)\"(.*)\"$ ]]; then
        key=${BASH_REMATCH[1]} op=${BASH_REMATCH[3]} value=${BASH_REMATCH[4]}
        if [ "$op" = "==" ]; then matches[$key]=$value; else assigns[$key]=$value; fi
    else
        fail "cannot read the rule's key: $pair"
    fi
done < <(grep -o '[A-Za-z_{}]*\(==\|+=\|=\)"[^"]*"' <<<"$line")
[ "${matches[ACTION]:-}" = add ] || fail "the rule does not match on ACTION==add"
[ "${matches[SUBSYSTEM]:-}" = net ] || fail "the rule does not match the net subsystem"
[ "${#matches[@]}" -eq 3 ] || fail "the rule matches on more than ACTION, SUBSYSTEM and the address"
[ "${assigns[TAG]:-}" = systemd ] || fail "the rule does not hand the device to systemd"
pattern=${matches[ATTR{address}]:-}
# The address as the kernel shows it, whether the rule must start the unit for it.
for row in "00:0e:c6:12:34:56 yes" "00:0e:c6:00:00:00 yes" "00:0e:c7:12:34:56 no" \
           "02:00:00:0e:c6:01 no" "00:0e:c6 no"; do
    read -r address expected <<<"$row"
    # shellcheck disable=SC2053
    if [[ $address == $pattern ]]; then got=yes; else got=no; fi
    [ "$got" = "$expected" ] || fail "address $address: matched $got, expected $expected"
done
wants=${assigns[ENV{SYSTEMD_WANTS}]:-}
template=$(basename "$unit" .in)
[ "${wants//\$name/kvtap0}" = "${template/@/@kvtap0}" ] \
    || fail "the rule wants '$wants', not the unit $template for the interface"

[ "${KALVESSA_NETNS:-}" = 1 ] || skip "${KALVESSA_NETNS_WHY:-not run by in-netns.sh}"
exec_line=$(sed -n 's/^ExecStart=//p' "$unit")
folder=$(sed -n 's/^ConditionDirectoryNotEmpty=//p' "$unit")
program=${exec_line%% *}
[[ $exec_line == *"--from-dir $folder"* ]] || fail "ExecStart does not read $folder: $exec_line"

# The tool where the unit runs it, and the folder it reads, over the real ones.
scratch=$(mktemp -d)
trap 'umount -l /etc "$(dirname "$program")" 2>/dev/null; umount -l "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
mount -t tmpfs tmpfs "$scratch" || skip "cannot mount a tmpfs"
overlay() {  # overlay DIR: DIR writable here, its upper layer in $scratch
    local dir=$1 name
    name=$(tr / _ <<<"$dir")
    mkdir -p "$scratch/$name.up" "$scratch/$name.work"
    mount -t overlay overlay -o "lowerdir=$dir,upperdir=$scratch/$name.up,workdir=$scratch/$name.work" "$dir"
}
overlay /etc && overlay "$(dirname "$program")" || skip "cannot lay an overlay over /etc and $(dirname "$program")"
cp "$ctl" "$program"
mkdir -p "$folder"
cat >"$folder/default.json" <<'JSON'
{"format": "kalvessa100-settings", "version": 1, "fcs": false, "timestamps": false}
JSON

if command -v systemd-analyze >/dev/null; then
    mkdir "$scratch/units"
    cp "$unit" "$scratch/units/$template"
    verified=$(cd "$scratch/units" && systemd-analyze verify --man=no "$scratch/units/${template/@/@kvtap0}" 2>&1) \
        || fail "systemd-analyze verify: $verified"
    [ -z "$verified" ] || fail "systemd-analyze verify says: $verified"
else
    skip "systemd-analyze is missing (Debian package systemd)"
fi

# The unit's line, %i as systemd expands it, against a simulated tap and a second one that
# must not be touched; then again, when the tap holds the settings already.
read -r -a command <<<"${exec_line//%i/kvtap0}"
run=$(KALVESSA_TAPSIM=$sim "$src/tools/tapsim/with-simulated-tap.sh" --second-tap -- bash -c '
    "$@" && echo "second run:" && "$@" && echo "kvtap1:" && "$0" show --json kvtap1' \
    "$program" "${command[@]}" 2>&1) || fail "the unit's command failed: $run"
grep -q "Written to the working copy of kvtap0" <<<"$run" || fail "first run wrote nothing: $run"
[[ $run == *"second run:"*"Nothing written: kvtap0 already holds these settings"* ]] \
    || fail "the second run did not leave the tap alone: $run"
grep -q '"fcs": true' <<<"${run##*kvtap1:}" || fail "kvtap1 was touched: ${run##*kvtap1:}"

[ "$failed" -eq 0 ] && echo "PASS: apply service" || exit 1
