#!/usr/bin/env bash
# expect-exit.sh CODE COMMAND...: runs COMMAND and succeeds only if it exits with CODE.
set -u
want=$1
shift
"$@"
rc=$?
if [ "$rc" -ne "$want" ]; then
  echo "expect-exit: exit code $rc, expected $want" >&2
  exit 1
fi
exit 0
