#!/usr/bin/env bash
# The layer check on small trees built in a scratch folder: each planted
# include of a layer above fails the check and is named in its report; the
# includes the layering allows pass. The real tree is never touched.
#   check-layers-test.sh PATH-TO-check-layers
set -euo pipefail
check=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

# A tree with one file per layer, each including only what it may.
base_tree() {
  local t=$1
  rm -rf "$t" && mkdir -p "$t"/platform/rtl "$t"/engine/foundation "$t"/engine/storage \
    "$t"/engine/components "$t"/engine/sql "$t"/plugin
  printf '#include <string>\n#include "rtl/Exception.h"\n' >"$t"/platform/rtl/Exception.h
  printf '#include "rtl/Exception.h"\n' >"$t"/engine/foundation/VEXExcept.h
  printf '#include "foundation/VEXExcept.h"\n#include "storage/VEXSeams.h"\n' >"$t"/engine/storage/VEXPage.cpp
  printf '#include "foundation/VEXExcept.h"\n' >"$t"/engine/storage/VEXSeams.h
  printf '#include "storage/VEXSeams.h"\n#include "sql/VEXExpressions.h"\n' >"$t"/engine/components/VEXMain.cpp
  printf '#include "components/VEXMain.h"\n' >"$t"/engine/sql/VEXExpressions.cpp
  printf '#include "components/VEXMain.h"\n#include "rtl/Exception.h"\n' >"$t"/plugin/OtaDataModule.h
}

# expect NAME FILE INCLUDE OUTCOME: plants INCLUDE into FILE of a fresh tree and
# expects the check to pass or fail (naming FILE).
expect() {
  local name=$1 file=$2 include=$3 outcome=$4 t="$scratch/tree" out rc
  base_tree "$t"
  [[ -n $file ]] && printf '#include %s\n' "$include" >>"$t/$file"
  set +e
  out=$("$check" "$t" 2>&1)
  rc=$?
  set -e
  if [[ $outcome == pass && $rc -ne 0 ]]; then
    echo "FAIL $name: expected to pass, got: $out"
    failed=1
  elif [[ $outcome == fail && ($rc -ne 1 || $out != *"$file:"*"upward include"*) ]]; then
    echo "FAIL $name: expected a report on $file, got rc $rc: $out"
    failed=1
  else
    echo "ok   $name"
  fi
}

expect "allowed includes"               ""                               ""                          pass
expect "platform includes foundation"   platform/rtl/Exception.h         '"foundation/VEXExcept.h"'  fail
expect "platform includes plug-in"      platform/rtl/Exception.h         '"OtaDataModule.h"'         fail
expect "foundation includes storage"    engine/foundation/VEXExcept.h    '"storage/VEXPage.h"'       fail
expect "foundation includes sql"        engine/foundation/VEXExcept.h    '<sql/VEXExpressions.h>'    fail
expect "storage includes components"    engine/storage/VEXPage.cpp       '"components/VEXMain.h"'    fail
expect "storage includes sql"           engine/storage/VEXSeams.h        '"sql/VEXExpressions.h"'    fail
expect "sql includes plug-in"           engine/sql/VEXExpressions.cpp    '"OtaDataModule.h"'         fail
expect "components includes foundation" engine/components/VEXMain.cpp    '"foundation/VEXExcept.h"'  pass
expect "plug-in includes storage"       plugin/OtaDataModule.h           '"storage/VEXPage.h"'       pass

# And the real tree is clean.
if ! "$check" >/dev/null; then
  echo "FAIL the repository has upward includes"
  failed=1
fi
exit $failed
