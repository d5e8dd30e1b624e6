#!/usr/bin/env bash
# The layer check on small trees of its own: what it must refuse (and name),
# what it must let through.
set -uo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/tools/check-layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A tree whose program folders are $1, each file given as "path|content".
make_tree() {
  local tree=$1 subsystems=$2
  shift 2
  rm -rf "$tree" && mkdir -p "$tree"
  printf 'set(OSTREL_SUBSYSTEMS %s)\n' "$subsystems" > "$tree/CMakeLists.txt"
  for entry in "$@"; do
    mkdir -p "$tree/$(dirname "${entry%%|*}")"
    printf '%b\n' "${entry#*|}" > "$tree/${entry%%|*}"
  done
}

# expect NAME STATUS PATTERN SUBSYSTEMS FILE...: the check ends with STATUS and
# its output matches PATTERN (an empty PATTERN: prints nothing at all).
expect() {
  local name=$1 want=$2 pattern=$3 subsystems=$4
  shift 4
  make_tree "$work/$name" "$subsystems" "$@"
  local output got
  output=$("$script" "$work/$name" 2>&1)
  got=$?
  if [ "$got" -ne "$want" ]; then
    echo "FAILED $name: ended with $got, expected $want; output:"; echo "$output"; failures=$((failures + 1))
  elif [ -z "$pattern" ] && [ -n "$output" ]; then
    echo "FAILED $name: expected no output, got:"; echo "$output"; failures=$((failures + 1))
  elif [ -n "$pattern" ] && ! grep -qE -- "$pattern" <<<"$output"; then
    echo "FAILED $name: output does not match '$pattern':"; echo "$output"; failures=$((failures + 1))
  else
    echo "ok $name"
  fi
}

program="framework core api shell offers install"

expect downward_own_sideways_and_libraries 0 "" "$program" \
  'core/Settings.cpp|#include "core/Settings.h"\n#include "framework/Handles.h"\n#include <windows.h>' \
  'api/Client.cpp|#include "core/Settings.h"\n#include "nlohmann/json.hpp"\n#include "tinyxml2.h"' \
  'shell/Host.cpp|#include "offers/Page.h"\n#include "install/Page.h"' \
  'offers/Page.h|#include "shell/Contract.h"' \
  'core/Commented.cpp|// #include "shell/Host.h" was here once'

expect upward_include_named_with_its_line 1 '^core/Settings\.cpp:3: includes "shell/Host\.h" from shell/, above core/$' "$program" \
  'core/Settings.cpp|#include "core/Settings.h"\n\n#include "shell/Host.h"'

expect every_upward_include_reported 1 '^api/Client\.h:1: .*offers/Page\.h' "$program" \
  'api/Client.h|#include "offers/Page.h"' \
  'framework/Dialog.cpp|#include "api/Client.h"'
both=$("$script" "$work/every_upward_include_reported" 2>/dev/null)
if ! grep -q '^framework/Dialog\.cpp:1: .*api/Client\.h' <<<"$both"; then
  echo "FAILED every_upward_include_reported: the second file is not named"; failures=$((failures + 1))
fi

expect indented_directive_in_a_template 1 '^core/BuildConfig\.h\.in:2: includes "install/Paths\.h"' "$program" \
  'core/BuildConfig.h.in|#pragma once\n  #  include "install/Paths.h"'

expect program_reaching_into_tests 1 '^shell/Host\.cpp:1: includes "tests/common/TestSupport\.h" from tests/' "$program" \
  'shell/Host.cpp|#include "tests/common/TestSupport.h"'

expect folder_without_a_place 1 '^widgets/: .*no place in the order' "$program widgets" \
  'widgets/Knob.cpp|#include "framework/Handles.h"'

expect tests_may_include_anything 0 "" "$program" \
  'tests/unit/HostTest.cpp|#include "shell/Host.h"\n#include "core/Settings.h"'

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
