set(VALMORA_WARNINGS -Wall -Wextra -Werror)
# GCC 12 misreads its own library at -O3 (CMake's plain Release flags): the
# inlined copies inside std::string draw a bogus -Wrestrict "may overlap" (GCC bug
# 105329), and those inside std::vector's growth bogus -Warray-bounds and
# -Wstringop-overread. They name no fault of ours, so that compiler at that level
# alone is spared these three; every other warning stays an error, and the
# presets' builds (-O1 for the tests, -O2 for the release) and other compilers
# keep all of them.
string(TOUPPER "${CMAKE_BUILD_TYPE}" VALMORA_BUILD_TYPE)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13
   AND "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${VALMORA_BUILD_TYPE}}" MATCHES "-O3")
  list(APPEND VALMORA_WARNINGS -Wno-restrict -Wno-array-bounds -Wno-stringop-overread)
endif()

# clang checks the lock annotations (foundation/VEXLock.h); g++ has no such
# analysis and the annotations expand to nothing there.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  list(APPEND VALMORA_WARNINGS -Wthread-safety)
endif()

# One static library per source folder, its sources found by glob so that a new
# module file needs no edit of a build script. A folder without sources yet is an
# interface library, so that dependents can already name it. With RECURSIVE the
# folders' subfolders belong to the library too (the engine's storage, whose
# engines live in subfolders that fill up over time).
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
  # Tests of the engine and of the plug-in run with the engine started, as the
  # library's load starts it; tests of the platform alone need no start-up.
  if("valmora_core" IN_LIST T_DEPS)
    list(APPEND srcs ${CMAKE_SOURCE_DIR}/tests/support/PluginTestMain.cpp)
    set(main "")
  elseif("vex_engine" IN_LIST T_DEPS OR "vex_foundation" IN_LIST T_DEPS)
    list(APPEND srcs ${CMAKE_SOURCE_DIR}/tests/support/EngineTestMain.cpp)
    set(main "")
  else()
    set(main GTest::gtest_main)
  endif()
  add_executable(${name} ${srcs})
  if("vex_engine" IN_LIST T_DEPS)
    # Programs that link the engine library start its upper layers too.
    target_compile_definitions(${name} PRIVATE VALMORA_TEST_ENGINE_LIBRARY)
  endif()
  target_compile_options(${name} PRIVATE ${VALMORA_WARNINGS})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Tests drive lock-guarded objects from one thread, without the database
    # objects that own their locks: the analysis is for the engine's own code.
    target_compile_options(${name} PRIVATE -Wno-thread-safety-analysis)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gmock ${main})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
