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
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS "${ARG_LABELS}")
endfunction()

# qx_add_optional_gtest(NAME SOURCE [SOURCES ...] LIBS ... [EXTRA_LIBS ...] [TIMEOUT s])
# qx_add_gtest for a folder whose tests come and go with the parts they test: nothing is built when
# SOURCE or one of the LIBS targets is missing. The calling folder's headers are visible.
function(qx_add_optional_gtest name source)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;EXTRA_LIBS" ${ARGN})
  if(NOT EXISTS ${source})
    return()
  endif()
  foreach(lib ${ARG_LIBS})
    if(NOT TARGET ${lib})
      return()
    endif()
  endforeach()
  qx_add_gtest(${name} SOURCES ${source} ${ARG_SOURCES} LIBS ${ARG_LIBS} ${ARG_EXTRA_LIBS} TIMEOUT ${ARG_TIMEOUT})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

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
