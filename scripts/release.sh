#!/usr/bin/env bash
# Builds the release files in dist/ from the 32-bit build and the Linux build:
#   quillane-VR7-<version>-win32.zip   the program, the console program vr7.exe, the user
#                                      guide and the licence
#   quillane-VR7-<version>-setup.exe   an installer made with NSIS
#   vr7_<version>_<arch>.deb           the Linux vr7 (/usr/bin/vr7) with its manual page
#   SHA256SUMS
# The version is read from the program's own version block.
#
#   scripts/release.sh              configures (if needed) and builds build/win-i686 and
#                                   build/linux first
#   scripts/release.sh --no-build   packages the programs already built there
# QUILLANE_RELEASE_BUILD names another build folder of the i686 toolchain.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${QUILLANE_RELEASE_BUILD:-build/win-i686}
dist=$root/dist
program="quillane VR7.exe"
console=vr7.exe
guide=packaging/USER-GUIDE.txt
licence=packaging/LICENSE.txt
start=$SECONDS

fail() { echo "release: $*" >&2; exit 1; }

source "$root/scripts/pe-version.sh"

case "${1:-}" in
  --no-build) build_first=0 ;;
  "") build_first=1 ;;
  *) fail "unknown option $1 (use --no-build or nothing)" ;;
esac

if [ "$build_first" -eq 1 ]; then
  scripts/deps.sh
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release > /dev/null
  fi
  cmake --build "$build" --target quillane_vr7 vr7 -j"$(nproc)"
  cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build build/linux --target vr7 -j"$(nproc)"
fi

exe=$root/$build/app/$program
cli=$root/$build/cli/$console
for file in "$exe" "$cli"; do
  [ -f "$file" ] || fail "$file does not exist; build it first (scripts/release.sh without --no-build)"
  scripts/check-pe.sh "$file" i686 > /dev/null || fail "$file is not a self-contained 32-bit program: $(scripts/check-pe.sh "$file" i686 || true)"
done
version=$(exe_version "$exe") || fail "cannot read one version block from $exe"
[ "$(exe_version "$cli")" = "$version" ] || fail "$cli does not carry version $version"
command -v makensis > /dev/null || fail "makensis is missing (Debian package nsis)"

zip=quillane-VR7-$version-win32.zip
setup=quillane-VR7-$version-setup.exe
mkdir -p "$dist"
rm -f "$dist/$zip" "$dist/$setup" "$dist/SHA256SUMS"

# The zip, from a staging folder so that it holds its files at its top level.
# Its entries carry the time of the last commit.
stage=$(mktemp -d "$dist/.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/$program"
cp "$cli" "$stage/$console"
cp "$guide" "$licence" "$stage/"
stamp=$(git log -1 --format=%cd --date=format:'%Y-%m-%d %H:%M:%S' 2>/dev/null || date -u '+%Y-%m-%d %H:%M:%S')
(cd "$stage" && cmake -E tar cf "$dist/$zip" --format=zip --mtime="$stamp" -- \
   "$program" "$console" "$(basename "$guide")" "$(basename "$licence")")

makensis -V2 -DVERSION="$version" -DEXE="$exe" -DCLI_EXE="$cli" -DOUTFILE="$dist/$setup" packaging/installer.nsi

# The Debian package: the Linux vr7, stripped; the C library is all it needs at run time
# (its C++ runtime is linked in), at the version its symbols ask for.
linux_vr7=$root/build/linux/cli/vr7
[ -x "$linux_vr7" ] || fail "$linux_vr7 does not exist; build it first (scripts/release.sh without --no-build)"
arch=$(dpkg --print-architecture)
deb=vr7_${version}_$arch.deb
glibc=$(objdump -T "$linux_vr7" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -1)
package=$stage/deb
mkdir -p "$package/DEBIAN" "$package/usr/bin" "$package/usr/share/man/man1" "$package/usr/share/doc/vr7"
install -m 0755 -s "$linux_vr7" "$package/usr/bin/vr7"
gzip -9n < packaging/vr7.1 > "$package/usr/share/man/man1/vr7.1.gz"
tr -d '\r' < "$licence" > "$package/usr/share/doc/vr7/copyright"
{
  echo "Package: vr7"
  echo "Version: $version"
  echo "Architecture: $arch"
  echo "Maintainer: quillane VR7 <vr7@quillane.invalid>"
  echo "Depends: libc6 (>= $glibc)"
  echo "Section: utils"
  echo "Priority: optional"
  echo "Installed-Size: $(du -sk "$package/usr" | cut -f1)"
  echo "Description: configures serial digitizers for CAD programs"
  echo " vr7 sends a serial digitizing tablet the configuration frame that a garment,"
  echo " embroidery, GIS or CAD program needs, checks its reply at each line setting,"
  echo " finds the port a digitizer answers on, and names each USB-serial adapter."
} > "$package/DEBIAN/control"
rm -f "$dist"/vr7_*.deb
dpkg-deb --root-owner-group -Zxz --build "$package" "$dist/$deb" > /dev/null

(cd "$dist" && sha256sum "$zip" "$setup" "$deb" > SHA256SUMS)
echo "release $version, built in $((SECONDS - start)) s:"
(cd "$dist" && ls -l "$zip" "$setup" "$deb" SHA256SUMS | awk '{printf "  dist/%s  %s bytes\n", $NF, $5}')
