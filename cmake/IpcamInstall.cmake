# What `cmake --install` puts in the prefix, and the Debian package cpack makes of it.
#
#   bin/ipcamview, bin/camsim                  the host program and the device simulator
#   lib/libipcamview.so.0 (+ .so, .so.0.x.y)    the five C functions, nothing else exported
#   lib/ipcamview/libvcodec.so, libreckit.so    the codec and recording libraries, loaded on first use
#   lib/libipcam_*.a, libvcodec_import.a, ...   the static libraries of a host that holds a CViewer
#   include/ipcamview/                          ipcamview.h (C), Viewer.h and Window.h (C++) and the
#                                               headers of src/ these reach, at their paths under src/
#   lib/pkgconfig/ipcamview.pc                  the C library
#   lib/cmake/ipcamview/                        find_package(ipcamview): ipcamview::ipcamview (C) and
#                                               ipcamview::viewer (C++, static) with what lies beneath
#
# Everything is relative to the prefix (run paths with $ORIGIN, the .pc file from its own folder), so
# `cmake --install build --prefix DIR` gives a tree that works wherever it is put.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(IPCAM_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ipcamview)
# The codec and recording libraries keep generic names: a folder of their own keeps them out of the
# system's library namespace. libipcamview.so and the programs find them through their run paths.
set(IPCAM_INSTALL_PRIVATEDIR ${CMAKE_INSTALL_LIBDIR}/ipcamview)

# --- the static libraries under the viewer's class interface --------------------------------------

# Every static library of ours that `roots` link, directly or through another.
function(ipcam_static_closure out)
  set(todo ${ARGN})
  set(seen)
  while(todo)
    list(POP_FRONT todo t)
    if(NOT TARGET ${t} OR t IN_LIST seen)
      continue()
    endif()
    get_target_property(aliased ${t} ALIASED_TARGET)
    if(aliased)
      list(APPEND todo ${aliased})
      continue()
    endif()
    get_target_property(imported ${t} IMPORTED)
    get_target_property(type ${t} TYPE)
    if(imported OR NOT type STREQUAL "STATIC_LIBRARY")
      continue()
    endif()
    list(APPEND seen ${t})
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(libs ${t} ${prop})
      foreach(lib IN LISTS libs)
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
        list(APPEND todo ${lib})
      endforeach()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# The SONAME of a shared library (libcurl.so.4 for .../libcurl.so).
function(ipcam_soname_of file out)
  set(${out} "" PARENT_SCOPE)
  execute_process(COMMAND ${CMAKE_READELF} -d ${file} OUTPUT_VARIABLE dyn RESULT_VARIABLE rc ERROR_QUIET)
  if(rc EQUAL 0 AND dyn MATCHES "\\(SONAME\\)[^[]*\\[([^]]+)\\]")
    set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
  endif()
endfunction()

set(_viewer_roots ipcam_api ipcam_viewer ipcam_os_window_sdl)
ipcam_static_closure(IPCAM_INSTALLED_STATIC ${_viewer_roots})

# The libraries our static libraries link through pkg-config's imported targets (curl, cairo, SDL2,
# ...): an installed tree names them by their runtime file (libcurl.so.4), so that a host links the
# viewer with the runtime packages alone, no -dev package needed.
set(_pkg_targets)
foreach(t IN LISTS IPCAM_INSTALLED_STATIC)
  get_target_property(libs ${t} LINK_LIBRARIES)
  get_target_property(ilibs ${t} INTERFACE_LINK_LIBRARIES)
  foreach(lib IN LISTS libs ilibs)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
    if(lib MATCHES "^PkgConfig::" AND NOT lib IN_LIST _pkg_targets)
      list(APPEND _pkg_targets ${lib})
    endif()
  endforeach()
endforeach()
set(IPCAM_CONFIG_DEPENDENCIES "")
foreach(pt IN LISTS _pkg_targets)
  get_target_property(files ${pt} INTERFACE_LINK_LIBRARIES)
  set(sonames)
  foreach(f IN LISTS files)
    if(IS_ABSOLUTE "${f}")
      ipcam_soname_of(${f} soname)
      if(NOT soname)
        message(FATAL_ERROR "no SONAME in ${f} (for ${pt})")
      endif()
      list(APPEND sonames ${soname})
    endif()
  endforeach()
  string(APPEND IPCAM_CONFIG_DEPENDENCIES "_ipcamview_runtime_target(${pt} ${sonames})\n")
endforeach()

foreach(t IN LISTS IPCAM_INSTALLED_STATIC)
  string(REGEX REPLACE "^(ipcam|ipc)_" "" name ${t})
  set_target_properties(${t} PROPERTIES EXPORT_NAME ${name})
  target_compile_features(${t} INTERFACE cxx_std_17)
  target_include_directories(${t} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
                                            $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/ipcamview>)
endforeach()
target_include_directories(ipcamview INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# --- run paths ---------------------------------------------------------------------------------------

file(RELATIVE_PATH _bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(ipcamview PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
                                           INSTALL_RPATH "$ORIGIN/ipcamview")
set_target_properties(ipcamview_host PROPERTIES INSTALL_RPATH
                                                "$ORIGIN/${_bin_to_lib}:$ORIGIN/${_bin_to_lib}/ipcamview")

# --- what is installed ---------------------------------------------------------------------------------

install(TARGETS ipcamview EXPORT ipcamviewTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ${IPCAM_INSTALLED_STATIC} EXPORT ipcamviewTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS vcodec reckit LIBRARY DESTINATION ${IPCAM_INSTALL_PRIVATEDIR})
install(TARGETS ipcamview_host camsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The build tree's modules find libvcodec and libreckit through run-path entries that the import
# libraries add as link options; CMake replaces only the run path it made itself, so the installed
# files get theirs set whole.
foreach(_installed ipcamview:${CMAKE_INSTALL_LIBDIR} ipcamview_host:${CMAKE_INSTALL_BINDIR})
  string(REPLACE ":" ";" _pair ${_installed})
  list(GET _pair 0 _target)
  list(GET _pair 1 _dir)
  get_target_property(_rpath ${_target} INSTALL_RPATH)
  install(CODE "file(RPATH_SET FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${_dir}/$<TARGET_FILE_NAME:${_target}>\"
                            NEW_RPATH \"${_rpath}\")")
endforeach()

# Headers: the public ones, and every header of src/ they include, directly or not, at its path
# under src/ (the include root of the installed tree's include/ipcamview).
set(_todo)
file(GLOB _public ${PROJECT_SOURCE_DIR}/include/ipcamview/*.h)
install(FILES ${_public} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ipcamview)
set(_todo ${_public})
set(_seen)
while(_todo)
  list(POP_FRONT _todo _header)
  if(_header IN_LIST _seen)
    continue()
  endif()
  list(APPEND _seen ${_header})
  file(STRINGS ${_header} _lines REGEX "^#include \"")
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" _included "${_line}")
    get_filename_component(_dir ${_header} DIRECTORY)
    foreach(_candidate ${_dir}/${_included} ${PROJECT_SOURCE_DIR}/src/${_included}
                       ${PROJECT_SOURCE_DIR}/include/${_included})
      if(EXISTS ${_candidate})
        get_filename_component(_candidate ${_candidate} ABSOLUTE)
        list(APPEND _todo ${_candidate})
        file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR}/src ${_candidate})
        if(NOT _rel MATCHES "^\\.\\.")
          get_filename_component(_reldir ${_rel} DIRECTORY)
          install(FILES ${_candidate} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ipcamview/${_reldir})
        endif()
        break()
      endif()
    endforeach()
  endforeach()
endwhile()

# pkg-config: the C library. The prefix is found from the .pc file's own folder.
file(RELATIVE_PATH IPCAM_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" IPCAM_PC_TO_PREFIX "${IPCAM_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ipcamview.pc.in ${PROJECT_BINARY_DIR}/ipcamview.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ipcamview.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# CMake package.
install(EXPORT ipcamviewTargets NAMESPACE ipcamview:: DESTINATION ${IPCAM_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ipcamviewConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/ipcamviewConfig.cmake
                              INSTALL_DESTINATION ${IPCAM_INSTALL_CMAKEDIR}
                              PATH_VARS IPCAM_INSTALL_PRIVATEDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ipcamviewConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ipcamviewConfig.cmake ${PROJECT_BINARY_DIR}/ipcamviewConfigVersion.cmake
        DESTINATION ${IPCAM_INSTALL_CMAKEDIR})

# --- the Debian package (cpack -G DEB) ------------------------------------------------------------------

# dpkg-shlibdeps finds the runtime packages of every library the installed programs and libraries
# are linked with. That covers the libraries the viewer loads on first use as well (FFmpeg's and
# SDL2, which libvcodec, libreckit and the host program link), but not the font that the overlay
# text asks for ("Courier New", whose metric twin is Liberation Mono): that one is named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation)

set(CPACK_PACKAGE_NAME ipcamview)
set(CPACK_PACKAGE_VENDOR "ipcamview developers")
set(CPACK_PACKAGE_CONTACT "ipcamview developers <ipcamview@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer library for HTTP IP cameras and multi-channel video recorders")
set(CPACK_PACKAGE_DESCRIPTION "libipcamview.so with its C interface (five functions), the static
libraries and headers for hosts that embed the viewer's class interface,
pkg-config and CMake package files, the ipcamview host program and camsim,
a simulator of the supported devices.")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Lets dpkg run ldconfig for the new shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
