#!/usr/bin/env bash
# Makes the release files into packages/, with their SHA256SUMS: for each
# Linux (amd64, i386, armhf, arm64) a static program, as a Debian package and
# as rowtally-VERSION-linux-ARCH.tar.gz, ARCH as `uname -m` names it; and the
# Windows ZIP. Run on an amd64 Debian with the cross compilers installed (see
# the README); each build starts afresh in build-release-*/. The same commit
# gives the same bytes, in any folder and at any time.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(rowtally VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
# The dates inside: the last commit's, unless the caller sets one.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

build() {	# build directory, more cmake options
	rm -rf "$1"
	cmake -S . -B "$1" -DBUILD_TESTING=OFF "${@:2}" >/dev/null
	cmake --build "$1" >/dev/null
	(cd "$1" && cpack >/dev/null)
}

rm -rf packages
mkdir packages
# toolchain file ("native" for none), what uname -m says on that machine
for platform in "native x86_64" "i686-linux-gnu i686" "arm-linux-gnueabihf armv7l" \
		"aarch64-linux-gnu aarch64"; do
	read -r toolchain machine <<<"$platform"
	dir=build-release-$machine
	options=(-DROWTALLY_STATIC=ON)
	[ "$toolchain" = native ] || options+=(-DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain.cmake")
	build "$dir" "${options[@]}"
	cp "$dir"/rowtally_*.deb packages/

	# The same stripped program as in the package, beside its papers.
	name=rowtally-$version-linux-$machine
	rm -rf "$dir/$name" "$dir/installed"
	cmake --install "$dir" --prefix "$dir/installed" --strip >/dev/null
	mkdir "$dir/$name"
	cp "$dir/installed/bin/rowtally" "$dir/rowtally.1" README.md LICENSE "$dir/$name/"
	tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
		--mode=u=rwX,go=rX --format=gnu -C "$dir" -c "$name" | gzip -9n >"packages/$name.tar.gz"
done

build build-release-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
cp build-release-win32/rowtally-*-win32.zip packages/

(cd packages && sha256sum -- * >SHA256SUMS)
