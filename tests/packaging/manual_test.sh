#!/usr/bin/env bash
# The manual pages the build wrote against the programs' help: every command and option the help
# lists is in the page (each command's own options under its entry, each variable under
# ENVIRONMENT), and the page names no command, option or environment variable the help does not.
# The pages render without warnings.
set -euo pipefail
build=$1
docs=$build/packaging/docs
fail() {
  echo "manual test: $*" >&2
  exit 1
}

# The page as text, without fonts and escapes.
plain() {
  sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\&//g' -e 's/\\e/\\/g' "$1"
}
# The option names in a text: --long and -s, not the hyphens inside words or before numbers.
options_in() {
  grep -oE -- '(^|[^-[:alnum:]_])--?[[:alpha:]][-[:alnum:]]*' | sed -E 's/^[^-]*//' | sort -u
}
# "command PATH" and "option PATH NAME" of a help text and of its commands' helps.
help_names() {
  local program=$1 scope=$2 help
  # shellcheck disable=SC2086 # the scope's words are the command's words
  help=$("$program" $scope --help)
  awk -v scope="$scope" '
    /^[^ ].*:$/ { section = $0; next }
    /^  [^ ]/ {
      if (section == "Options:") {
        n = split($1, names, ",")
        for (i = 1; i <= n; ++i) print "option\t" scope "\t" names[i]
      } else if (section != "Positionals:") {
        print "command\t" (scope == "" ? "" : scope " ") $1
      }
    }' <<<"$help"
  local command
  for command in $(awk '/^[^ ].*:$/ { section = $0; next }
      /^  [^ ]/ && section != "Options:" && section != "Positionals:" { print $1 }' <<<"$help"); do
    help_names "$program" "${scope:+$scope }$command"
  done
}

for name in zvk zvk-sim; do
  program=$build/bin/$name
  page=$docs/$name.1
  [[ -s $page ]] || fail "$page was not written"
  text=$(plain "$page")
  names=$(help_names "$program" "")
  all_help=$(
    "$program" --help
    awk -F '\t' '$1 == "command" { print $2 }' <<<"$names" | while IFS= read -r command; do
      # shellcheck disable=SC2086 # the command's words
      "$program" $command --help
    done
  )

  # Options: the same set in the page as in the help.
  help_options=$(awk -F '\t' '$1 == "option" { print $3 }' <<<"$names" | sort -u)
  page_options=$(options_in <<<"$text")
  [[ $page_options == "$help_options" ]] || fail "$name: the page's options differ from the help's:
$(diff <(echo "$help_options") <(echo "$page_options") || true)"

  # Commands: the entries of COMMANDS are the help's commands, each with its summary and, under
  # it, its own options.
  help_commands=$(awk -F '\t' '$1 == "command" { print $2 }' <<<"$names" | sort)
  # A command's entry starts with its usage line: "setup ap [options] ...".
  headings='prev == ".TP" && /^[a-z][-a-z ]* \[options\]/ { path = $0; sub(/ \[options\].*/, "", path) }'
  page_commands=$(awk "$headings"' path != "" { print path; path = "" } { prev = $0 }' <<<"$text" | sort)
  [[ $page_commands == "$help_commands" ]] || fail "$name: the page's commands differ from the help's:
$(diff <(echo "$help_commands") <(echo "$page_commands") || true)"
  while IFS= read -r command; do
    [[ -n $command ]] || continue
    # shellcheck disable=SC2086
    summary=$("$program" $command --help | head -1)
    # The entry: from its usage line to the next command's.
    entry=$(awk -v command="$command" "$headings"' path != "" { inside = path == command; path = "" }
      /^\.SH/ { inside = 0 } inside { print } { prev = $0 }' <<<"$text")
    grep -qF -- "$summary" <<<"$entry" || fail "$name $command: the page lacks the summary '$summary'"
    for option in $(awk -F '\t' -v c="$command" '$1 == "option" && $2 == c { print $3 }' <<<"$names"); do
      [[ $option == -h || $option == --help ]] && continue
      options_in <<<"$entry" | grep -qx -- "$option" || fail "$name $command: $option is not under its entry"
    done
  done <<<"$help_commands"

  # Environment variables: those the help names.
  for variable in $(grep -oE 'ZVK_[A-Z_]+' <<<"$text" | sort -u); do
    grep -q -- "$variable" <<<"$all_help" || fail "$name: the page names $variable, the help does not"
  done
  environment=$(awk '/^\.SH/ { inside = $0 ~ /ENVIRONMENT/ } inside' <<<"$text")
  for variable in $(grep -oE 'ZVK_[A-Z_]+' <<<"$all_help" | sort -u); do
    grep -qx -- ".B $variable" <<<"$environment" || fail "$name: ENVIRONMENT lacks $variable"
  done

  # The page renders without a warning, and the installed form is the page gzip'ed reproducibly.
  warnings=$(groff -ww -man -z "$page" 2>&1)
  [[ -z $warnings ]] || fail "$name: groff warns: $warnings"
  warnings=$(MANWIDTH=80 man -l "$page.gz" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "$name: man warns: $warnings"
  cmp -s <(gzip -dc "$page.gz") "$page" || fail "$name: $page.gz is not the page"
  cmp -s <(gzip -9n <"$page") "$page.gz" || fail "$name: $page.gz is not gzip -9n of the page"
done
echo "manual test: passed"
