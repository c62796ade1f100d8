# One static library per source folder, its sources found by glob so that a new
# module file needs no edit of a build script. A folder without sources yet is an
# interface library, so that dependents can already name it. With RECURSIVE the
# folders' subfolders belong to the library too (the engine's storage, whose
# engines live in subfolders that fill up over time).
set(VALMORA_WARNINGS -Wall -Wextra -Werror)

function(valmora_module name)
  cmake_parse_arguments(M "RECURSIVE" "" "DIRS;DEPS;INCLUDES" ${ARGN})
  if(NOT M_DIRS)
    set(M_DIRS ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  set(srcs "")
  foreach(d IN LISTS M_DIRS)
    if(M_RECURSIVE)
      file(GLOB_RECURSE found CONFIGURE_DEPENDS ${d}/*.cpp ${d}/*.c)
    else()
      file(GLOB found CONFIGURE_DEPENDS ${d}/*.cpp ${d}/*.c)
    endif()
    list(APPEND srcs ${found})
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_compile_options(${name} PRIVATE ${VALMORA_WARNINGS})
    target_include_directories(${name} PUBLIC ${M_INCLUDES})
    target_link_libraries(${name} PUBLIC ${M_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${M_INCLUDES})
    target_link_libraries(${name} INTERFACE ${M_DEPS})
  endif()
endfunction()

# Test folders the build has taken care of; tests/CMakeLists.txt refuses to
# configure when a folder with sources under tests/ is not among them.
function(valmora_claim_test_dir dir)
  get_filename_component(dir ${dir} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY VALMORA_CLAIMED_TEST_DIRS ${dir})
endfunction()

# A test executable from every *.cpp of a folder, registered with CTest.
function(valmora_test name)
  cmake_parse_arguments(T "" "DIR" "DEPS" ${ARGN})
  if(NOT T_DIR)
    set(T_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  valmora_claim_test_dir(${T_DIR})
  file(GLOB srcs CONFIGURE_DEPENDS ${T_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_compile_options(${name} PRIVATE ${VALMORA_WARNINGS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
