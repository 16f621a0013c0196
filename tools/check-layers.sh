#!/usr/bin/env bash
# The layering rules of src/, checked on the source text: the core prints nothing (only the
# listing formatter of src/records writes lines, through the output buffer), nothing below the
# programs ends the process, and every folder includes only its own layer and those below it.
# Usage: tools/check-layers.sh [SOURCE_DIR]; prints each offending line and fails when there is one.
set -uo pipefail
cd "${1:-$(dirname "$0")/..}/src" || exit 2

fail=0
# Lines of code only: comment lines are left out.
code() { grep -nHE "$1" "${@:2}" 2>/dev/null | grep -vE '^[^:]+:[0-9]+:[[:space:]]*//'; }

say() {
  local what=$1 hits=$2
  if [ -n "$hits" ]; then
    echo "$what:"
    echo "$hits" | sed 's/^/  /'
    fail=1
  fi
}

# 1. The core writes nothing to standard output or standard error.
core_files=$(find input records analysis battery merge -name '*.cpp' -o -name '*.h' | grep -v '^records/listing\.cpp$')
say "the core prints" "$(code '(^|[^sn])printf[[:space:]]*\(|\bputs[[:space:]]*\(|\bfputs[[:space:]]*\(|\bputchar[[:space:]]*\(|\bfwrite[[:space:]]*\(|\bperror[[:space:]]*\(|\bstdout\b|\bstderr\b|std::cout|std::cerr|\bOut(Sz|Cch|Char)[[:space:]]*\(|PrintSectionTitle' $core_files)"

# 2. Only the programs end the process: src/driver (quenfell) and each program's main.cpp.
below=$(find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||' | grep -vE '^driver/|/main\.cpp$')
say "the process ends below the programs" "$(code '(^|[^_[:alnum:]])(std::)?(exit|_Exit|quick_exit)[[:space:]]*\(|GiveUsageAndExit|ExitFatal' $below)"

# 3. Includes point one way. Each folder lists the folders it may include from.
declare -A allowed=(
  [support]="support"
  [input]="support input"
  [records]="support input records"
  [analysis]="support input records analysis"
  [battery]="support input records battery"
  [merge]="support input records analysis merge"
  [report]="support input records analysis battery merge report"
  [plot]="support input records analysis battery merge report db plot"
  [db]="support input records analysis battery merge db"
  [driver]="support input records analysis battery merge report driver"
)
for dir in "${!allowed[@]}"; do
  [ -d "$dir" ] || continue
  while IFS= read -r hit; do
    inc=$(echo "$hit" | sed -E 's/.*#include "([^/"]+)\/.*/\1/')
    case " ${allowed[$dir]} " in *" $inc "*) ;; *) say "$dir includes from $inc" "$hit" ;; esac
  done < <(grep -nHE '^#include "[^/"]+/' $(find "$dir" -name '*.cpp' -o -name '*.h'))
done

exit $fail
