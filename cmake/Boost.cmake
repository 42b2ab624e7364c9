# Boost.Iostreams is used header-only (filtering streams and array devices). Cross builds get
# the system's Boost headers through a folder that holds only them, so the target compiler
# never sees the host's C library headers.
add_library(sl_boost INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(SL_BOOST_ROOT /usr/include CACHE PATH "Folder that holds the boost/ headers")
  set(_boost_only ${CMAKE_BINARY_DIR}/boost-headers)
  file(MAKE_DIRECTORY ${_boost_only})
  file(CREATE_LINK ${SL_BOOST_ROOT}/boost ${_boost_only}/boost SYMBOLIC)
  target_include_directories(sl_boost SYSTEM INTERFACE ${_boost_only})
else()
  find_package(Boost 1.74 REQUIRED)
  target_link_libraries(sl_boost INTERFACE Boost::headers)
endif()
