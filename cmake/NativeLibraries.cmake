# The system libraries under the plug-in file systems, found by header and library (Debian's
# libzip CMake package insists on its separate command-line tools). Debian ships them for the
# native build only, not for mingw-w64, so the Windows build leaves the plug-ins out.
#
# sl_find_native_library(SWITCH TARGET HEADER LIBRARY WHAT) sets SWITCH ON and makes the
# interface target TARGET when both are found on a native Linux build; else SWITCH is OFF and
# the configure output says why.
function(sl_find_native_library switch target header library what)
  set(${switch} OFF PARENT_SCOPE)
  if(CMAKE_CROSSCOMPILING OR WIN32)
    message(STATUS "${what}: Linux only (no ${target} for this toolchain)")
    return()
  endif()
  string(TOUPPER "SL_${target}" prefix)
  find_path(${prefix}_INCLUDE_DIR ${header})
  find_library(${prefix}_LIBRARY ${library})
  if(NOT ${prefix}_INCLUDE_DIR OR NOT ${prefix}_LIBRARY)
    message(STATUS "${target} not found: no ${what} (scripts/install-deps.sh)")
    return()
  endif()
  set(${switch} ON PARENT_SCOPE)
  add_library(sl_${target} INTERFACE)
  target_include_directories(sl_${target} SYSTEM INTERFACE ${${prefix}_INCLUDE_DIR})
  target_link_libraries(sl_${target} INTERFACE ${${prefix}_LIBRARY})
endfunction()

# Zip archives as file systems (archive/, libslzip) stand on libzip.
sl_find_native_library(SL_BUILD_ZIP libzip zip.h zip "zip archive file system")
# Remote folders over SFTP (sftp/, libslsftp) stand on libssh2.
sl_find_native_library(SL_BUILD_SFTP libssh2 libssh2_sftp.h ssh2 "SFTP file system")
