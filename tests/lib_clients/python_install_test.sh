#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# The README's install of the Python package into a virtual environment,
# offline (no index is asked): a fresh venv that sees Debian's setuptools
# and wheel, pip building the package from a copy of python/ (it builds in
# the tree it is given), and the installed package importing the library
# through the dynamic loader and naming its key.
#   python_install_test.sh PYTHON PACKAGE_DIR LIBRARY
set -euo pipefail
python=$1 package=$2 library=$3
skip() {
  echo "SKIP: $*"
  exit 77
}
"$python" -c 'import ensurepip, venv' 2> /dev/null || skip "$python has no venv (apt-get install python3-venv)"
"$python" -c 'import setuptools, wheel' 2> /dev/null ||
  skip "$python has no setuptools or wheel (apt-get install python3-setuptools python3-wheel)"
work=$(mktemp -d "${TMPDIR:-/tmp}/signcheck-venv.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cp -R "$package" "$work/python"
rm -rf "$work/python/build" "$work/python"/*.egg-info
unset PYTHONPATH SIGNCHECK_LIBRARY
"$python" -m venv --system-site-packages "$work/venv" || fail "python3 -m venv --system-site-packages failed"
"$work/venv/bin/pip" install --quiet --disable-pip-version-check --no-build-isolation --no-index "$work/python" ||
  fail "pip install --no-build-isolation --no-index failed"
cd "$work"
id=$(LD_LIBRARY_PATH=$(dirname "$library") "$work/venv/bin/python" -c '
import os, sys, signcheck
assert signcheck.__file__.startswith(sys.prefix + os.sep), signcheck.__file__
assert os.path.exists(os.path.join(os.path.dirname(signcheck.__file__), "py.typed"))
print(signcheck.key_id())') || fail "the installed package does not import, or is not the venv's"
[[ $id =~ ^[0-9a-f]{16}$ ]] || fail "signcheck.key_id() gave '$id'"
echo "PASS: installed in a fresh venv, offline; key $id"
