# The user interface: every file under qml/ becomes one resource tree rooted at "/".
# QML documents keep their qml/ prefix; fonts, icons and sounds sit at the root.
file(GLOB_RECURSE corvana_ui_files CONFIGURE_DEPENDS
  RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/qml ${CMAKE_CURRENT_SOURCE_DIR}/qml/*)
# Licences and notes about the assets stay in the repository, not in the program.
list(FILTER corvana_ui_files EXCLUDE REGEX "\\.(md|txt)$")
set(corvana_ui_sources "")
foreach(f IN LISTS corvana_ui_files)
  if(f MATCHES "^(fonts|icons|sounds)/")
    set(alias ${f})
  else()
    set(alias qml/${f})
  endif()
  set_source_files_properties(qml/${f} PROPERTIES QT_RESOURCE_ALIAS ${alias})
  list(APPEND corvana_ui_sources qml/${f})
endforeach()

# Compiles the tree into a target: the program, and the QML tests, which load the same documents.
function(corvana_add_ui target)
  qt_add_resources(${target} corvana_ui_${target} PREFIX "/" FILES ${corvana_ui_sources})
endfunction()

# The program also gets the documents compiled ahead of time, so start-up does not
# parse and compile every page. The compiled units are found by their resource path.
function(corvana_add_compiled_ui target)
  set(qml_docs "")
  set(other "")
  foreach(f IN LISTS corvana_ui_sources)
    if(f MATCHES "\\.qml$")
      list(APPEND qml_docs ${f})
    else()
      list(APPEND other ${f})
    endif()
  endforeach()
  qt_add_qml_module(${target}
    URI CorvanaUi
    VERSION 1.0
    RESOURCE_PREFIX "/"
    NO_RESOURCE_TARGET_PATH
    NO_LINT
    NO_PLUGIN_OPTIONAL
    QML_FILES ${qml_docs})
  qt_add_resources(${target} corvana_ui_assets_${target} PREFIX "/" FILES ${other})
endfunction()

# QML tests: one Qt Quick Test runner over tests/qml/tst_*.qml, with the same resource tree.
if(CORVANA_TESTS AND TARGET corvana_test_support)
  qt_add_executable(corvana_qml_test tests/qml/qml_test_main.cpp)
  set_target_properties(corvana_qml_test PROPERTIES AUTOMOC ON)
  target_link_libraries(corvana_qml_test PRIVATE corvana_core corvana_test_support Qt6::QuickTest Qt6::Quick)
  target_include_directories(corvana_qml_test PRIVATE tests)
  target_compile_definitions(corvana_qml_test PRIVATE
    QUICK_TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/qml"
    CORVANA_QML_TEST_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/qml")
  corvana_warnings(corvana_qml_test)
  corvana_test_defines(corvana_qml_test)
  corvana_add_ui(corvana_qml_test)
  add_dependencies(corvana_qml_test corvana-test-service)
  add_test(NAME corvana.qml COMMAND corvana_qml_test -input ${CMAKE_CURRENT_SOURCE_DIR}/tests/qml)
  set_tests_properties(corvana.qml PROPERTIES TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false")
endif()

# Frame times of the LAN page's room list scrolling through 500 rooms; run by hand
# under a display (Xvfb with xcb), with a short smoke run in CTest.
if(CORVANA_TESTS AND TARGET corvana_core)
  find_package(benchmark REQUIRED)
  qt_add_executable(corvana_lan_list_bench bench/lan_list_bench.cpp)
  target_link_libraries(corvana_lan_list_bench PRIVATE Qt6::Quick Qt6::Qml benchmark::benchmark)
  target_compile_definitions(corvana_lan_list_bench PRIVATE CORVANA_QML_TEST_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/qml")
  corvana_warnings(corvana_lan_list_bench)
  corvana_add_ui(corvana_lan_list_bench)
  add_test(NAME corvana.lan_list_bench_smoke COMMAND corvana_lan_list_bench)
  set_tests_properties(corvana.lan_list_bench_smoke PROPERTIES TIMEOUT 120
    ENVIRONMENT "CORVANA_BENCH_FRAMES=20;QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false")
endif()

# Qt's libraries have no frame pointers: without the slow unwinder the stacks of
# their exit-time leaks are too short for the suppressions in scripts/lsan.supp.
# Every test that shows the window's documents needs it.
if(CORVANA_SANITIZE)
  foreach(test IN ITEMS corvana.qml corvana.lan_list_bench_smoke corvana.startup_program_test)
    if(TEST ${test})
      set_property(TEST ${test} APPEND PROPERTY
        ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::fast_unwind_on_malloc=0")
    endif()
  endforeach()
endif()

# Window tests: the real program under Xvfb with a window manager, driven like a
# player would. They need the build's service address on loopback (the port
# testing/service takes in them) and run in the optimised configuration only.
set(CORVANA_WINDOW_TEST_URL "http://127.0.0.1:8480")
if(CORVANA_TESTS AND NOT CORVANA_SANITIZE AND TARGET corvana)
  if(CORVANA_API_BASE_URL STREQUAL CORVANA_WINDOW_TEST_URL)
    file(GLOB window_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/window/*.sh)
    list(FILTER window_tests EXCLUDE REGEX "/(lib|run-window-test)\\.sh$")
    foreach(script IN LISTS window_tests)
      get_filename_component(stem ${script} NAME_WE)
      add_test(NAME corvana.window.${stem}
        COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/window/run-window-test.sh ${CMAKE_BINARY_DIR} ${script})
      set_tests_properties(corvana.window.${stem} PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
    endforeach()
  else()
    message(STATUS "window tests off: they need -DCORVANA_API_BASE_URL=${CORVANA_WINDOW_TEST_URL}")
  endif()
endif()
