# Shared build conventions of the project.

# Our own code builds with warnings as errors; third-party headers are system includes.
function(ipcam_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter)
endfunction()

macro(ipcam_apply_sanitizers)
  if(IPCAM_SANITIZE)
    set(_san_flags "-fsanitize=${IPCAM_SANITIZE} -fno-omit-frame-pointer")
    if(IPCAM_SANITIZE MATCHES "undefined")
      string(APPEND _san_flags " -fno-sanitize-recover=undefined")
    endif()
    string(APPEND CMAKE_C_FLAGS " ${_san_flags}")
    string(APPEND CMAKE_CXX_FLAGS " ${_san_flags}")
    string(APPEND CMAKE_EXE_LINKER_FLAGS " -fsanitize=${IPCAM_SANITIZE}")
    string(APPEND CMAKE_SHARED_LINKER_FLAGS " -fsanitize=${IPCAM_SANITIZE}")
  endif()
  # Fuzz builds instrument every library for coverage, so libFuzzer sees the
  # branches of the parsers it drives and not only those of the fuzz targets.
  if(IPCAM_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    string(APPEND CMAKE_C_FLAGS " -fsanitize=fuzzer-no-link")
    string(APPEND CMAKE_CXX_FLAGS " -fsanitize=fuzzer-no-link")
  endif()
endmacro()

# ipcam_library(NAME [SHARED] SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# A subsystem library; its folder's parent ("src") is the include root, so code
# includes "os/kernel/Kernel.h", "platform/CMediaObj.h" and so on.
function(ipcam_library name)
  cmake_parse_arguments(A "SHARED" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  if(A_SHARED)
    add_library(${name} SHARED ${A_SOURCES})
  else()
    add_library(${name} STATIC ${A_SOURCES})
  endif()
  # Installed, the headers of src/ sit under include/ipcamview (cmake/IpcamInstall.cmake).
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
                                            $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
  target_link_libraries(${name} PUBLIC ${A_PUBLIC_LIBS} PRIVATE ${A_PRIVATE_LIBS})
  ipcam_warnings(${name})
endfunction()

# ipcam_test(NAME SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One GoogleTest binary registered as one ctest test. Label "threads" marks the
# tests that the ThreadSanitizer build runs.
# OPTIMISED: the test's own code does the heavy work (pixel comparisons, a
# reference compositor, parsing whole streams): in a sanitizer build, where
# test programs otherwise compile at -O0 (tests/CMakeLists.txt), it keeps -O1.
function(ipcam_test name)
  cmake_parse_arguments(A "OPTIMISED" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  if(A_OPTIMISED AND IPCAM_SANITIZE)
    target_compile_options(${name} PRIVATE -O1)
  endif()
  find_package(GTest REQUIRED)
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include
                                             ${PROJECT_SOURCE_DIR}/tests)
  ipcam_warnings(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
                       ENVIRONMENT "IPCAM_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp;IPCAM_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(A_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}")
  endif()
endfunction()
