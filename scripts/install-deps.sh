#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, skipping what is already there.
# Run as root (or with sudo). Packages:
#   cmake ninja-build g++ ccache            - the native toolchain
#   libcli11-dev help2man                   - slhost's option parser (header-only), its man page
#   libboost-iostreams-dev                  - Boost.Iostreams (header-only use)
#   libgtest-dev googletest                 - GoogleTest (prebuilt natively; sources for mingw)
#   libzip-dev                              - libzip: zip archives as file systems (Linux only)
#   libssh2-1-dev                           - libssh2: remote folders over SFTP (Linux only)
#   openssh-server openssh-client           - the local SSH server of the SFTP tests and its
#                                             clients (tests/network/local_sshd.sh, bench-sftp.sh)
#   g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 - the Windows x64 cross toolchain
#   wine wine64                             - runs the Windows test executables
#   libbenchmark-dev python3                - Google Benchmark and the ratio table (scripts/bench.sh)
#   pkg-config                              - the installed package's .pc file (checks/consumer.sh)
#   clang libclang-rt-14-dev valgrind       - libFuzzer harnesses and memcheck (checks/fuzz.sh, valgrind.sh)
set -euo pipefail

packages=(cmake ninja-build g++ ccache binutils libboost-iostreams-dev libgtest-dev googletest
          libcli11-dev help2man libzip-dev libssh2-1-dev openssh-server openssh-client
          g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 libbenchmark-dev python3
          pkg-config clang libclang-rt-14-dev valgrind)
if [[ "${1:-}" == "--native-only" ]]; then
  packages=(cmake ninja-build g++ ccache binutils libboost-iostreams-dev libgtest-dev googletest
            libcli11-dev help2man libzip-dev libssh2-1-dev openssh-server openssh-client)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
