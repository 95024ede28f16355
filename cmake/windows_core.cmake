# The Windows build so far, included by the top-level CMakeLists.txt in place of the rest of it:
# the layers that need neither GMime nor Qt (Debian packages neither for Windows), that is common,
# fs and the PST writer's ndb, ltp and messaging layers and the reader, with their tests. cmake/mingw-w64.cmake
# is the toolchain; scripts/cross_build.sh drives the build and runs the tests under wine.

# Tests that need what only POSIX has; the code they test builds and runs on Windows.
set(QUILL_WINDOWS_PENDING_SOURCES
  pst/ndb/file_placement_posix_test.cpp  # forks writers, changes a folder's owner, locks with flock
  pst/ndb/file_writer_posix_test.cpp)    # kills a forked writer
set(QUILL_WINDOWS_PENDING_TESTS)

if(BUILD_TESTS)
  enable_testing()
  # GoogleTest from Debian's source package, built with the same compiler as the code it tests.
  set(QUILL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QUILL_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest)  # older GoogleTest releases define no namespaced names
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()

# The same call as on Linux, but one ctest test per program rather than per case: every case
# would otherwise start wine once to be listed and once to run.
function(quill_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT BUILD_TESTS OR T_NAME IN_LIST QUILL_WINDOWS_PENDING_TESTS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "QUILL_SHARED_DIR=${QUILL_SHARED_DIR}")
endfunction()

get_filename_component(QUILL_SHARED_DIR "${CMAKE_SOURCE_DIR}/../shared" ABSOLUTE)
set(BUILD_BENCH OFF)

add_subdirectory(common)
add_subdirectory(fs)
add_subdirectory(pst/ndb)
add_subdirectory(pst/ltp)
add_subdirectory(pst/messaging)
# The reader, for the tests that read back what the writer wrote on this system.
add_subdirectory(pst/read)

# Takes the pending files out of the targets that list them.
foreach(target pst_ndb pst_ndb_test)
  if(TARGET ${target})
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    set(kept)
    foreach(source IN LISTS sources)
      get_filename_component(full ${source} ABSOLUTE BASE_DIR ${dir})
      file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${full})
      if(NOT relative IN_LIST QUILL_WINDOWS_PENDING_SOURCES)
        list(APPEND kept ${source})
      endif()
    endforeach()
    set_property(TARGET ${target} PROPERTY SOURCES ${kept})
  endif()
endforeach()
