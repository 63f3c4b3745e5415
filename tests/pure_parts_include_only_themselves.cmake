# Fails if a source under one of the pure folders includes a header of the
# plug-in's owner, its thread, its dialogs, the platform or the host: a pure
# part is plain C++ over memory that a tool, a fuzzer or a test can use alone.
#
#   cmake -DROOT=<source tree> -DFOLDERS=catalogue;decoder -P pure_parts_include_only_themselves.cmake
if(NOT DEFINED ROOT OR NOT DEFINED FOLDERS)
  message(FATAL_ERROR "usage: cmake -DROOT=<tree> -DFOLDERS=<folder;...> -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

set(forbidden_folders core playback dialogs platform host)
list(JOIN forbidden_folders "|" forbidden)
# Quoted includes of those folders, and the system's Win32 headers, which
# only platform/ may name.
set(pattern "^[ \t]*#[ \t]*include[ \t]*(\"(${forbidden})/[^\"]*\"|<(windows|commctrl)\\.h>)")

set(breaches)
foreach(folder IN LISTS FOLDERS)
  if(NOT IS_DIRECTORY ${ROOT}/${folder})
    message(FATAL_ERROR "${ROOT}/${folder}: no such folder")
  endif()
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  if(NOT sources)
    message(FATAL_ERROR "${ROOT}/${folder}: no sources to check")
  endif()
  foreach(source IN LISTS sources)
    file(STRINGS ${ROOT}/${source} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "${pattern}" AND NOT CMAKE_MATCH_2 STREQUAL folder)
        list(APPEND breaches "${source}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(breaches)
  list(JOIN breaches "\n  " listed)
  message(FATAL_ERROR "pure parts include what is above them:\n  ${listed}")
endif()
message(STATUS "${FOLDERS}: includes only themselves and the standard library")
