# Which backend of platform/ to build, and how binaries are linked on each system.
if(WIN32)
  set(SL_PLATFORM_DIR win)
  # No runtime DLLs beyond the system's: libstdc++, libgcc and winpthread go in statically.
  add_link_options(-static -static-libgcc -static-libstdc++)
  set(CMAKE_SHARED_LIBRARY_PREFIX "")
  if(CMAKE_CROSSCOMPILING)
    # Test executables run under Wine with a private prefix inside the build folder.
    find_program(SL_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
    find_program(SL_WINE NAMES wine64 wine)
    find_program(SL_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
    find_program(SL_WINESERVER NAMES wineserver64 wineserver)
    set(SL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE @ONLY)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
  endif()
else()
  set(SL_PLATFORM_DIR posix)
  # RUNPATH, not RPATH: the module's $ORIGIN is searched by its own dlopen of libatom.so.
  add_link_options(-Wl,--enable-new-dtags)
endif()

# Exports exactly the names listed in <stem>.map (a linker version script, Linux) or <stem>.def
# (Windows).
function(sl_export_list target stem)
  # The target's own sources define the exports; the list alone decides what leaves it.
  set_target_properties(${target} PROPERTIES C_VISIBILITY_PRESET default
                                             CXX_VISIBILITY_PRESET default)
  if(WIN32)
    target_sources(${target} PRIVATE ${stem}.def)
  else()
    target_link_options(${target} PRIVATE -Wl,--version-script=${stem}.map -Wl,--no-undefined)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${stem}.map)
  endif()
endfunction()
