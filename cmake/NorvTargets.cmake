# Per-target settings: warnings, sanitizers, and one function that registers a test.

function(norv_target_settings target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(NORV_SANITIZE)
    # The sanitizer build is the test build: -O1, as AddressSanitizer advises, and line tables
    # only, which is all its reports read, compile in half the time of -O2 with full debug info.
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined -O1 -g1)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
  norv_fuzz_settings(${target})
endfunction()

# The fuzz build: coverage instrumentation and the sanitizers on every library and fuzzer;
# the fuzzers add the fuzzer runtime themselves (fuzz/CMakeLists.txt).
function(norv_fuzz_settings target)
  if(NORV_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                                             -fno-omit-frame-pointer -g)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

# norv_add_library(name SOURCES ... [LIBS ...]): a library of one folder. The sources are listed
# one a line, relative to the folder; a file missing from disk stops the configure step.
function(norv_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "norv_add_library(${name}) needs SOURCES")
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  norv_target_settings(${name})
endfunction()

# norv_add_program(name SOURCES ... LIBS ...): a program landing in build/bin.
function(norv_add_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  norv_target_settings(${name})
endfunction()

# norv_add_test(name LABEL label [QT_MAIN|WIDGETS_MAIN] [SERIAL] SOURCES ... [LIBS ...] [TIMEOUT s]
#               [RESOURCE_LOCK name]):
# a GoogleTest binary whose cases are registered with ctest under one label.
# QT_MAIN gives the tests a QCoreApplication, WIDGETS_MAIN a QApplication (offscreen).
# RESOURCE_LOCK keeps cases that share a fixed resource (such as the engine's ports) from running at once;
# SERIAL runs each case alone (cases that load the whole machine, or measure it).
function(norv_add_test name)
  cmake_parse_arguments(ARG "QT_MAIN;WIDGETS_MAIN;SERIAL" "LABEL;TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_LABEL)
    message(FATAL_ERROR "norv_add_test(${name}) needs a LABEL")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "norv_add_test(${name}) needs SOURCES")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  if(ARG_QT_MAIN OR ARG_WIDGETS_MAIN)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/qt_test_main.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock Qt6::Core OpenSSL::Crypto)
    if(ARG_WIDGETS_MAIN)
      target_compile_definitions(${name} PRIVATE NORV_TEST_WIDGETS)
      target_link_libraries(${name} PRIVATE Qt6::Widgets)
    endif()
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  endif()
  norv_target_settings(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  norv_test_definitions(${name})
  # One variable only: the test discovery script flattens a list here. The sanitizer options
  # (leak suppressions among them) come from scripts/test.sh's environment.
  set(env QT_QPA_PLATFORM=offscreen)
  set(extra)
  if(ARG_RESOURCE_LOCK)
    set(extra RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  if(ARG_SERIAL)
    list(APPEND extra RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}" ${extra})
endfunction()

# Where tests find the sources, their fixtures and the build.
function(norv_test_definitions target)
  target_compile_definitions(${target} PRIVATE
    NORV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    NORV_FIXTURES_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures"
    NORV_BINARY_DIR="${CMAKE_BINARY_DIR}"
    NORV_FAKE_RESOURCES_DIR="${NORV_FAKE_RESOURCES_DIR}"
    NORV_PROJECT_VERSION="${PROJECT_VERSION}")
endfunction()

# norv_add_test_support(name SOURCES ... [LIBS ...]): a library of tests/support that test
# binaries link; it sees the same fixture and build folders as the tests.
function(norv_add_test_support name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  norv_add_library(${name} SOURCES ${ARG_SOURCES} LIBS ${ARG_LIBS})
  norv_test_definitions(${name})
endfunction()
