# Install rules every folder may use (qx_install_program, qx_install_companions, qx_install_manual).
include(${CMAKE_CURRENT_LIST_DIR}/QxInstall.cmake)

# qx_add_gtest(NAME SOURCES... LIBS ... [LABELS ...] [TIMEOUT s])
# Builds one GoogleTest program and registers every test in it with ctest.
include(GoogleTest)
find_package(GTest REQUIRED)

function(qx_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE QX_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
                                             QX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # Only one environment entry survives test discovery as a property; sanitizer options come from
  # the environment ctest runs in (see `make test-asan`).
  # A library renamed or dropped must not take its tests with it silently: the names are checked once
  # every folder has been read.
  foreach(lib ${ARG_LIBS})
    if(lib MATCHES "^qx_")
      set_property(GLOBAL APPEND PROPERTY QX_TEST_LIBRARIES "${name}>${lib}")
    endif()
  endforeach()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS "${ARG_LABELS}")
endfunction()

# Every project library (qx_*) a test program names must exist (a missing A::B is an error already).
function(qx_check_test_libraries)
  get_property(links GLOBAL PROPERTY QX_TEST_LIBRARIES)
  foreach(link ${links})
    string(REPLACE ">" ";" parts "${link}")
    list(GET parts 0 program)
    list(GET parts 1 lib)
    if(NOT TARGET ${lib})
      message(FATAL_ERROR "test program ${program} links ${lib}, which no folder defines")
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qx_check_test_libraries)

# qx_add_subfolders(): adds every subfolder of the current folder that has a CMakeLists.txt, in name order.
function(qx_add_subfolders)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
