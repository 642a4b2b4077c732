#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Installs the build tree the ways a user and a packager do, then runs the
# installed programs and looks for their manual pages.
#
#   install_test.sh staged  CMAKE BUILD_DIR CONFIG [TEST_KEY]
#       cmake --install with --prefix /usr into a DESTDIR, then with a
#       --prefix of its own
#   install_test.sh package CPACK BUILD_DIR CONFIG [TEST_KEY]
#       the Debian packages that cpack makes, unpacked; copied to the
#       directory $SIGNCHECK_KEEP_PACKAGES when that is set
#   install_test.sh lint PACKAGE_DIR BUILD_DIR
#       the packages kept there, by lintian, hardening-check and
#       dpkg-gensymbols, and their manual pages by mandoc and groff; a tool
#       that is missing is named and the test skipped, after the others ran
#
# CONFIG may be empty.  TEST_KEY is the private key whose public half the
# build compiled in; when given, a file signed with it must pass the
# installed signcheck.  Everything is written below one temporary directory,
# removed at the end; install_manifest.txt, which installing leaves in the
# build directory, is put back as it was.  Status 77 means skipped.
set -euo pipefail

mode=$1 tool=$2 build=$3 config=${4:-} key=${5:-}

# shellcheck source=tests/install/setup.sh
source "$(dirname "$0")/setup.sh"
install_setup "$build" install

# Only the given entries may stand directly in directory $1.
expect_entries() {
  local dir=$1
  shift
  local found expected
  found=$(cd "$dir" && ls -A | sort | tr '\n' ' ')
  expected=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
  [[ $found == "$expected" ]] || fail "$dir holds '$found', expected '$expected'"
}

# The tree below prefix $1 holds the three programs and their pages, and the
# programs run from there.
check_prefix() {
  local prefix=$1 bin=$1/bin man=$1/share/man/man1 status page version ids listed each
  echo "checking $prefix"

  version=$("$bin/signtool" --version) || fail "signtool --version failed"
  [[ $version =~ ^signtool\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "signtool --version printed: $version"
  version=${version#signtool }
  for program in signcheck filedigest signtool; do
    [[ -f $bin/$program && -x $bin/$program ]] || fail "$bin/$program is not installed"
    page=$man/$program.1
    [[ -f $page ]] || page=$page.gz
    [[ -f $page ]] || fail "$man holds no manual page $program(1)"
    if [[ $page == *.gz ]]; then gzip -dc "$page"; else cat "$page"; fi > "$work/page.1"
    grep -q "^\.TH .* \"signcheck $version\"" "$work/page.1" || fail "$page has no version $version in its footer"
  done

  status=0
  "$bin/signcheck" > "$work/out" || status=$?
  [[ $status == 64 ]] || fail "signcheck without arguments exited with $status, not 64"
  [[ $(head -n 1 "$work/out") == "Usage '$bin/signcheck mode filename'" ]] ||
    fail "signcheck without arguments printed: $(cat "$work/out")"

  printf abc > "$work/abc"
  status=0
  "$bin/filedigest" "$work/abc" > "$work/out" || status=$?
  [[ $status == 0 ]] || fail "filedigest exited with $status"
  [[ $(cat "$work/out") == ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad ]] ||
    fail "filedigest of \"abc\" printed: $(cat "$work/out")"

  status=0
  "$bin/signtool" --help > "$work/out" 2>&1 || status=$?
  [[ $status == 0 ]] || fail "signtool --help exited with $status"
  grep -q '^usage: signtool' "$work/out" || fail "signtool --help printed: $(cat "$work/out")"

  # signtool names the keys compiled into the installed signcheck, one a
  # line, whose public halves are installed under their IDs; signcheck(1)
  # names them all, in that order.
  ids=$("$bin/signtool" id "$bin/signcheck") || fail "signtool id $bin/signcheck failed"
  # shellcheck disable=SC2086
  [[ $(cd "$prefix/share/signcheck" && printf '%s\n' * | sort) == "$(printf '%s.pub\n' $ids | sort)" ]] ||
    fail "$prefix/share/signcheck holds: $(ls "$prefix/share/signcheck")"
  for each in $ids; do
    [[ $("$bin/signtool" id "$prefix/share/signcheck/$each.pub") == "$each" ]] || fail "$each.pub is not key $each"
  done
  page=$man/signcheck.1
  [[ -f $page ]] && cat "$page" > "$work/page.1" || gzip -dc "$page.gz" > "$work/page.1"
  listed=$(printf '%s, ' $ids)
  grep -qx "\.ds Ki ${listed%, }" "$work/page.1" || fail "signcheck(1) does not name the keys ${listed%, }"

  if [[ -n $key ]]; then
    # The installed signtool signs and the installed signcheck accepts.
    printf 'url=https://updates.example.com/\r\n' > "$work/list"
    "$bin/signtool" sign --mode nvl "$key" "$work/list" > "$work/list.nvl" 2> "$work/log" ||
      fail "signtool sign failed: $(cat "$work/log")"
    status=0
    "$bin/signcheck" nvl "$work/list.nvl" > "$work/out" || status=$?
    [[ $status == 0 ]] || fail "signcheck rejected a file that signtool signed: $(cat "$work/out")"
    printf 'https://updates.example.com/\r\n' | cmp -s - "$work/out" ||
      fail "signcheck printed for a signed list: $(cat "$work/out")"
  fi
}

# Every manual page below directory $1 renders without a warning and
# passes mandoc -Tlint, where each is installed.
check_pages() {
  local page name
  while IFS= read -r page; do
    # mandoc wants the file name to end in the section.
    name=$(basename "$page" .gz)
    gzip -dc "$page" > "$work/$name"
    if have groff; then
      groff -man -Tutf8 -ww -z "$work/$name" > "$work/groff.log" 2>&1 || true
      [[ ! -s $work/groff.log ]] || { cat "$work/groff.log" >&2; fail "$name does not render cleanly"; }
    fi
    if have mandoc; then
      mandoc -Tlint "$work/$name" > "$work/mandoc.log" 2>&1 || true
      [[ ! -s $work/mandoc.log ]] || { cat "$work/mandoc.log" >&2; fail "$name does not pass mandoc -Tlint"; }
    fi
  done < <(find "$1" -path '*/share/man/man*' -name '*.gz')
}

# hardening-check on an installed program, for what it can judge: of a
# static program it cannot see the stack protector or the fortified calls
# (it looks for them among the dynamic symbols) nor control-flow protection
# (the static C library's objects carry no such mark, so the program has
# none); check_own_code looks at those in the programs' own objects.
check_hardening() {
  local file=$1 expected
  hardening-check "$file" > "$work/hardening.log" 2>&1 || true
  if readelf -l -W "$file" | grep -q INTERP; then
    expected=("Position Independent Executable: yes" "Stack protected: yes" "Fortify Source functions: yes"
              "Read-only relocations: yes" "Immediate binding: yes")
  else
    readelf -h "$file" | grep -q 'DYN (' || fail "$file is static but not position-independent"
    expected=("Read-only relocations: yes" "Immediate binding: yes")
  fi
  for line in "${expected[@]}"; do
    grep -qF " $line" "$work/hardening.log" || { cat "$work/hardening.log" >&2; fail "hardening-check: $file: not '$line'"; }
  done
}

# The objects of the packaged programs' own code, in the build tree: each
# carries the control-flow protection mark on x86-64, and between them they
# call the stack protector's and the fortified functions' checks.  The
# reference verification (verify_reference) is the tests' alone, in no
# package.
check_own_code() {
  local objects=() object calls=""
  mapfile -t objects < <(find "$build"/{cpu,hash,dsa,layouts,check,signcheck,filedigest,signtool}/CMakeFiles -name '*.o' ! -path '*-dynamic.dir/*' \
    ! -path '*/verify_reference.dir/*')
  ((${#objects[@]})) || fail "no objects of the programs found in $build"
  for object in "${objects[@]}"; do
    if [[ $(uname -m) == x86_64 ]]; then
      readelf -n "$object" | grep -q 'IBT, SHSTK' || fail "$object has no control-flow protection"
    fi
    calls+=$(nm -u "$object")$'\n'
  done
  grep -q '__stack_chk_fail' <<< "$calls" || fail "no object of the programs has a stack protector"
  grep -q '__[a-z]*_chk$' <<< "$calls" || fail "no object of the programs calls a fortified function"
}

config_args=()

# Tools the lint mode runs, each with the Debian package that brings it.
declare -A tool_packages=([lintian]=lintian [hardening-check]=devscripts [dpkg-gensymbols]=dpkg-dev
                          [mandoc]=mandoc [groff]=groff-base)
have() {
  command -v "$1" > /dev/null
}

# The packages cpack makes, in $work/package.
make_packages() {
  if [[ ! -f $build/CPackConfig.cmake ]]; then
    echo "SKIP: the build has no packaging"
    exit 77
  fi
  if ! have dpkg-deb; then
    echo "SKIP: dpkg-deb is not installed (apt-get install dpkg)"
    exit 77
  fi
  [[ -n $config ]] && config_args=(-C "$config")
  quietly "$tool" --config "$build/CPackConfig.cmake" -G DEB "${config_args[@]}" -B "$work/package"
  debs=("$work"/package/*.deb)
  [[ ${#debs[@]} == 5 ]] || fail "cpack made not five packages: ${debs[*]}"
}

lib=usr/$(sed -n 's/^SIGNCHECK_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
lib_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
declare -A programs=([signcheck]="signcheck filedigest" [signtool]=signtool)

case $mode in
  staged)
    [[ -n $config ]] && config_args=(--config "$config")
    # As a packager does: the prefix of the target system, below a staging
    # directory.  Nothing may land outside the prefix.
    quietly env DESTDIR="$work/stage" "$tool" --install "$build" "${config_args[@]}" --prefix /usr
    expect_entries "$work/stage" usr
    check_prefix "$work/stage/usr"

    # As a user does: a prefix of one's own, no staging.
    quietly env -u DESTDIR "$tool" --install "$build" "${config_args[@]}" --prefix "$work/prefix"
    check_prefix "$work/prefix"
    ;;
  package)
    make_packages
    if [[ -n ${SIGNCHECK_KEEP_PACKAGES:-} ]]; then
      rm -rf "$SIGNCHECK_KEEP_PACKAGES"
      mkdir -p "$SIGNCHECK_KEEP_PACKAGES"
      cp -p "${debs[@]}" "$SIGNCHECK_KEEP_PACKAGES/"
    fi
    build_ids=$("$build/signtool/signtool" id "$build/signcheck/signcheck") ||
      fail "signtool id on the built signcheck failed"
    build_id=${build_ids%%$'\n'*}
    # What each package holds: its programs, their pages, copyright and
    # changelog; signcheck's programs need nothing but libc, signtool's its
    # libraries.  libsigncheck's two hold the library and what builds with it.
    declare -A needs=([signcheck]="" [signtool]="libssl3 libstdc++6" [libsigncheck1]="libstdc++6"
                      [libsigncheck-dev]=libsigncheck1 [python3-signcheck]="libsigncheck1 python3:any")
    declare -A files=([libsigncheck1]="$lib/libsigncheck.so.$lib_version"
                      [libsigncheck-dev]="usr/include/signcheck.h $lib/libsigncheck.a $lib/pkgconfig/signcheck.pc
                        $lib/cmake/signcheck/signcheckConfig.cmake $lib/cmake/signcheck/signcheckConfigVersion.cmake
                        $lib/cmake/signcheck/signcheckTargets.cmake usr/share/man/man3/libsigncheck.3.gz"
                      [python3-signcheck]="usr/lib/python3/dist-packages/signcheck/__init__.py
                        usr/lib/python3/dist-packages/signcheck/_native.py
                        usr/lib/python3/dist-packages/signcheck/py.typed")
    # The private number of the compiled-in key, which no package may hold
    # (the test reads the key file only to know what to look for).
    private_x=""
    [[ -z $key ]] || private_x=$(sed -n 's/^x[ \t]*=[ \t]*0*\([0-9A-Fa-f]*\).*/\1/p' "$key")
    for package in signcheck signtool libsigncheck1 libsigncheck-dev python3-signcheck; do
      deb=$(echo "$work"/package/"${package}"_*.deb)
      [[ -f $deb ]] || fail "no package $package: ${debs[*]}"
      quietly dpkg-deb -x "$deb" "$work/$package"
      if [[ -n $private_x ]] && grep -rqiF "$private_x" "$work/$package"; then
        fail "package $package holds the private number of the key compiled in"
      fi
      expected=(usr/share/doc/$package/changelog.gz usr/share/doc/$package/copyright)
      if [[ $package == signcheck ]]; then
        for each in $build_ids; do expected+=("usr/share/signcheck/$each.pub"); done
      fi
      # A package of another key than the development key's carries the
      # key serial and its ID in the version.
      version=$(dpkg-deb -f "$deb" Version)
      if [[ $build_id == a86f61831c71892c ]]; then
        [[ $version != *+key* ]] || fail "$package of the development key has version $version"
      else
        [[ $version =~ \+keyset[0-9]+\.${build_ids//$'\n'/.}$ ]] ||
          fail "$package of the keys ${build_ids//$'\n'/ } has version $version"
      fi
      for program in ${programs[$package]:-}; do
        expected+=(usr/bin/$program usr/share/man/man1/$program.1.gz)
      done
      # shellcheck disable=SC2206
      expected+=(${files[$package]:-})
      found=$(cd "$work/$package" && find . -type f ! -path ./usr/share/lintian/overrides/signcheck \
        ! -name 'signcheckTargets-*.cmake' | sed 's|^\./||' | sort)
      [[ $found == "$(printf '%s\n' "${expected[@]}" | sort)" ]] || fail "$package holds: $found"
      depends=$(dpkg-deb -f "$deb" Depends)
      names=$(tr ',' '\n' <<< "$depends" | sed 's/^ *//; s/ .*//' | grep -v '^$' || true)
      for needed in ${needs[$package]}; do
        grep -qxF "$needed" <<< "$names" || fail "$package does not depend on $needed: $depends"
      done
      if [[ -n ${SIGNCHECK_PACKAGE_BUILD:-} ]]; then
        [[ $package != signcheck || -z $(grep -vx libc6 <<< "$names") ]] ||
          fail "signcheck depends on more than libc: $depends"
        for program in ${programs[$package]:-}; do
          file=$work/$package/usr/bin/$program
          ! readelf -S -W "$file" | grep -q '\.comment' || fail "$program has a .comment section"
          readelf -l -W "$file" | grep -q GNU_RELRO || fail "$program has no read-only relocations"
          readelf -d -W "$file" | grep -q 'BIND_NOW\|FLAGS.*NOW' || fail "$program is not linked with -z now"
        done
      fi
      cp -a "$work/$package/." "$work/root/"
    done

    if [[ -n ${SIGNCHECK_PACKAGE_BUILD:-} ]]; then
      check_own_code
    else
      echo "a debug or sanitized build: signcheck's dependencies and the programs' hardening not checked"
    fi
    expect_entries "$work/root" usr
    check_prefix "$work/root/usr"
    # The Python package loads the packaged library and names its key.
    # A sanitized library loads only into a program with the sanitizers'
    # runtime, which python3 is not.
    if command -v python3 > /dev/null && ! grep -q '^SIGNCHECK_SANITIZE:BOOL=ON$' "$build/CMakeCache.txt"; then
      id=$(PYTHONPATH=$work/root/usr/lib/python3/dist-packages SIGNCHECK_LIBRARY=$work/root/$lib/libsigncheck.so.1 \
           python3 -c 'import signcheck; print(signcheck.key_id())') || fail "python3 cannot import signcheck"
      [[ $id == "$build_id" ]] || fail "signcheck.key_id() in Python is $id, not $build_id"
    fi
    ;;
  lint)
    missing=()
    for name in "${!tool_packages[@]}"; do
      have "$name" || missing+=("$name (apt-get install ${tool_packages[$name]})")
    done
    if ((${#missing[@]} == ${#tool_packages[@]})); then
      echo "SKIP: not installed: ${missing[*]}"
      exit 77
    fi
    for package in signcheck signtool libsigncheck1 libsigncheck-dev; do
      deb=$(echo "$tool/${package}"_*.deb)
      [[ -f $deb ]] || fail "no package $package in $tool (install.debian_package makes them)"
      quietly dpkg-deb -x "$deb" "$work/$package"
      if [[ $package == libsigncheck1 ]] && have dpkg-gensymbols; then
        # The symbols file names exactly what the library exports.
        quietly dpkg-deb -e "$deb" "$work/control"
        (cd "$work" && quietly dpkg-gensymbols -v"$(dpkg-deb -f "$deb" Version)" -p"$package" -P"$work/$package" \
          -I"$work/control/symbols" -O"$work/symbols" -c4 -e"$work/$package/$lib/libsigncheck.so.$lib_version")
      fi
      if have hardening-check; then
        for program in ${programs[$package]:-}; do
          check_hardening "$work/$package/usr/bin/$program"
        done
      fi
      if have lintian; then
        # Errors and warnings fail; notes are shown.
        lintian --pedantic -I "$deb" > "$work/lintian.log" 2>&1 || true
        grep -v 'running with root privileges' "$work/lintian.log" || true
        ! grep -q '^[EW]: ' "$work/lintian.log" || fail "lintian finds fault with $package"
      fi
      check_pages "$work/$package"
    done
    if ((${#missing[@]})); then
      echo "SKIP: not installed: ${missing[*]} (the other tools found no fault)"
      exit 77
    fi
    ;;
  *)
    fail "unknown mode $mode"
    ;;
esac
echo "PASS"
