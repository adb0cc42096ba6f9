# Test programs: GoogleTest executables, one CTest test each. Every run writes a
# JUnit-style XML report to test-results/, from which `kv test` counts cases.
enable_testing()

if(CMAKE_CROSSCOMPILING)
  # Debian ships the GoogleTest sources; build them with the cross compiler.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The Windows tests run under Wine in the prefix named here (the presets
  # name build/wineprefix), which the kv_wine_prefix fixture below makes and
  # starts; cmake/wine.env holds the rest of the Wine settings. Without it,
  # the fixture and the test runners take WINEPREFIX from the environment.
  set(KV_WINEPREFIX "" CACHE PATH "Wine prefix the Windows tests run in (the presets give build/wineprefix)")
  set(KV_PEER_DLL "" CACHE FILEPATH
      "KvAudioEncoder.dll of the other bitness, registered beside this one in the client test (the presets give it)")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-run)
  # For tests/dll/run_dll_tests.sh: the bitness says which regsvr32 and
  # registry view the module's registration goes through.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KV_WINEPREFIX_ARGS --arch win64)
  else()
    set(KV_WINEPREFIX_ARGS --arch win32)
  endif()
  set(KV_WINE_PREFIX_OPTION)
  if(KV_WINEPREFIX)
    set(KV_WINE_PREFIX_OPTION --prefix ${KV_WINEPREFIX})
    list(APPEND CMAKE_CROSSCOMPILING_EMULATOR ${KV_WINE_PREFIX_OPTION})
    list(APPEND KV_WINEPREFIX_ARGS --prefix-source ${KV_WINEPREFIX})
  endif()
  add_test(NAME wine_prefix_start COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix start ${KV_WINE_PREFIX_OPTION})
  add_test(NAME wine_prefix_stop COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix stop ${KV_WINE_PREFIX_OPTION})
  set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP kv_wine_prefix LABELS wine)
  set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP kv_wine_prefix LABELS wine)
else()
  find_package(GTest REQUIRED)
endif()

set(KV_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)
file(MAKE_DIRECTORY ${KV_TEST_RESULTS})

# Labels, for `ctest -L`: unit (a test program of its own), dll (a client of
# the installed and registered DLLs), wine (runs under Wine: every test of a
# Windows build), slow (a soak, valgrind) and fuzz (replays and smoke runs of
# the fuzz targets). Every test has one: kv_test() gives its programs "unit",
# kv_test_labels() labels the others, and at the end of each folder that uses
# either, a test with none stops the configuration.
function(kv_test_labels NAME)
  set_property(TEST ${NAME} APPEND PROPERTY LABELS ${ARGN})
  get_property(scheduled DIRECTORY PROPERTY KV_TEST_LABELS_CHECKED)
  if(NOT scheduled)
    set_property(DIRECTORY PROPERTY KV_TEST_LABELS_CHECKED ON)
    cmake_language(DEFER CALL _kv_check_test_labels)
  endif()
endfunction()

# Under Wine every test runs in the prefix the kv_wine_prefix fixture makes
# and starts, which is why `ctest` in a Windows build works on its own.
function(_kv_check_test_labels)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(t IN LISTS tests)
    if(CMAKE_CROSSCOMPILING)
      set_property(TEST ${t} APPEND PROPERTY LABELS wine)
      set_property(TEST ${t} APPEND PROPERTY FIXTURES_REQUIRED kv_wine_prefix)
    endif()
    get_test_property(${t} LABELS labels)
    if(NOT labels)
      message(FATAL_ERROR "test ${t} has no label: give it one with kv_test_labels() (cmake/Testing.cmake)")
    endif()
  endforeach()
endfunction()

# kv_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>])
function(kv_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${T_NAME} PRIVATE KV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  add_test(NAME ${T_NAME}
           COMMAND ${T_NAME} --gtest_output=xml:test-results/${T_NAME}.xml
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  kv_test_labels(${T_NAME} unit ${T_LABELS})
endfunction()
