#!/usr/bin/env bash
# The bash completions the build wrote, called as bash calls them: COMP_WORDS and COMP_CWORD set
# for a command line whose last word is being completed, then the words offered. F is a folder
# holding a.bin, a.csv and the folder sub.
set -euo pipefail
build=$1
completions=$build/packaging/docs/completions
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
touch "$files/a.bin" "$files/a.csv"
mkdir "$files/sub"
F=$files

# What the completion offers for a line; words are split at spaces (an = on its own as bash
# splits --option=value), a line ending in a space completes an empty word.
complete_line() {
  bash --norc --noprofile -c '
    source "$1/$2" || exit 1
    read -ra COMP_WORDS <<<"$3"
    [[ $3 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    function=$(complete -p "$2" | sed -E "s/.*-F ([^ ]+) .*/\1/")
    "$function" "$2" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "' _ "$completions" "${1%% *}" "$1"
}

failures=0
# line | the words offered
while IFS='|' read -r line expected; do
  [[ -n $line ]] || continue
  line=${line//\$F/$F}
  expected=${expected//\$F/$F}
  got=$(complete_line "$line")
  if [[ $got != "$expected" ]]; then
    echo "completion test: '$line' offered '$got', expected '$expected'" >&2
    failures=$((failures + 1))
  fi
done <<'CASES'
zvk lo|locate log
zvk re|read reboot reset-defaults reset-ref reset-th-ref restore
zvk --h|--help --host --hosts
zvk --host 10.0.0.9 --port 13577 --yes wi|wifi-mode
zvk log --in|--interval
zvk read --c|--count --csv
zvk info --h|--help
zvk setup s|static-ip station
zvk setup station --type w|wep wpa
zvk setup station --type = w|wep wpa
zvk wifi-mode |ap station
zvk read --count |
zvk --hosts $F/a.c|$F/a.csv
zvk setup ap --key-file $F/a|$F/a.bin $F/a.csv
zvk firmware $F/|$F/a.bin $F/a.csv $F/sub
zvk log --interval 5 $F/a.c|$F/a.csv
zvk log --interval = 5 $F/a.c|$F/a.csv
zvk log $F/a.csv |
zvk write-file |
zvk write-file /local/notes.txt $F/a.b|$F/a.bin
zvk-sim --mo|--model --module-faults
zvk-sim --vref AI|AI0 AI1 AI2 AI3 AI4
zvk-sim --files $F/|$F/sub
zvk-sim --port |
CASES
((failures == 0)) || exit 1
echo "completion test: passed"
