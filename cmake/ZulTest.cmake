# Test programs run under Wine (32-bit, or 64-bit for the 64-bit test build) through CMake's
# cross-compiling emulator. One ctest entry per test program; the prefix is prepared once by a
# fixture and its wineserver is shut down by another at the end of the run.

set(ZUL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Private Wine prefix for the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tools/wine-run)

# GoogleTest from the system's source tree, built with the same toolchain.
function(zul_setup_gtest)
  if(TARGET gtest)
    return()
  endif()
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()

# zul_add_test_dir(LIBS lib...)
#   Every <name>_test.cpp and <name>_wintest.cpp in the current folder is one test
#   program; every other .cpp there is support code linked into each of them.
#   A <name>.rc beside a test source is compiled into that program. The helpers every folder
#   shares (tests/support) are linked into all of them.
function(zul_add_test_dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  zul_setup_gtest()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*_wintest.cpp)
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(support ${all})
  if(tests)
    list(REMOVE_ITEM support ${tests})
  endif()
  # The folder's support library is named by its place under tests/: tests/core/engine gives
  # core_engine_testsupport.
  file(RELATIVE_PATH area ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" area "${area}")
  set(supportlib "")
  if(support)
    set(supportlib ${area}_testsupport)
    add_library(${supportlib} STATIC ${support})
    target_link_libraries(${supportlib} PUBLIC ${ARG_LIBS} zul_testsupport gtest gmock)
    target_include_directories(${supportlib} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    set(extra "")
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${name}.rc)
      set(extra ${CMAKE_CURRENT_SOURCE_DIR}/${name}.rc)
    endif()
    add_executable(${name} ${src} ${extra})
    target_link_libraries(${name} PRIVATE ${supportlib} ${ARG_LIBS} zul_testsupport gtest_main gtest gmock)
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600
      ENVIRONMENT "WINEPREFIX=${ZUL_WINEPREFIX}")
    # Window tests share one desktop: its foreground, focus and mouse. They run one at a time,
    # so they are started first: the window-free programs fill the other processors meanwhile,
    # and the run lasts about as long as the chain of window tests.
    if(name MATCHES "_wintest$")
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK zul_desktop COST 1000)
    endif()
  endforeach()
endfunction()
