#!/usr/bin/env bash
# Checks that the engine's calls go downwards only. Reads the module -> layer
# table in scripts/layers.txt, maps every global symbol that an engine object
# defines to its module, and fails on any symbol a module uses from a module of
# a higher layer. Cycles of calls inside one layer are allowed only when
# listed below.
#
#   scripts/layers.sh [object directory]   (default: the release build's)
set -euo pipefail
cd "$(dirname "$0")/.."
objdir=${1:-build/release/CMakeFiles/ambit_engine.dir/src}
table=scripts/layers.txt

# Cycles inside one layer (modules that reach each other through calls),
# each as "members: why it is accepted". Any other cycle fails the check.
allowed_cycles="
dalloc log plat: the allocator logs its failures and makes its lock on the platform; the platform allocates and logs
decblk encblk: the block reader and writer share the cipher key and scratch buffer that the writer's start makes
ssalert ssevent ssmodel ssnotify sspriority sstrack ssutil: the store and the events free each other's lists and record changes; lookups of exchanges; the events report prices to the price tracks, which read the exchange clock and record track changes; the events fire alerts, which the filters record as alert events; the reset frees waiting order details, which look their stocks up in the store
decfill sscache ssclient ssio ssio-direct ssio-http ssio-http-proxy ssio-state ssproto: the io loop hands data to the client and the dispatcher, which tell the client of sign-off, online, stall and acknowledgement; the request encoder tries the cache first, and the cache replays saved data through the dispatcher, which saves what it decodes to the cache; the dispatcher's backfill messages run the fills, which decode their saved messages through the dispatcher
"

shopt -s nullglob
objs=("$objdir"/*.o)
if [ ${#objs[@]} -eq 0 ]; then
  echo "layers: no objects in $objdir (build the release preset first)" >&2
  exit 2
fi

# One line per symbol: "<module> <D|U> <symbol>". Weak and local symbols are
# skipped: inline functions and templates belong to every object using them.
symbols=$(for o in "${objs[@]}"; do
  m=$(basename "$o" .cpp.o)
  nm "$o" | awk -v m="$m" 'NF == 3 && $2 ~ /^[TDBRC]$/ { print m, "D", $3 }
                            NF == 2 && $1 == "U" { print m, "U", $2 }'
done)

awk -v cycles="$allowed_cycles" '
  function module_of(file,   m) {
    # A file belongs to the module named in the table, or to the longest
    # listed prefix before an underscore (ssevent_depth -> ssevent).
    m = file
    while (!(m in layer)) {
      if (index(m, "_") == 0) return ""
      sub(/_[^_]*$/, "", m)
    }
    return m
  }
  function sorted(list,   w, c, i, j, t, out) {
    c = split(list, w, " ")
    for (i = 2; i <= c; i++) for (j = i; j > 1 && w[j - 1] > w[j]; j--) { t = w[j]; w[j] = w[j - 1]; w[j - 1] = t }
    out = w[1]
    for (i = 2; i <= c; i++) out = out " " w[i]
    return out
  }
  BEGIN {
    c = split(cycles, lines, "\n")
    for (i = 1; i <= c; i++) {
      sub(/:.*/, "", lines[i])
      if (split(lines[i], w, " ") >= 2) ok[sorted(lines[i])] = 1
    }
  }
  FILENAME == "-" && /^[^#]/ && NF >= 2 { layer[$1] = $2; next }
  FILENAME == "-" { next }
  {
    m = module_of($1)
    if (m == "") { printf "layers: %s.cpp is not in scripts/layers.txt\n", $1; bad = 1; next }
    if ($2 == "D") owner[$3] = m; else use[m " " $3] = 1
  }
  END {
    for (k in use) {
      split(k, p, " "); sym = p[2]; from = p[1]
      if (!(sym in owner)) continue           # outside the engine
      to = owner[sym]
      if (to == from) continue
      if (layer[to] > layer[from]) {
        printf "upward call: %s (layer %d) -> %s (layer %d): %s\n", from, layer[from], to, layer[to], sym
        bad = 1
      }
      edge[from " " to] = 1
    }
    # Modules that reach each other through calls form a cycle; every cycle
    # must lie inside one layer (implied by the check above) and be listed.
    n = 0
    for (e in edge) { split(e, p, " "); for (k = 1; k <= 2; k++) if (!(p[k] in id)) { id[p[k]] = ++n; name[n] = p[k] } }
    for (e in edge) { split(e, p, " "); reach[id[p[1]], id[p[2]]] = 1 }
    for (k = 1; k <= n; k++) for (i = 1; i <= n; i++) if ((i, k) in reach) for (j = 1; j <= n; j++)
      if ((k, j) in reach) reach[i, j] = 1
    for (i = 1; i <= n; i++) {
      if (done[i]) continue
      members = name[i]; count = 1
      for (j = i + 1; j <= n; j++)
        if (((i, j) in reach) && ((j, i) in reach)) { done[j] = 1; members = members " " name[j]; count++ }
      if (count < 2) continue
      key = sorted(members)
      if (!(key in ok)) { printf "cycle not listed: %s (layer %d)\n", key, layer[name[i]]; bad = 1 }
      else seen[key] = 1
    }
    for (key in ok) if (!(key in seen)) printf "layers: listed cycle no longer there: %s\n", key
    exit bad
  }
' - <(echo "$symbols") < <(grep -v '^\s*$' "$table") && echo "layers: ok (${#objs[@]} objects)"
