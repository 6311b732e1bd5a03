#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# CTest wrapper around uml-run.sh: user-mode Linux that cannot start (125)
# is a skip on a developer machine and a failure in CI (CI=true).
"$(dirname "$0")/uml-run.sh" "$@"
status=$?
if [ $status -eq 125 ] && [ "${CI:-}" = "true" ]; then
  echo "run-in-uml: user-mode Linux is required in CI" >&2
  exit 1
fi
exit $status
