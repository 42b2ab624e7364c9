# `cmake --install`: bin/ (slhost; the DLLs on Windows), lib/ (the module and the atom library
# on Linux, with RUNPATH $ORIGIN; import libraries on Windows), include/ (the C headers, the
# neutral core and the header-only host SDK), a CMake package, a pkg-config file, slhost's man
# page and the docs.
#
#   find_package(slservices CONFIG REQUIRED)
#   target_link_libraries(host PRIVATE slservices::sdk)  # headers; load the module by path
#   target_link_libraries(host_tests PRIVATE slservices::testing)  # the conformance kit
#   target_link_libraries(host PRIVATE slservices::headers)  # the C headers alone, for C hosts
#   ${SLSERVICES_MODULE}, ${SLSERVICES_ATOM_LIBRARY}     # where the installed libraries lie
#   ${SLSERVICES_ZIP_LIBRARY}                             # and the zip library (Linux; else "")
#   ${SLSERVICES_SFTP_LIBRARY}                            # and the SFTP library (Linux; else "")
#   slservices::module, slservices::atom                  # to link the libraries directly
#   slservices::zip                                       # zip archives as file systems (Linux)
#   slservices::sftp                                      # remote folders over SFTP (Linux)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The C headers, for hosts in C: nothing else.
add_library(sl_headers INTERFACE)
target_include_directories(sl_headers INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                                $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(sl_headers PROPERTIES EXPORT_NAME headers)

# The host SDK: headers only (and the dynamic loader on Linux), with the neutral core under it.
add_library(sl_sdk INTERFACE)
target_link_libraries(sl_sdk INTERFACE sl_headers ${CMAKE_DL_LIBS})
target_compile_features(sl_sdk INTERFACE cxx_std_17)
set_target_properties(sl_sdk PROPERTIES EXPORT_NAME sdk)

# Test tooling beside the SDK, for the tests of a host's own file systems: the conformance kit
# (slservices/testing/). Installed as its own component.
add_library(sl_testing INTERFACE)
target_link_libraries(sl_testing INTERFACE sl_sdk)
set_target_properties(sl_testing PROPERTIES EXPORT_NAME testing)

# Hosts that link the libraries directly get the C headers with them.
foreach(library slservices atom)
  target_include_directories(${library} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()
set_target_properties(slservices PROPERTIES EXPORT_NAME module)
set_target_properties(atom PROPERTIES EXPORT_NAME atom INSTALL_RPATH "$ORIGIN")

install(TARGETS slservices atom sl_headers sl_sdk EXPORT slservicesTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS slhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(SL_BUILD_ZIP)
  # libslzip.so: hosts load it by path (sdk/zip.hpp) or link slservices::zip. Its libzip is the
  # system's.
  target_include_directories(slzip INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(slzip PROPERTIES EXPORT_NAME zip INSTALL_RPATH "$ORIGIN")
  install(TARGETS slzip EXPORT slservicesTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
set(SL_INSTALL_SFTP OFF)
if(TARGET slsftp)
  # libslsftp.so: hosts load it by path (sdk/sftp.hpp) or link slservices::sftp. Its libssh2 is
  # the system's.
  set(SL_INSTALL_SFTP ON)
  target_include_directories(slsftp INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(slsftp PROPERTIES EXPORT_NAME sftp INSTALL_RPATH "$ORIGIN")
  install(TARGETS slsftp EXPORT slservicesTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
# include/slservices/: the C headers; core/, the neutral core the module is built on and the SDK
# stands on (object protocol, counted pointer, failure text, name bytes); sdk/, the host SDK.
# sl_zip.h, sl_sftp.h, sdk/zip.hpp and sdk/sftp.hpp go on every system, with or without their
# libraries.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/slservices
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp"
        PATTERN testing EXCLUDE)
install(TARGETS sl_testing EXPORT slservicesTargets COMPONENT testing)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/slservices/testing
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/slservices COMPONENT testing)

# Where the module and the atom library are installed: hosts load both by path.
if(WIN32)
  set(SL_LOADED_DIR ${CMAKE_INSTALL_BINDIR})
  set(SL_PC_LOADED_DIR bindir)
else()
  set(SL_LOADED_DIR ${CMAKE_INSTALL_LIBDIR})
  set(SL_PC_LOADED_DIR libdir)
endif()
set(SL_MODULE_FILE ${CMAKE_SHARED_LIBRARY_PREFIX}slservices${CMAKE_SHARED_LIBRARY_SUFFIX})
set(SL_ATOM_FILE ${CMAKE_SHARED_LIBRARY_PREFIX}atom${CMAKE_SHARED_LIBRARY_SUFFIX})
set(SL_MODULE_PATH ${SL_LOADED_DIR}/${SL_MODULE_FILE})
set(SL_ATOM_PATH ${SL_LOADED_DIR}/${SL_ATOM_FILE})
set(SL_ZIP_PATH ${CMAKE_INSTALL_LIBDIR}/libslzip.so)  # used only where the library is built
set(SL_SFTP_PATH ${CMAKE_INSTALL_LIBDIR}/libslsftp.so)  # likewise

set(SL_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/slservices)
install(EXPORT slservicesTargets NAMESPACE slservices:: DESTINATION ${SL_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/slservicesConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/package/slservicesConfig.cmake
                              INSTALL_DESTINATION ${SL_PACKAGE_DIR}
                              PATH_VARS SL_MODULE_PATH SL_ATOM_PATH SL_ZIP_PATH SL_SFTP_PATH)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/slservicesConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/slservicesConfig.cmake
              ${CMAKE_BINARY_DIR}/package/slservicesConfigVersion.cmake
        DESTINATION ${SL_PACKAGE_DIR})

# pkg-config: the prefix is found from the file's own place, so the tree may move.
file(RELATIVE_PATH SL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" SL_PC_TO_PREFIX "${SL_PC_TO_PREFIX}")
set(SL_PC_ZIP_FILE "")
if(SL_BUILD_ZIP)
  set(SL_PC_ZIP_FILE "zip=\${libdir}/libslzip.so")
endif()
set(SL_PC_SFTP_FILE "")
if(SL_INSTALL_SFTP)
  set(SL_PC_SFTP_FILE "sftp=\${libdir}/libslsftp.so")
endif()
set(SL_PC_LIBS "")
if(CMAKE_DL_LIBS)
  set(SL_PC_LIBS -l${CMAKE_DL_LIBS})
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/slservices.pc.in ${CMAKE_BINARY_DIR}/package/slservices.pc
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/slservices.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The documentation with the examples it points to, laid out as in the source tree so that its
# links hold. (slhost's man page is installed by tools/slhost where help2man made it.)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs ${PROJECT_SOURCE_DIR}/examples
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
