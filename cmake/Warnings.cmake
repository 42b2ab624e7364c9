# One warning set for every target of ours; CI turns them into errors.
add_library(sl_warnings INTERFACE)
target_compile_options(sl_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wcast-align
                                             -Wformat=2 $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
if(SL_WARNINGS_AS_ERRORS)
  target_compile_options(sl_warnings INTERFACE -Werror)
endif()
