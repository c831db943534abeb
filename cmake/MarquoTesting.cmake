# Test registration shared by every test folder.
#
# Native builds register each GoogleTest case as its own CTest test, so a
# failure names the case. The Windows build runs under Wine, where starting a
# process costs about a second, so there each test executable is one CTest
# test that runs all of its cases.

if(NOT MARQUO_BUILD_TESTS)
  return()
endif()

if(CMAKE_CROSSCOMPILING)
  # Debian ships GoogleTest as sources; the Windows build compiles them with
  # the MinGW toolchain.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# marquo_add_test(NAME SOURCES ... LIBRARIES ... [LABELS ...])
# Labels: "broker" for tests that start a broker, "gui" for tests that
# create windows; unit tests carry none.
function(marquo_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
    if(ARG_LABELS)
      set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
  else()
    set(props TIMEOUT 120)
    if(ARG_LABELS)
      list(APPEND props LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
  endif()
endfunction()
