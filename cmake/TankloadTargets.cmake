# Common settings for every target of the project: warnings per target, optional
# -Werror and sanitizers, never edits of CMAKE_CXX_FLAGS.

function(tankload_settings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  # GCC 12 reports overlaps that cannot happen in inlined std::string concatenation at -O3
  # (a known false -Wrestrict, fixed in GCC 13); other compilers and versions keep it.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(TANKLOAD_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(TANKLOAD_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                           -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# tankload_library(name SOURCES... [DEPS ...]): a module library whose sources are
# the .cpp files of its folder; headers are included as "module/Header.h".
function(tankload_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  tankload_settings(${name})
endfunction()

# tankload_test(name [DEPS ...]): one GoogleTest program built from the .cpp files of
# the calling folder (tests/<module>/) and linked with the shared test support
# (tests/support/), registered with CTest.
function(tankload_test name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} test_support
                        GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name}_tests PRIVATE
    TANKLOAD_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TANKLOAD_SHARED_FIXTURES="${PROJECT_SOURCE_DIR}/../shared/fixtures")
  tankload_settings(${name}_tests)
  include(GoogleTest)
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
