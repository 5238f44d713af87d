#!/usr/bin/env bash
# The bash completion offers what each command takes: its options, the values of an option, the
# taps attached (by interface and MAC address, other interfaces left out) and settings files.
# Run by tools/testbed/in-netns.sh, in namespaces of its own, where two taps and one other
# interface are made and /sys shows only them.
#   in-netns.sh completion_test.sh <completion script>
set -euo pipefail
script=$(realpath "$1")
if [ "${KALVESSA_NETNS:-}" != 1 ]; then
    [ -z "${CI:-}" ] || { echo "FAIL: ${KALVESSA_NETNS_WHY:-not run by in-netns.sh}" >&2; exit 1; }
    echo "SKIP: ${KALVESSA_NETNS_WHY:-not run by in-netns.sh}"
    exit 0
fi
mount -t sysfs sysfs /sys
ip link add kvtap0 address 00:0e:c6:12:34:56 type veth peer name kvsim0 address 02:00:00:00:00:01
ip link add kvtap1 address 00:0E:C6:12:34:57 type veth peer name kvsim1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/capture.json" "$scratch/notes.txt"
cd "$scratch"

# What bash-completion itself provides, as far as the script uses it.
_init_completion() {
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    cur=${words[cword]}
    prev=${words[cword - 1]}
}
_filedir() {
    local ext=${1:-}
    COMPREPLY+=($(compgen -f -X "${ext:+!*.$ext}" -- "$cur"))
}
__ltrim_colon_completions() { :; }
complete() { :; }
# shellcheck source=/dev/null
source "$script"

failed=0
# completes LINE (the last word is completed) and checks the offer has, or lacks ("!word"), words
expect() {
    local line=$1
    shift
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _kalvessa100ctl
    local offered=" ${COMPREPLY[*]} " word
    for word in "$@"; do
        if [[ $word == !* ]]; then
            [[ $offered != *" ${word#!} "* ]] && continue
        else
            [[ $offered == *" $word "* ]] && continue
        fi
        echo "FAIL: '$line' offers [${COMPREPLY[*]}], expected $word"
        failed=$((failed + 1))
    done
}

expect "kalvessa100ctl " list show apply save-profile update-firmware --json
expect "kalvessa100ctl --json sh" show '!list'
expect "kalvessa100ctl -t kvtap0 " show apply
expect "kalvessa100ctl apply --" --profile --store --check --ip-proto --all --tap '!--pcap'
expect "kalvessa100ctl update-firmware -" -y --yes --force-stand-in '!--profile'
expect "kalvessa100ctl preview -" --pcap --write '!--all'
expect "kalvessa100ctl show --tap " kvtap0 00:0e:c6:12:34:56 kvtap1 00:0e:c6:12:34:57 '!kvsim0' \
    '!02:00:00:00:00:01'
expect "kalvessa100ctl apply " kvtap0 00:0e:c6:12:34:57
expect "kalvessa100ctl apply --match " keep discard
expect "kalvessa100ctl apply --ip-proto u" udp '!tcp'
expect "kalvessa100ctl apply --profile " capture.json - '!notes.txt'
expect "kalvessa100ctl save-profile " capture.json '!notes.txt' '!kvtap0'

[ "$failed" -eq 0 ] || exit 1
echo "completion: every offer as expected"
