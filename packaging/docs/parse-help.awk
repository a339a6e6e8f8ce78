# Reads one help text of a CLI11 program and prints what it lists, one tab-separated record a line:
#   summary SCOPE TEXT                      the first line
#   usage   SCOPE TEXT                      the usage line, after "Usage: PROGRAM"
#   cmd     SCOPE GROUP NAME SUMMARY        a command of this scope
#   opt     SCOPE NAMES KIND PLACEHOLDER NOTES DESCRIPTION
#   pos     SCOPE INDEX NAME KIND REPEATED NOTES DESCRIPTION   (REPEATED: "repeated" or "")
#   footer  SCOPE TEXT                      a paragraph after the lists
# KIND says what a value is: "" (an option without one), any, file, dir, or "words A B C".
# Variables: scope (the command words, "" for the program), files and dirs (option names whose
# value is a file or a folder, space-separated).
function trim(s) {
  sub(/^ +/, "", s)
  sub(/ +$/, "", s)
  return s
}
function flush() {
  if (kind_of_entry == "") return
  if (kind_of_entry == "opt") emit_option(spec, desc)
  else if (kind_of_entry == "pos") emit_positional(spec, desc)
  else print "cmd\t" scope "\t" section "\t" spec "\t" desc
  kind_of_entry = ""
}
function flush_footer() {
  if (footer != "") print "footer\t" scope "\t" footer
  footer = ""
}
# The part of a spec after the names: TYPE[:VALIDATOR][=DEFAULT] [...] [REQUIRED] [Excludes: ...].
function describe_tail(tail, name,    notes, type, validator, pos, default_value) {
  notes = ""
  value_kind = "any"
  placeholder = ""
  repeated = 0
  required = 0
  tail = " " tail
  if ((pos = index(tail, " Excludes: ")) > 0) {
    excludes = substr(tail, pos + 11)
    tail = substr(tail, 1, pos - 1)
    gsub(/ /, ", ", excludes)
    notes = notes " Not with " excludes "."
  }
  if ((pos = index(tail, " Needs: ")) > 0) {
    needs = substr(tail, pos + 8)
    tail = substr(tail, 1, pos - 1)
    gsub(/ /, ", ", needs)
    notes = notes " Needs " needs "."
  }
  if (tail ~ / REQUIRED$/) {
    required = 1
    tail = substr(tail, 1, length(tail) - 9)
  }
  if (tail ~ / \.\.\.$/) {
    repeated = 1
    tail = substr(tail, 1, length(tail) - 4)
  }
  tail = trim(tail)
  if (tail == "") {
    value_kind = ""
    return notes
  }
  default_value = ""
  if (match(tail, /=[^]}=]*$/)) {
    default_value = substr(tail, RSTART + 1)
    tail = substr(tail, 1, RSTART - 1)
  }
  type = tail
  validator = ""
  if ((pos = index(tail, ":")) > 0) {
    type = substr(tail, 1, pos - 1)
    validator = substr(tail, pos + 1)
  }
  placeholder = type
  if (validator ~ /^\{.*\}$/) {
    choices = substr(validator, 2, length(validator) - 2)
    gsub(/,/, " ", choices)
    value_kind = "words " choices
    gsub(/ /, ", ", choices)
    notes = " One of " choices "." notes
  } else if (match(validator, / in \[.* - .*\]$/)) {
    range = substr(validator, RSTART + 5, RLENGTH - 6)
    sub(/ - /, " to ", range)
    notes = " From " range "." notes
  } else if (validator != "") {
    notes = " " validator "." notes
  }
  if (default_value != "") notes = notes " Default: " default_value "."
  if (repeated) notes = notes " May be given more than once."
  lowered = tolower(name)
  if (index(" " dirs " ", " " name " ")) value_kind = "dir"
  else if (index(" " files " ", " " name " ") || lowered ~ /file/) value_kind = "file"
  return notes
}
function emit_option(spec, desc,    names, tail, pos, notes, first) {
  pos = index(spec, " ")
  names = pos ? substr(spec, 1, pos - 1) : spec
  tail = pos ? substr(spec, pos + 1) : ""
  first = names
  sub(/.*,/, "", first)
  notes = describe_tail(tail, first)
  if (required) notes = " Required." notes
  print "opt\t" scope "\t" names "\t" value_kind "\t" placeholder "\t" trim(notes) "\t" desc
}
function emit_positional(spec, desc,    name, tail, pos, notes) {
  pos = index(spec, " ")
  name = pos ? substr(spec, 1, pos - 1) : spec
  tail = pos ? substr(spec, pos + 1) : ""
  notes = describe_tail(tail, name)
  print "pos\t" scope "\t" positionals++ "\t" name "\t" value_kind (repeated ? "\trepeated" : "\t") "\t" trim(notes) "\t" desc
}
NR == 1 {
  print "summary\t" scope "\t" $0
  next
}
/^Usage: / {
  line = substr($0, 8)
  sub(/^[^ ]+/, "", line)
  print "usage\t" scope "\t" trim(line)
  next
}
/^$/ {
  flush()
  flush_footer()
  next
}
/^[^ ].*:$/ {
  flush()
  flush_footer()
  section = substr($0, 1, length($0) - 1)
  next
}
/^   / {
  # A description on its own line, below a long spec.
  desc = trim(desc " " trim($0))
  next
}
/^  [^ ]/ {
  flush()
  line = substr($0, 3)
  pos = match(line, /  +/)
  spec = pos ? substr(line, 1, RSTART - 1) : line
  desc = pos ? trim(substr(line, RSTART + RLENGTH)) : ""
  kind_of_entry = section == "Options" ? "opt" : section == "Positionals" ? "pos" : "cmd"
  next
}
{
  flush()
  footer = trim(footer " " $0)
}
END {
  flush()
  flush_footer()
}
