# One place for warnings, sanitizers and the way libraries and tests are declared.

set(BROWSER_WARNINGS -Wall -Wextra -Werror -Wno-unused-parameter
    $<$<CXX_COMPILER_ID:Clang>:-Wthread-safety>)

if(BROWSER_SANITIZER STREQUAL "asan")
  set(BROWSER_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
                              -fno-omit-frame-pointer)
elseif(BROWSER_SANITIZER STREQUAL "tsan")
  set(BROWSER_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT BROWSER_SANITIZER STREQUAL "")
  message(FATAL_ERROR "BROWSER_SANITIZER must be empty, asan or tsan")
endif()
if(BROWSER_SANITIZER_FLAGS)
  add_compile_options(${BROWSER_SANITIZER_FLAGS})
  add_link_options(${BROWSER_SANITIZER_FLAGS})
endif()
# A fuzz build gives every library coverage instrumentation, so that libFuzzer sees the code under
# test and not only its harness; the harnesses alone link libFuzzer (fuzz/CMakeLists.txt).
if(BROWSER_BUILD_FUZZERS)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# browser_add_library(NAME <SHARED|STATIC> SOURCES ... [DEPS ...])
function(browser_add_library name kind)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} ${kind} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${BROWSER_WARNINGS})
  # Installed, only the public headers remain (cmake/BrowserPackage.cmake).
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:include>)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  if(kind STREQUAL "SHARED" AND NOT BROWSER_SANITIZER_FLAGS)
    # A shared library must not leave undefined symbols for its host to satisfy. (Sanitizer
    # builds are exempt: clang leaves the runtime for the executable to bring.)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

# browser_add_test(NAME SOURCES ... [DEPS ...]): one GoogleTest binary, each case a CTest test.
function(browser_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${BROWSER_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main
                                        Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
