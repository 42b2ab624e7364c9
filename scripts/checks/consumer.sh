#!/usr/bin/env bash
# The installed package from a host's side: builds the module (Release) with tests off,
# installs it into a private prefix, builds examples/consumer (C++) and examples/c-host (C11)
# against that tree with find_package (and each once with pkg-config alone), and runs the
# programs; runs the build block of docs/c-host-guide.md as it stands; and checks that the CMake
# package and pkg-config name the same installed zip and SFTP libraries. Then the same for Windows,
# cross-built with mingw-w64 and run under Wine.
# Everything goes to build/consumer-*.
# Takes about 3 to 5 minutes on 2 cores from a cold cache.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
started=$SECONDS

run() {
  echo "+ $*" >&2
  "$@"
}

# build_and_install PRESET DIR: the module tree of one preset, installed under DIR/install.
build_and_install() {
  run cmake --preset "$1" -B "$2/module" -DSL_BUILD_TESTS=OFF >/dev/null
  run cmake --build "$2/module"
  rm -rf "$2/install"
  run cmake --install "$2/module" --prefix "$2/install" >/dev/null
}

echo "=== consumer: Linux"
linux=build/consumer-linux
build_and_install release "$linux"
run cmake -S examples/consumer -B "$linux/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$root/$linux/install" >/dev/null
run cmake --build "$linux/consumer"
run "$linux/consumer/consumer"
run "$linux/consumer/consumer_linked"
run cmake -S examples/c-host -B "$linux/c-host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$root/$linux/install" >/dev/null
run cmake --build "$linux/c-host"
(cd "$linux/c-host" && run ./c-host)
# The installed tree may move: the package and the pkg-config file find themselves.
rm -rf "$linux/moved"
mv "$linux/install" "$linux/moved"
export PKG_CONFIG_PATH="$root/$linux/moved/lib/pkgconfig"
read -r -a flags <<<"$(pkg-config --cflags --libs slservices)"
zip_library=$(pkg-config --variable=zip slservices)
run test -f "$zip_library"
sftp_library=$(pkg-config --variable=sftp slservices)
run test -f "$sftp_library"
run c++ -std=c++17 -O1 examples/consumer/main.cpp -DCONSUMER_MODULE_PATH='""' "${flags[@]}" \
  -DCONSUMER_ZIP_LIBRARY="\"$zip_library\"" -o "$linux/pkg-config-consumer"
run "$linux/pkg-config-consumer" "$(pkg-config --variable=module slservices)"
run cc -std=c11 -O1 examples/c-host/main.c "${flags[@]}" -o "$linux/pkg-config-c-host"
(cd "$linux" && run ./pkg-config-c-host "$(pkg-config --variable=module slservices)" \
   "$(pkg-config --variable=atomlibrary slservices)")
# The C host guide's build block, word for word, in a folder of its own that sees examples/.
guide=$(awk '/^## Building/ { section = 1 } section && /^```sh/ { block = 1; next }
             block && /^```/ { exit } block' docs/c-host-guide.md)
rm -rf "$linux/guide" && mkdir -p "$linux/guide" && ln -s "$root/examples" "$linux/guide/examples"
echo "+ (docs/c-host-guide.md) $guide" >&2
(cd "$linux/guide" && bash -euo pipefail -c "$guide")
# The CMake package names the zip and SFTP libraries that pkg-config names.
mkdir -p "$linux/zip-variable"
cat >"$linux/zip-variable/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.25)
project(zip_variable NONE)
find_package(slservices CONFIG REQUIRED PATHS "$root/$linux/moved" NO_DEFAULT_PATH)
foreach(pair "ZIP;$zip_library" "SFTP;$sftp_library")
  list(GET pair 0 name)
  list(GET pair 1 pkgconfig)
  file(REAL_PATH "\${SLSERVICES_\${name}_LIBRARY}" package)
  file(REAL_PATH "\${pkgconfig}" pkgconfig)
  if(NOT package STREQUAL pkgconfig)
    message(FATAL_ERROR "SLSERVICES_\${name}_LIBRARY is '\${SLSERVICES_\${name}_LIBRARY}', pkg-config says '\${pkgconfig}'")
  endif()
endforeach()
EOF
run cmake -S "$linux/zip-variable" -B "$linux/zip-variable/build" >/dev/null
run "$linux/moved/bin/slhost" classes >/dev/null
run test -s "$linux/moved/share/man/man1/slhost.1"
mv "$linux/moved" "$linux/install"

if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "=== consumer: Windows (mingw-w64, run under Wine)"
  windows=build/consumer-windows
  build_and_install windows "$windows"
  run cmake -S examples/consumer -B "$windows/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -Dslservices_DIR="$root/$windows/install/lib/cmake/slservices" >/dev/null
  run cmake --build "$windows/consumer"
  wine_run="$windows/module/wine-run.sh"  # Wine with a private prefix, made on first use
  run "$wine_run" "$windows/consumer/consumer.exe"
  run "$wine_run" "$windows/consumer/consumer_linked.exe"
  run cmake -S examples/c-host -B "$windows/c-host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -Dslservices_DIR="$root/$windows/install/lib/cmake/slservices" >/dev/null
  run cmake --build "$windows/c-host"
  (cd "$windows/c-host" && run "$root/$wine_run" ./c-host.exe)
  run "$wine_run" "$windows/install/bin/slhost.exe" classes >/dev/null
else
  echo "=== consumer: no mingw-w64 cross compiler; Windows skipped"
fi

echo "=== consumer: passed in $((SECONDS - started)) s"
