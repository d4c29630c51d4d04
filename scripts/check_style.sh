#!/usr/bin/env bash
# The style gate, in two steps that both run; either failing fails the script:
#   1. clang-format-14: every tracked .h/.cpp file must already be formatted
#      as .clang-format says.
#   2. clang-tidy-14 with .clang-tidy over the src/ and tools/ translation
#      units of a configured build (its compile_commands.json); any finding
#      fails, and the whole pass is bounded in time.
#
# usage: scripts/check_style.sh [BUILD_DIR]      (default: build/default)
#   STYLE_JOBS=N          clang-tidy processes at once (default: nproc)
#   STYLE_TIDY_TIMEOUT=S  seconds for the clang-tidy pass (default: 1200)
#   STYLE_TIDY_TESTS=1    also check the tests/ translation units
#
# The build directory must have been configured with
# -DCMAKE_EXPORT_COMPILE_COMMANDS=ON and built far enough that generated
# headers exist; `scripts/dovel.sh style` does both, installs clang-format-14
# and clang-tidy-14, then runs this.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd -P)"

build_dir="${1:-build/default}"
jobs="${STYLE_JOBS:-$(nproc)}"
tidy_timeout="${STYLE_TIDY_TIMEOUT:-1200}"

for tool in clang-format-14 clang-tidy-14 run-clang-tidy-14; do
  command -v "$tool" >/dev/null || { echo "style: $tool is missing; scripts/dovel.sh style installs it" >&2; exit 1; }
done

status=0

echo "style: clang-format-14 over the tracked C++ files"
if git ls-files -z -- '*.h' '*.cpp' | xargs -0 -r clang-format-14 --dry-run -Werror; then
  echo "style: formatting clean"
else
  echo "style: formatting differs; run clang-format-14 -i on the files above" >&2
  status=1
fi

if [ ! -f "$build_dir/compile_commands.json" ]; then
  echo "style: no $build_dir/compile_commands.json; configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON" >&2
  exit 1
fi

# The paths in the database are absolute; match them from this checkout only,
# so nothing under the build directory or outside the tree is reported.
root_re="$(printf '%s' "$root" | sed 's/[][\.*^$+?(){}|]/\\&/g')"
units="src|tools"
[ "${STYLE_TIDY_TESTS:-0}" = 1 ] && units="src|tools|tests"

echo "style: clang-tidy-14 over $units in $build_dir (-j$jobs, at most ${tidy_timeout}s)"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
# -Wno-error: the database carries -Werror for GCC; clang's own warnings are
# not this step's business. run-clang-tidy always asks for colour: strip it.
set +e
timeout --kill-after=30 "$tidy_timeout" \
  run-clang-tidy-14 -quiet -j "$jobs" -p "$build_dir" -clang-tidy-binary clang-tidy-14 \
    -header-filter="^$root_re/(src|tools|tests)/" -extra-arg=-Wno-error "^$root_re/($units)/" 2>&1 |
  sed -u 's/\x1b\[[0-9;]*m//g' | grep -v -E '^clang-tidy-14 |^[0-9]+ warnings? generated\.$' | tee "$log"
tidy=${PIPESTATUS[0]}
set -e
findings="$(grep -E '^/.*:[0-9]+:[0-9]+: (warning|error): .*\[[^]]+\]$' "$log" | sort -u || true)"
if [ "$tidy" -eq 124 ] || [ "$tidy" -eq 137 ]; then
  echo "style: clang-tidy did not finish within ${tidy_timeout}s" >&2
  status=1
elif [ "$tidy" -ne 0 ] || [ -n "$findings" ]; then
  echo "style: clang-tidy findings:" >&2
  if [ -n "$findings" ]; then
    printf '%s\n' "$findings" | sed -E "s#^$root_re/##; s/: (warning|error): .*\[([^],]+)[^]]*\]$/: \2/" >&2
  else
    echo "  (none parsed; see the output above, exit status $tidy)" >&2
  fi
  status=1
else
  echo "style: clang-tidy clean"
fi
exit "$status"
