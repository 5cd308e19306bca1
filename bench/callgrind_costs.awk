# Reads a callgrind output file (one event, Ir) and prints, tab-separated:
#   fn     <inclusive> <self> <object> <function>   for every function
#   init   <inclusive> <object>                     for library constructors
# Inclusive cost is the function's own cost plus the inclusive cost of every
# call it makes, whatever source file (inlined code) a line belongs to; this
# is what callgrind_annotate --inclusive=yes splits by file. "init" sums, per
# object, the constructors that run before main(): the calls that call_init
# (dynamic loader) makes into libraries, and those __libc_start_main makes
# into the program. Nested levels of a recursive function carry callgrind's
# 'N suffix and are not counted twice.

# Callgrind compresses names: "(id) name" defines an id, "(id)" reuses it.
# ob/cob, fn/cfn and the file kinds each share one table.
function resolve(kind, text,    id, rest) {
    if (substr(text, 1, 1) != "(") {
        return text
    }
    id = substr(text, 2, index(text, ")") - 2)
    rest = substr(text, index(text, ")") + 1)
    sub(/^ /, "", rest)
    if (rest != "") {
        names[kind, id] = rest
    }
    return names[kind, id]
}

BEGIN { object = "???"; function_name = "???"; in_call = 0; callee_object = "" }

/^ob=/  { object = resolve("ob", substr($0, 4)); next }
/^cob=/ { callee_object = resolve("ob", substr($0, 5)); next }
/^fn=/  { function_name = resolve("fn", substr($0, 4)); callee_object = ""; next }
/^cfn=/ { resolve("fn", substr($0, 5)); next }
/^(fl|fi|fe|cfi|cfl)=/ { next }
/^calls=/ { in_call = 1; next }

/^[0-9+*-]/ {
    cost = $NF + 0
    key = object SUBSEP function_name
    inclusive[key] += cost
    if (in_call) {
        target = callee_object != "" ? callee_object : object
        if (function_name == "call_init" && object ~ /ld-linux/) {
            init[target] += cost
        } else if (function_name ~ /^__libc_start_main/ && target !~ /(ld-linux|libc\.so)/) {
            init[target] += cost
        }
        in_call = 0
        callee_object = ""
    } else {
        self[key] += cost
    }
    next
}

END {
    for (key in inclusive) {
        split(key, pieces, SUBSEP)
        printf "fn\t%d\t%d\t%s\t%s\n", inclusive[key], self[key] + 0, pieces[1], pieces[2]
    }
    for (target in init) {
        printf "init\t%d\t%s\n", init[target], target
    }
}
