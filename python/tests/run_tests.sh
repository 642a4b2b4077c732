#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Runs the Python package's tests with pytest:  run_tests.sh PYTHON
# (ctest: lib_clients.python, which sets PYTHONPATH, SIGNCHECK_LIBRARY and
# the settings test_signcheck.py names).  Skips (77) without pytest.
set -euo pipefail
python=$1
if ! "$python" -c 'import pytest' 2> /dev/null; then
  echo "SKIP: $python has no pytest (Debian package python3-pytest)"
  exit 77
fi
exec "$python" -m pytest -q -rs -p no:cacheprovider "$(dirname "$0")"
