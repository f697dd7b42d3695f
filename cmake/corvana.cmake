# Shared build helpers for our own targets.

# Warnings on for code we write, fatal with CORVANA_WERROR; third-party headers
# come in as system headers.
function(corvana_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(CORVANA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Facts every test needs to find the programs and data it works with.
function(corvana_test_defines target)
  target_compile_definitions(${target} PRIVATE
    CORVANA_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    CORVANA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endfunction()

# Our warnings and the test facts on one test target.
function(corvana_test_target target)
  corvana_warnings(${target})
  corvana_test_defines(${target})
endfunction()

# The folder's support/ sources as one library the tests link; sets <prefix>_support
# in the caller to its name, or to nothing when there is no support/.
#   corvana_test_support(PREFIX DIR EXTRA_GLOBS LIBS...)
function(corvana_test_support prefix dir extra_globs)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/support/*.cpp ${extra_globs})
  if(NOT sources)
    set(${prefix}_support "" PARENT_SCOPE)
    return()
  endif()
  add_library(${prefix}_test_support STATIC ${sources})
  target_link_libraries(${prefix}_test_support PUBLIC ${ARGN})
  target_include_directories(${prefix}_test_support PUBLIC ${dir})
  corvana_test_target(${prefix}_test_support)
  set(${prefix}_support ${prefix}_test_support PARENT_SCOPE)
endfunction()

# One GoogleTest binary per tests/*_test.cpp file, each case its own CTest test.
#   corvana_gtests(PREFIX name DIR dir LIBS lib...)
function(corvana_gtests)
  cmake_parse_arguments(ARG "" "PREFIX;DIR" "LIBS" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${ARG_DIR}/*_test.cpp)
  corvana_test_support(${ARG_PREFIX} ${ARG_DIR} "" ${ARG_LIBS} GTest::gtest GTest::gmock)
  set(support ${${ARG_PREFIX}_support})
  foreach(src ${test_sources})
    get_filename_component(stem ${src} NAME_WE)
    set(target ${ARG_PREFIX}_${stem})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${support} ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${target} PRIVATE ${ARG_DIR})
    corvana_test_target(${target})
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
      TEST_PREFIX "${ARG_PREFIX}." PROPERTIES TIMEOUT 300)
  endforeach()
endfunction()

# One Qt Test binary per tests/*_test.cpp file; needs Qt6 Test found by the caller.
#   corvana_qttests(PREFIX name DIR dir LIBS lib...)
function(corvana_qttests)
  cmake_parse_arguments(ARG "" "PREFIX;DIR" "LIBS" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${ARG_DIR}/*_test.cpp)
  corvana_test_support(${ARG_PREFIX} ${ARG_DIR} "${ARG_DIR}/support/*.h" ${ARG_LIBS} Qt6::Test)
  set(support ${${ARG_PREFIX}_support})
  if(support)
    set_target_properties(${support} PROPERTIES AUTOMOC ON)
  endif()
  foreach(src ${test_sources})
    get_filename_component(stem ${src} NAME_WE)
    set(target ${ARG_PREFIX}_${stem})
    add_executable(${target} ${src})
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
    target_link_libraries(${target} PRIVATE ${support} ${ARG_LIBS} Qt6::Test)
    target_include_directories(${target} PRIVATE ${ARG_DIR})
    corvana_test_target(${target})
    add_test(NAME ${ARG_PREFIX}.${stem} COMMAND ${target})
    set_tests_properties(${ARG_PREFIX}.${stem} PROPERTIES TIMEOUT 300
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false")
  endforeach()
endfunction()
