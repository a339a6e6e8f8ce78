# Fills a manual page template (the second input) with what the program's help lists (the first
# input, the records of parse-help.awk). The template's lines
#   .\" @OPTIONS@     the program's own options
#   .\" @COMMANDS@    every command with its summary, arguments, options and notes
# are replaced; @NAME_LINE@ becomes "PROGRAM \- summary" and @VERSION@ the version (variables
# program and version).
BEGIN {
  FS = "\t"
}
# Text for roff: backslashes and minus signs escaped, no control character at a line's start.
function esc(s,    out, i, c) {
  out = ""
  for (i = 1; i <= length(s); ++i) {
    c = substr(s, i, 1)
    if (c == "\\") out = out "\\e"
    else if (c == "-") out = out "\\-"
    else out = out c
  }
  if (out ~ /^[.']/) out = "\\&" out
  return out
}
function sentence(desc, notes) {
  if (notes == "") return desc
  if (desc !~ /[.]$/) desc = desc "."
  return desc " " notes
}
function render_usage(usage, scope,    n, words, count, i, out, token, pre, post) {
  count = split(usage, words, " ")
  n = scope == "" ? 0 : split(scope, unused, " ")
  out = ""
  for (i = 1; i <= count; ++i) {
    token = words[i]
    if (i <= n) {
      out = out (out == "" ? "" : " ") "\\fB" esc(token) "\\fR"
      continue
    }
    pre = ""
    post = ""
    if (token ~ /^\[/) {
      pre = "["
      token = substr(token, 2)
    }
    if (token ~ /\]$/) {
      post = "]"
      token = substr(token, 1, length(token) - 1)
    }
    if (token ~ /\.\.\.$/) {
      post = " ..." post
      token = substr(token, 1, length(token) - 3)
    }
    sub(/\([0-9]+x\)$/, "", token)
    if (token == "OPTIONS") token = "options"
    if (token == "SUBCOMMAND") token = "command"
    out = out (out == "" ? "" : " ") pre "\\fI" esc(token) "\\fR" post
  }
  return out
}
function render_option(i,    names, count, k, head) {
  count = split(opt_names[i], names, ",")
  head = ""
  for (k = 1; k <= count; ++k) head = head (k > 1 ? ", " : "") "\\fB" esc(names[k]) "\\fR"
  if (opt_placeholder[i] != "") head = head " \\fI" esc(opt_placeholder[i]) "\\fR"
  print ".TP"
  print head
  print esc(sentence(opt_desc[i], opt_notes[i]))
}
function render_options(scope, skip_help,    i) {
  for (i = 1; i <= opts; ++i) {
    if (opt_scope[i] != scope) continue
    if (skip_help && opt_names[i] == "-h,--help") continue
    render_option(i)
  }
}
function render_command(scope,    i, open) {
  print ".TP"
  print render_usage(usage[scope], scope)
  print esc(summary[scope])
  open = 0
  for (i = 1; i <= poss; ++i) {
    if (pos_scope[i] != scope) continue
    if (!open++) print ".RS"
    print ".TP"
    print "\\fI" esc(pos_name[i]) "\\fR"
    print esc(sentence(pos_desc[i], pos_notes[i]))
  }
  for (i = 1; i <= opts; ++i) {
    if (opt_scope[i] != scope || opt_names[i] == "-h,--help") continue
    if (!open++) print ".RS"
    render_option(i)
  }
  if (footer[scope] != "" && footer[scope] != footer[""]) {
    if (!open++) print ".RS"
    print ".PP"
    print esc(footer[scope])
  }
  if (open) print ".RE"
}
function render_commands(scope, top,    i, group) {
  group = ""
  for (i = 1; i <= cmds; ++i) {
    if (cmd_scope[i] != scope) continue
    if (top && cmd_group[i] != group) {
      group = cmd_group[i]
      print ".SS " esc(group)
    }
    render_command(cmd_path[i])
    render_commands(cmd_path[i], 0)
  }
}
FNR == NR {
  if ($1 == "summary") summary[$2] = $3
  else if ($1 == "usage") usage[$2] = $3
  else if ($1 == "footer") footer[$2] = footer[$2] == "" ? $3 : footer[$2] " " $3
  else if ($1 == "cmd") {
    ++cmds
    cmd_scope[cmds] = $2
    cmd_group[cmds] = $3
    cmd_path[cmds] = ($2 == "" ? "" : $2 " ") $4
  } else if ($1 == "opt") {
    ++opts
    opt_scope[opts] = $2
    opt_names[opts] = $3
    opt_placeholder[opts] = $5
    opt_notes[opts] = $6
    opt_desc[opts] = $7
  } else if ($1 == "pos") {
    ++poss
    pos_scope[poss] = $2
    pos_name[poss] = $4
    pos_notes[poss] = $7
    pos_desc[poss] = $8
  }
  next
}
$0 == ".\\\" @OPTIONS@" {
  render_options("", 0)
  next
}
$0 == ".\\\" @COMMANDS@" {
  render_commands("", 1)
  next
}
{
  line = $0
  if (index(line, "@NAME_LINE@")) {
    name_line = summary[""]
    prefix = program ": "
    if (substr(name_line, 1, length(prefix)) == prefix) name_line = substr(name_line, length(prefix) + 1)
    sub(/[.]$/, "", name_line)
    name_line = tolower(substr(name_line, 1, 1)) substr(name_line, 2)
    sub(/@NAME_LINE@/, esc(program) " \\\\- " esc(name_line), line)
  }
  if (index(line, "@VERSION@")) sub(/@VERSION@/, version, line)
  print line
}
