#!/usr/bin/env bash
# The lock annotations have teeth: clang's analysis accepts a page-manager call
# made under the database lock and refuses the same call without it.
#   thread-safety-test.sh SOURCE-ROOT
set -euo pipefail
root=$1
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ is not installed (./dev installs it)"
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

# compile NAME BODY OUTCOME: BODY is the body of a function given a page manager.
compile() {
  local name=$1 body=$2 outcome=$3 out rc
  cat >"$scratch/probe.cpp" <<CPP
#include "storage/VEXPage.h"
void Probe(vex::TVEXPageManager& pm, vex::TVEXPage* page) {
  $body
}
CPP
  set +e
  out=$(clang++ -std=c++20 -fsyntax-only -Wthread-safety -Werror -I"$root/platform" -I"$root/engine" \
    "$scratch/probe.cpp" 2>&1)
  rc=$?
  set -e
  if [[ $outcome == accepted && $rc -ne 0 ]]; then
    echo "FAIL $name: refused: $out"
    failed=1
  elif [[ $outcome == refused && ($rc -eq 0 || $out != *"requires holding"*) ]]; then
    echo "FAIL $name: expected a thread-safety error, got rc $rc: $out"
    failed=1
  else
    echo "ok   $name"
  fi
}

compile "release under the database lock" \
  'vex::TVEXLockGuard held(pm.DatabaseLock()); pm.PutPage(page);' accepted
compile "release without the lock" 'pm.PutPage(page);' refused
compile "commit after the lock is released" \
  '{ vex::TVEXLockGuard held(pm.DatabaseLock()); pm.PutPage(page); } pm.ApplyChanges(1);' refused
exit $failed
