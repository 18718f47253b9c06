#!/usr/bin/env bash
# The installed package used as another program uses it: `cmake --install`
# into a fresh prefix, the example program built from a copy of its sources
# against that prefix alone (pkg-config), the module registered with the
# installed zebinst into a fresh registry file, and the example run.
#
# Usage: InstalledPackage.sh SOURCE_DIR BUILD_DIR CMAKE GENERATOR MAKE_PROGRAM CXX [SANITIZER_FLAGS]
# Everything it writes lies in one temporary directory, removed at the end
# (cmake --install itself notes what it installed in BUILD_DIR/install_manifest.txt).
set -euo pipefail

src=$1 build=$2 cmake=$3 generator=$4 make_program=$5 cxx=$6 sanitize=${7:-}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zeb-packaging-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_line() { # FILE REGEX WHAT
  grep -Eq -- "$2" "$1" || fail "$3 (no line matching '$2' in:)"$'\n'"$(cat "$1")"
}

# --- install ---------------------------------------------------------------
"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
  { cat "$tmp/install.log" >&2; echo "FAIL: cmake --install (is the build complete?)" >&2; exit 1; }

for f in bin/zebinst lib/libzebcom.so lib/libk4bi00tx.so lib/libk4wtrcax.so lib/libk4toolax.so \
         lib/libk4bt03ax.so lib/libk4bt09ax.so lib/libzebsamples.so lib/pkgconfig/zeb.pc \
         share/zeb/stylesheets/k4bi00tx_tf.xsl share/zeb/stylesheets/k4bi00tx_tfb.xsl; do
  [ -f "$prefix/$f" ] || fail "$f is not installed"
done
for h in "$src"/h/*.h; do
  [ -f "$prefix/include/zeb/h/${h##*/}" ] || fail "include/zeb/h/${h##*/} is not installed"
done
# Nothing installed points back into the build: programs look in lib/ beside
# bin/, libraries beside themselves.
for f in "$prefix"/bin/* "$prefix"/lib/*.so; do
  runpath=$(readelf -d "$f" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
  # shellcheck disable=SC2016 # $ORIGIN is the loader's, not the shell's
  case "$f" in
    */bin/*) want='$ORIGIN/../lib' ;;
    *) want='$ORIGIN' ;;
  esac
  [ "$runpath" = "$want" ] || fail "${f#"$prefix"/} has the run path '$runpath', not '$want'"
done

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
unset PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR
# (pkg-config ends its flags with a space.)
cflags=$(pkg-config --cflags zeb) libs=$(pkg-config --libs zeb)
[ "${cflags% }" = "-I$prefix/include/zeb" ] || fail "Cflags: '$cflags'"
[ "${libs% }" = "-L$prefix/lib -lzebcom" ] || fail "Libs: '$libs'"
[ "$(pkg-config --variable=stylesheetdir zeb)" = "$prefix/share/zeb/stylesheets" ] ||
  fail "stylesheetdir: $(pkg-config --variable=stylesheetdir zeb)"

# The installed headers compile from the installed folder: whatever one of
# them includes was installed with it.
(cd "$prefix/include/zeb" && find . -name '*.h' | sed 's|^\./||' | sort) |
  sed 's|.*|#include "&"|' >"$tmp/headers.cpp"
# shellcheck disable=SC2046
"$cxx" -std=c++20 -fsyntax-only $(pkg-config --cflags zeb) "$tmp/headers.cpp" 2>"$tmp/headers.log" ||
  fail "the installed headers do not compile from the prefix:"$'\n'"$(cat "$tmp/headers.log")"

# --- the example, from a copy of its sources, against the prefix only -------
cp -r "$src/samples/example" "$tmp/example-src"
"$cmake" -S "$tmp/example-src" -B "$tmp/example" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >"$tmp/example.log" 2>&1 ||
  { cat "$tmp/example.log" >&2; echo "FAIL: the example does not configure against the prefix" >&2; exit 1; }
"$cmake" --build "$tmp/example" >>"$tmp/example.log" 2>&1 ||
  { cat "$tmp/example.log" >&2; echo "FAIL: the example does not build against the prefix" >&2; exit 1; }
if grep -rqF -e "$src" -e "$build" "$tmp/example/build.ninja" "$tmp/example/Makefile" 2>/dev/null; then
  fail "the example's build refers to the source or build tree"
fi
example=$tmp/example/zeb-list-types
zebinst=$prefix/bin/zebinst

# --- run -------------------------------------------------------------------
export ZEB_REGISTRY=$tmp/registry.reg
unset ZEB_TRACE ZEB_TRACE_FILE

# Not registered yet: a message that says what to do, exit 3, no crash.
set +e
"$example" >"$tmp/out0" 2>"$tmp/err0"
rc=$?
set -e
[ $rc -eq 3 ] || fail "the example without a registered installation exits $rc, not 3"
expect_line "$tmp/err0" "is not registered in $ZEB_REGISTRY \(register it with 'zebinst regsvr k4bi00tx.dll'\)" \
  "no clear message without a registered installation"

"$zebinst" regsvr k4bi00tx.dll >"$tmp/regsvr.log" 2>&1 || fail "zebinst regsvr: $(cat "$tmp/regsvr.log")"
module=$(sed -n 's/^@="\(.*libk4bi00tx\.so\)"$/\1/p' "$ZEB_REGISTRY" | head -n 1)
[ "$(realpath "$module")" = "$(realpath "$prefix/lib/libk4bi00tx.so")" ] ||
  fail "the registered module is '$module', not the installed one"

# In a temporary directory of its own, removed at the end; the sample types
# are not registered yet, so only the installation's own type is listed.
mkdir "$tmp/t"
TMPDIR=$tmp/t "$example" >"$tmp/out1" 2>"$tmp/err1" || fail "the example in a temporary directory: $(cat "$tmp/err1")"
expect_line "$tmp/out1" "^Zeb\.SampleDrive\.1 is not registered" "the unregistered sample is not named"
expect_line "$tmp/out1" "^1 installed type$" "the new installation lists not one type"
expect_line "$tmp/out1" "^  \{A562FDF0-F9DE-11D3-A6DD-00500439C839\}  ProjectGlobal  PmGlobCommon\.1\.1$" \
  "the installation's own type is not listed"
[ -z "$(ls -A "$tmp/t")" ] || fail "the temporary directory was left behind: $(ls -A "$tmp/t")"

# With the samples registered, in a directory zebinst made: the example
# installs two sample types and lists them; zebinst then reads them back.
config=$tmp/config
"$zebinst" -C "$config" init >"$tmp/init.log" 2>&1 || fail "zebinst init: $(cat "$tmp/init.log")"
"$zebinst" -C "$config" register-samples >"$tmp/samples.log" 2>&1 ||
  fail "zebinst register-samples: $(cat "$tmp/samples.log")"
"$example" "$config" >"$tmp/out2" 2>"$tmp/err2" || fail "the example on $config: $(cat "$tmp/err2")"
expect_line "$tmp/out2" "^installation in $config$" "the directory is not named"
expect_line "$tmp/out2" "^installed Zeb\.SampleDrive\.1 as Device$" "the sample Drive is not installed"
expect_line "$tmp/out2" "^installed Zeb\.SampleAxis\.1 as TObject$" "the sample Axis is not installed"
expect_line "$tmp/out2" "^3 installed types$" "not three types listed"
expect_line "$tmp/out2" "^  \{5A3E1001-7B1C-4C2A-9E10-3D5F00000001\}  Device         SampleDrive\.1\.0$" \
  "SampleDrive.1.0 is not listed"
expect_line "$tmp/out2" "^  \{5A3E1002-7B1C-4C2A-9E10-3D5F00000002\}  TObject        SampleAxis\.1\.0$" \
  "SampleAxis.1.0 is not listed"
"$zebinst" -C "$config" types >"$tmp/types.log" 2>&1 || fail "zebinst types: $(cat "$tmp/types.log")"
expect_line "$tmp/types.log" "SampleDrive\.1\.0" "the saved file lacks SampleDrive.1.0"
expect_line "$tmp/types.log" "SampleAxis\.1\.0" "the saved file lacks SampleAxis.1.0"

# Again on the same directory: nothing new, the same list.
"$example" "$config" >"$tmp/out3" 2>"$tmp/err3" || fail "the example again: $(cat "$tmp/err3")"
expect_line "$tmp/out3" "^Zeb\.SampleDrive\.1 is installed already$" "a second run does not say the type is there"
expect_line "$tmp/out3" "^3 installed types$" "a second run does not list three types"

# Failures are a message and exit 3: a directory that cannot be made, and a
# file in the directory that is no installation file (kept as it is).
touch "$tmp/plain"
set +e
"$example" "$tmp/plain/config" >"$tmp/out4" 2>"$tmp/err4"
rc4=$?
mkdir "$tmp/garbage" && echo "not an installation" >"$tmp/garbage/k4bi00tx.dat"
"$example" "$tmp/garbage" >"$tmp/out5" 2>"$tmp/err5"
rc5=$?
set -e
[ $rc4 -eq 3 ] || fail "the example on a directory that cannot be made exits $rc4, not 3"
expect_line "$tmp/err4" "^zeb-list-types: $tmp/plain/config: cannot make the directory" \
  "no clear message for a directory that cannot be made"
[ $rc5 -eq 3 ] || fail "the example on a file that is no installation exits $rc5, not 3"
expect_line "$tmp/err5" "^zeb-list-types: $tmp/garbage: the installation could not be saved \(0xBE020006; 'zebinst -C $tmp/garbage check'" \
  "no clear message for a file that is no installation"
[ "$(cat "$tmp/garbage/k4bi00tx.dat")" = "not an installation" ] || fail "the file that is no installation was changed"

# The settings it pointed at the directory are gone again.
if grep -q '^"ProductDir"=\|^"ConfigDir"=' "$ZEB_REGISTRY"; then
  fail "the example left its settings in the registry file"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed package: files, headers, example build and run all as expected"
