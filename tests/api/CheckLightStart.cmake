# Fails if a module needs the decoder (libvcodec) or FFmpeg's libraries at
# start-up. They map and relocate well over a hundred shared libraries, most
# of a host's start-up; the viewer loads libvcodec only when a decoder is made.
# Usage: cmake -DMODULES="a;b" -DREADELF=readelf -P CheckLightStart.cmake
foreach(module IN LISTS MODULES)
  execute_process(COMMAND ${READELF} -d ${module} OUTPUT_VARIABLE _out RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "readelf failed on ${module}")
  endif()
  string(REGEX MATCHALL "\\(NEEDED\\)[^[]*\\[[^]]*\\]" _entries "${_out}")
  set(_needed)
  foreach(entry IN LISTS _entries)
    string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" _name "${entry}")
    list(APPEND _needed ${_name})
    if(_name MATCHES "^(libvcodec|libreckit|libav[a-z]*|libsw[a-z]*)\\.so")
      message(FATAL_ERROR "${module} needs ${_name} at start-up")
    endif()
  endforeach()
  message(STATUS "${module}: ${_needed}")
endforeach()
