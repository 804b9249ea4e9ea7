# qx_add_gtest(NAME SOURCES... LIBS ... [LABELS ...] [ENV ...])
# Builds one GoogleTest program and registers every test in it with ctest.
include(GoogleTest)
find_package(GTest REQUIRED)

function(qx_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE QX_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
                                             QX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(env QT_QPA_PLATFORM=offscreen ${ARG_ENV})
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}" LABELS "${ARG_LABELS}")
endfunction()
