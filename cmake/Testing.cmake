# Test programs: GoogleTest executables, one CTest test each. Every run writes a
# JUnit-style XML report to test-results/, from which `kv test` counts cases.
enable_testing()

if(CMAKE_CROSSCOMPILING)
  # Debian ships the GoogleTest sources; build them with the cross compiler.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The win32 tests run under Wine in the prefix ./kv makes and names here;
  # cmake/wine.env holds the rest of the Wine settings. Without it, the test
  # runners take WINEPREFIX from the environment.
  set(KV_WINEPREFIX "" CACHE PATH "Wine prefix the win32 tests run in (./kv passes build/wineprefix)")
  set(KV_PEER_DLL "" CACHE FILEPATH
      "KvAudioEncoder.dll of the other bitness, registered beside this one in the client test (./kv passes it)")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-run)
  # For tests/dll/run_dll_tests.sh: the bitness says which regsvr32 and
  # registry view the module's registration goes through.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KV_WINEPREFIX_ARGS --arch win64)
  else()
    set(KV_WINEPREFIX_ARGS --arch win32)
  endif()
  if(KV_WINEPREFIX)
    list(APPEND CMAKE_CROSSCOMPILING_EMULATOR --prefix ${KV_WINEPREFIX})
    list(APPEND KV_WINEPREFIX_ARGS --prefix-source ${KV_WINEPREFIX})
  endif()
else()
  find_package(GTest REQUIRED)
endif()

set(KV_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)
file(MAKE_DIRECTORY ${KV_TEST_RESULTS})

# kv_test(NAME <name> SOURCES <files...> [LIBS <targets...>])
function(kv_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${T_NAME} PRIVATE KV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  add_test(NAME ${T_NAME}
           COMMAND ${T_NAME} --gtest_output=xml:test-results/${T_NAME}.xml
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()
