#!/usr/bin/env bash
# Mutation proof: plants each fault of tests/mutants/faults.txt (filtered by an extended regex
# over the ids) in turn, builds its stage's preset and runs that stage's suite, which must fail.
# Run from the tree's root: tests/mutants/run.sh [ID-REGEX]. Logs go to build/mutants/ID.log.
# Results: CAUGHT, MISSED (the suite passed), NOBUILD (the fault does not compile) or STALE (the
# old text is not in the file exactly once). Exits non-zero unless every fault was CAUGHT.
set -uo pipefail
filter=${1:-.}
logs=build/mutants
mkdir -p "$logs"
target="" wine=0 bad=0 count=0

# Puts the planted file back (with a new time stamp, so the next build sees it) and ends the
# Wine server; on every exit, also an interrupted one.
restore() {
  if [ -n "$target" ]; then cp "$logs/original" "$target" && touch "$target"; target=""; fi
}
finish() {
  restore
  [ "$wine" -eq 0 ] || WINEPREFIX="$PWD/build/wineprefix" wineserver -k >/dev/null 2>&1 || true
}
trap finish EXIT
trap 'exit 130' INT TERM

while IFS= read -r line <&3; do
  case $line in '' | '#'*) continue ;; esac
  fields=()
  rest=$line
  for _ in 1 2 3 4; do fields+=("${rest%% | *}"); rest=${rest#* | }; done
  fields+=("$rest")
  id=${fields[0]} stage=${fields[1]} file=${fields[2]} old=${fields[3]} new=${fields[4]}
  [ "$new" = "-" ] && new=""
  [[ $id =~ $filter ]] || continue
  count=$((count + 1)) started=$SECONDS log="$logs/$id.log"
  occurrences=$(perl -0777 -ne 'BEGIN { ($old = shift) =~ s/\\n/\n/g } $n = () = /\Q$old\E/g; print $n' "$old" "$file" 2>/dev/null)
  if [ "${occurrences:-0}" != 1 ]; then
    result=STALE
  else
    cp "$file" "$logs/original" && target=$file
    perl -0777 -i -pe 'BEGIN { ($old, $new) = (shift, shift); s/\\n/\n/g for $old, $new } s/\Q$old\E/$new/' "$old" "$new" "$file"
    if [ "$stage" = windows ] && [ "$wine" -eq 0 ]; then
      # One Wine server for the whole run, as scripts/test.sh keeps it through its stage.
      mkdir -p build/wineprefix
      WINEPREFIX="$PWD/build/wineprefix" WINEARCH=win64 wineserver -p >/dev/null 2>&1 || true
      scripts/wine-run.sh wineboot --init >/dev/null 2>&1 || true
      wine=1
    fi
    { [ -d "build/$stage" ] || cmake --preset "$stage"; } >"$log" 2>&1
    if ! cmake --build --preset "$stage" -j2 >>"$log" 2>&1; then
      result=NOBUILD
    elif ctest --preset "$stage" -j2 --timeout 900 --stop-on-failure >>"$log" 2>&1; then
      result=MISSED
    else
      result=CAUGHT
    fi
    restore
  fi
  [ "$result" = CAUGHT ] || bad=$((bad + 1))
  printf '%-34s %-10s %-8s %4ds\n' "$id" "$stage" "$result" $((SECONDS - started))
done 3<tests/mutants/faults.txt
echo "$((count - bad)) of $count faults caught"
[ "$bad" -eq 0 ]
