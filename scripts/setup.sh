#!/usr/bin/env bash
# Installs what building rowtally needs, and with --tests what its test suite
# needs too, where any of it is missing: through apt-get, as root or with sudo.
# Where it cannot, it names every missing package in one line and fails. A
# machine that has it all installs nothing, and needs no network.
#
# usage: setup.sh [--tests]
set -euo pipefail

packages=(cmake g++ make)
if [ "${1:-}" = --tests ]; then
	packages+=(libgtest-dev python3 strace)
fi

missing=()
if command -v dpkg-query >/dev/null; then
	for package in "${packages[@]}"; do
		status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) || true
		[ "$status" = "install ok installed" ] || missing+=("$package")
	done
else
	# No Debian: the commands tell, as far as they can.
	for package in "${packages[@]}"; do
		case $package in
		libgtest-dev) continue ;;	# CMake looks for it
		g++) command -v c++ >/dev/null || missing+=("$package") ;;
		*) command -v "$package" >/dev/null || missing+=("$package") ;;
		esac
	done
fi
[ ${#missing[@]} -gt 0 ] || exit 0

# As root, or through sudo; "none" where neither can install.
as_root=none
if command -v apt-get >/dev/null; then
	if [ "$(id -u)" = 0 ]; then
		as_root=
	elif command -v sudo >/dev/null; then
		as_root=sudo
	fi
fi
if [ "$as_root" = none ]; then
	echo "setup: missing packages: ${missing[*]} (install them, then run this again)"
	exit 1
fi
echo "setup: installing ${missing[*]}"
$as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -q -y --no-install-recommends \
	"${missing[@]}"
