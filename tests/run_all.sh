#!/usr/bin/env bash
# Builds the tool and runs every test: the native build's suite; the same
# suite built with AddressSanitizer and UndefinedBehaviorSanitizer, with the
# fuzzers, where clang is installed; the Linux builds for i386, armhf and
# arm64 under qemu-user, where their cross compilers and qemu are installed;
# and the Windows build's suite under Wine where the MinGW-w64 cross compiler
# and Wine are installed. Says plainly what it could not run, and ends with
# one line that counts the suites passed and failed; fails if any failed.
# First it installs what the native suite needs, where that is missing and
# it may.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests

passed=0 failed=0 skipped=0
failures=()

# Runs one suite, a command, and counts it; a suite that fails does not stop
# the others.
suite() {	# name, command...
	local name=$1
	shift
	echo "run_all: the $name"
	if "$@"; then
		passed=$((passed + 1))
	else
		failed=$((failed + 1))
		failures+=("$name")
		echo "run_all: FAILED the $name"
	fi
}

skipped() {
	skipped=$((skipped + 1))
	echo "run_all: SKIPPED $*"
}

build_and_test() {	# build directory, more cmake options
	local dir=$1
	shift
	cmake -S . -B "$dir" -DBUILD_TESTING=ON "$@" && cmake --build "$dir" &&
		(cd "$dir" && ctest --output-on-failure)	# CMake 3.16 has no --test-dir
}

suite "native suite" build_and_test build

if command -v clang++ >/dev/null; then
	sanitized() {
		CXX=clang++ build_and_test build-san -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROWTALLY_SANITIZE=ON \
			-DROWTALLY_FUZZ=ON
	}
	suite "sanitizer suite and the fuzzers" sanitized
else
	skipped "the sanitizer build and the fuzzers: clang is not installed"
fi

# triplet, Debian architecture, qemu's name for it
for platform in "i686-linux-gnu i386 i386" "arm-linux-gnueabihf armhf arm" \
		"aarch64-linux-gnu arm64 aarch64"; do
	read -r triplet arch qemu <<<"$platform"
	if ! command -v "$triplet-g++" >/dev/null || ! command -v "qemu-$qemu-static" >/dev/null; then
		skipped "the $arch suite: g++-$triplet or qemu-user-static is not installed"
		continue
	fi
	suite "$arch suite" build_and_test "build-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/$triplet.cmake"
done

# qemu-user opens files through the 64-bit host, which would hide a 32-bit
# build's trouble with large files: the i386 build runs the command-line
# table once more natively, through its own dynamic loader.
loader=/usr/i686-linux-gnu/lib/ld-linux.so.2
if [ ! -x build-i386/rowtally ]; then
	skipped "the native i386 run: there is no i386 build"
elif ! "$loader" --version >/dev/null 2>&1; then
	skipped "the native i386 run: this kernel cannot run 32-bit programs"
else
	suite "command-line table on the i386 build, run natively" \
		python3 tests/cli_test.py -- "$loader" --library-path "${loader%/*}" build-i386/rowtally
fi

windows_64() {	# where 32-bit Windows programs cannot run
	cmake -S . -B build-win -DBUILD_TESTING=ON -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake &&
		cmake --build build-win && (cd build-win && ctest --output-on-failure -R '^headers$') &&
		build_and_test build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
}

if ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
	skipped "the Windows suite: g++-mingw-w64-i686 is not installed"
elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
	# wine32's loader is itself a 32-bit program: if it runs, so does ours.
	suite "Windows suite" build_and_test build-win -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
elif command -v x86_64-w64-mingw32-g++-posix >/dev/null && [ -x /usr/lib/wine/wine64 ]; then
	echo "run_all: this machine cannot run 32-bit Windows programs (no wine32, or a kernel"
	echo "run_all: without 32-bit support): checking only the headers of the 32-bit build,"
	echo "run_all: and running the Windows suite on a 64-bit build under wine64 instead"
	suite "Windows suite, 64-bit" windows_64
else
	skipped "the Windows suite: wine32, or g++-mingw-w64-x86-64 and wine64, are not installed"
fi

[ "$failed" -eq 0 ] || echo "run_all: failed: ${failures[*]}"
echo "run_all: $passed suites passed, $failed failed$([ "$skipped" -eq 0 ] || echo ", $skipped skipped")"
[ "$failed" -eq 0 ]
