# Zip archives as file systems (archive/, libslzip) stand on libzip. Debian ships libzip for the
# native build only, not for mingw-w64, so the Windows build leaves them out. Found by header
# and library: Debian's libzip CMake package insists on the separate command-line tools.
set(SL_BUILD_ZIP OFF)
if(NOT CMAKE_CROSSCOMPILING AND NOT WIN32)
  find_path(SL_LIBZIP_INCLUDE_DIR zip.h)
  find_library(SL_LIBZIP_LIBRARY zip)
  if(SL_LIBZIP_INCLUDE_DIR AND SL_LIBZIP_LIBRARY)
    set(SL_BUILD_ZIP ON)
    add_library(sl_libzip INTERFACE)
    target_include_directories(sl_libzip SYSTEM INTERFACE ${SL_LIBZIP_INCLUDE_DIR})
    target_link_libraries(sl_libzip INTERFACE ${SL_LIBZIP_LIBRARY})
  else()
    message(STATUS "libzip not found: no zip archive file system (scripts/install-deps.sh)")
  endif()
else()
  message(STATUS "zip archive file system: Linux only (no libzip for this toolchain)")
endif()
