# Fills the bash completion template (the second input) with what the program's help lists (the
# first input, the records of parse-help.awk): @PROGRAM@ becomes the program's name, @PREFIX@ the
# name of its completion function, and the line "# @TABLES@" the functions that answer, for a
# command (its words, "" for the program itself):
#   PREFIX_commands SCOPE          the commands under it
#   PREFIX_options SCOPE           its options
#   PREFIX_value SCOPE OPTION      what the option's value is ("" when it takes none)
#   PREFIX_positional SCOPE INDEX  what its INDEXth argument is
# each in REPLY. A value is any, file, dir or "words A B C".
BEGIN {
  FS = "\t"
  prefix = "_" program
  gsub(/[^A-Za-z0-9_]/, "_", prefix)
}
function quote(s) {
  gsub(/'/, "'\\''", s)
  return "'" s "'"
}
function add(table, key, value) {
  if ((table, key) in entries) {
    entries[table, key] = entries[table, key] " " value
  } else {
    order[table, ++count[table]] = key
    entries[table, key] = value
  }
}
function emit(table, function_name, argument,    i, key) {
  print function_name "() {"
  print "  case " argument " in"
  for (i = 1; i <= count[table]; ++i) {
    key = order[table, i]
    print "  " key ") REPLY=" quote(entries[table, key]) " ;;"
  }
  print "  *) REPLY= ;;"
  print "  esac"
  print "}"
}
FNR == NR {
  if ($1 == "cmd") {
    add("commands", quote($2), $4)
  } else if ($1 == "opt") {
    n = split($3, names, ",")
    for (k = 1; k <= n; ++k) {
      add("options", quote($2), names[k])
      if ($4 != "") add("values", quote($2 "|" names[k]), $4)
    }
  } else if ($1 == "pos" && $5 != "any") {
    add("positionals", quote($2 "|" $3) ($6 == "repeated" ? "|" quote($2 "|") "[1-9]*" : ""), $5)
  }
  next
}
$0 == "# @TABLES@" {
  emit("commands", prefix "_commands", "$1")
  emit("options", prefix "_options", "$1")
  emit("values", prefix "_value", "\"$1|$2\"")
  emit("positionals", prefix "_positional", "\"$1|$2\"")
  next
}
{
  gsub(/@PREFIX@/, prefix)
  gsub(/@PROGRAM@/, program)
  print
}
