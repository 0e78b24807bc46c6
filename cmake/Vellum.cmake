# Helpers every subsystem uses to declare its libraries, tests, fuzz targets
# and benchmarks once; the flavour of the build decides what each becomes.

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(VELLUM_WINDOWS ON)
else()
  set(VELLUM_WINDOWS OFF)
endif()
# The Windows target's architecture: code that reads or changes a thread's
# registers, patches code or holds assembly has a file for each.
if(VELLUM_WINDOWS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(VELLUM_ARCH x64)
else()
  set(VELLUM_ARCH x86)
endif()

set(VELLUM_WARNINGS -Wall -Wextra -Werror)
# A pointer or handle must keep its width in the 64-bit build: an integer of
# another size cast to a pointer is an error (a pointer cast straight to a
# smaller integer already is one in C++); tools/check_width.py finds the
# truncations the compilers cannot see.
list(APPEND VELLUM_WARNINGS -Wint-to-pointer-cast $<$<COMPILE_LANGUAGE:C>:-Wpointer-to-int-cast>)
# GCC 12 reports -Wrestrict overlaps inside std::string's own insert/replace
# when they are inlined at -O2 (a known false positive of that release); the
# warning has found nothing real here and only breaks builds at random.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND VELLUM_WARNINGS -Wno-restrict)
endif()
set(VELLUM_TEST_TIMEOUT 120 CACHE STRING "Seconds a single test may run")

if(VELLUM_WINDOWS)
  # Win32 headers: ANSI functions, no min/max macros, Windows XP-era API
  # surface plus what Vista added (the shell band interfaces need it).
  # A fault in our code is turned into an exception thrown at the faulting
  # instruction; the unwinder finds handlers there only when every
  # instruction that may trap is covered like a call.
  add_compile_options(-fnon-call-exceptions)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                          WINVER=0x0601 _WIN32_IE=0x0800 STRICT)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
  set(VELLUM_GTEST GTest::gtest)
  set(VELLUM_GTEST_MAIN GTest::gtest_main)
  # Catch2 v2 is one header; a copy keeps /usr/include (the host's C library)
  # off the cross compiler's search path.
  configure_file(/usr/include/catch2/catch.hpp ${CMAKE_BINARY_DIR}/_catch2/catch2/catch.hpp COPYONLY)
  set(VELLUM_CATCH2_DIR ${CMAKE_BINARY_DIR}/_catch2)
elseif(VELLUM_FUZZ)
  set(VELLUM_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -g -O1)
  add_compile_options(${VELLUM_FUZZ_FLAGS})
  add_link_options(-fsanitize=address,undefined)
else()
  if(VELLUM_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
  endif()
  find_package(GTest REQUIRED)
  find_package(benchmark QUIET)
  set(VELLUM_GTEST GTest::gtest)
  set(VELLUM_GTEST_MAIN GTest::gtest_main)
endif()

set(VELLUM_SOURCE_ROOT ${CMAKE_SOURCE_DIR})

# zlib: linked statically into the Windows build, because the DLL lives in
# Explorer's process and may import system DLLs only, never zlib1.dll.
if(VELLUM_WINDOWS)
  set(VELLUM_ZLIB /usr/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32/lib/libz.a)
else()
  find_package(ZLIB REQUIRED)
  set(VELLUM_ZLIB ZLIB::ZLIB)
endif()

# Adds every immediate sub-folder that has a CMakeLists.txt, so that pieces of a
# subsystem can be added without touching a shared list.
function(vellum_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

function(_vellum_common target)
  target_compile_options(${target} PRIVATE ${VELLUM_WARNINGS})
  target_include_directories(${target} PUBLIC ${VELLUM_SOURCE_ROOT})
endfunction()

# vellum_library(NAME [PORTABLE] SOURCES ... [WIN32_SOURCES ...] [POSIX_SOURCES ...] [DEPS ...] [WIN32_DEPS ...])
# A PORTABLE library is built in every flavour (WIN32_SOURCES only in the
# Windows one, POSIX_SOURCES only natively); any other library is Windows-only.
function(vellum_library name)
  cmake_parse_arguments(A "PORTABLE" "" "SOURCES;WIN32_SOURCES;POSIX_SOURCES;DEPS;WIN32_DEPS" ${ARGN})
  if(NOT A_PORTABLE AND NOT VELLUM_WINDOWS)
    return()
  endif()
  set(sources ${A_SOURCES})
  if(VELLUM_WINDOWS)
    list(APPEND sources ${A_WIN32_SOURCES})
  else()
    list(APPEND sources ${A_POSIX_SOURCES})
  endif()
  add_library(${name} STATIC ${sources})
  _vellum_common(${name})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  if(VELLUM_WINDOWS)
    target_link_libraries(${name} PUBLIC ${A_WIN32_DEPS})
  endif()
endfunction()

# vellum_test(NAME [PORTABLE] SOURCES ... [DEPS ...] [TIMEOUT s] [LABELS ...] [NO_MAIN])
# GoogleTest programs. PORTABLE tests run natively and, cross-compiled, under
# Wine; the others run under Wine only. Fuzz builds build no tests.
function(vellum_test name)
  cmake_parse_arguments(A "PORTABLE;NO_MAIN" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(VELLUM_FUZZ OR (NOT A_PORTABLE AND NOT VELLUM_WINDOWS))
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  _vellum_common(${name})
  if(A_NO_MAIN)
    target_link_libraries(${name} PRIVATE ${A_DEPS} ${VELLUM_GTEST})
  else()
    target_link_libraries(${name} PRIVATE ${A_DEPS} ${VELLUM_GTEST_MAIN})
  endif()
  if(VELLUM_WINDOWS)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT ${VELLUM_TEST_TIMEOUT})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "VELLUM_SOURCE_DIR=${VELLUM_SOURCE_ROOT};VELLUM_BINARY_DIR=${CMAKE_BINARY_DIR}")
  if(A_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}")
  endif()
endfunction()

# vellum_fuzz_target(NAME SOURCES ... DEPS ...): a libFuzzer program, built
# only in the fuzz flavour and run at length by scripts/fuzz. It is also a
# test of the fuzz flavour: its seeds (tools/fuzz/seeds/NAME) and a few
# seconds of fuzzing, so that the test command notices a target that no
# longer builds, crashes on a seed or has no seeds.
set(VELLUM_FUZZ_SECONDS 3 CACHE STRING "Seconds each fuzz target runs as a test")
# The fuzz targets alone, without the portable libraries none of them uses.
if(VELLUM_FUZZ)
  add_custom_target(vellum_fuzzers)
endif()
function(vellum_fuzz_target name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT VELLUM_FUZZ)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  _vellum_common(${name})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
  add_dependencies(vellum_fuzzers ${name})
  set_property(GLOBAL APPEND PROPERTY VELLUM_FUZZ_TARGETS ${name})
  add_test(NAME ${name}
    COMMAND bash ${VELLUM_SOURCE_ROOT}/tools/fuzz/run_on_seeds.sh $<TARGET_FILE:${name}>
            ${VELLUM_SOURCE_ROOT}/tools/fuzz/seeds/${name} ${CMAKE_BINARY_DIR}/check/${name} ${VELLUM_FUZZ_SECONDS})
  math(EXPR timeout "${VELLUM_FUZZ_SECONDS} + 60")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout} LABELS fuzz)
endfunction()

# vellum_benchmark(NAME SOURCES ... DEPS ... [WIN32]): Google Benchmark natively,
# Catch2 (v2, header-only) BENCHMARK for WIN32 ones. Programs, not tests.
function(vellum_benchmark name)
  cmake_parse_arguments(A "WIN32" "" "SOURCES;DEPS" ${ARGN})
  if(VELLUM_FUZZ)
    return()
  endif()
  if(A_WIN32)
    if(NOT VELLUM_WINDOWS)
      return()
    endif()
    add_executable(${name} ${A_SOURCES})
    _vellum_common(${name})
    target_include_directories(${name} SYSTEM PRIVATE ${VELLUM_CATCH2_DIR})
    target_compile_definitions(${name} PRIVATE CATCH_CONFIG_ENABLE_BENCHMARKING)
    target_link_libraries(${name} PRIVATE ${A_DEPS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/benchmarks)
  else()
    if(VELLUM_WINDOWS OR NOT TARGET benchmark::benchmark)
      return()
    endif()
    add_executable(${name} ${A_SOURCES})
    _vellum_common(${name})
    target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark benchmark::benchmark_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/benchmarks)
  endif()
endfunction()

if(VELLUM_WINDOWS)
  # ctest runs every Windows program through the Wine runner with the build
  # tree's private prefix.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELLUM_SOURCE_ROOT}/tools/wine/run ${CMAKE_BINARY_DIR}/wineprefix)
endif()
