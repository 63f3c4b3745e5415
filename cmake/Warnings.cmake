# Warnings are errors in every target of the project.
function(kestrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# One static library per subsystem, from every source in its folder except
# those named after EXCLUDE, and in the folders named after FOLDERS. A PURE one
# links nothing of the plug-in, not even the platform: it is plain C++ over
# memory.
function(kestrel_subsystem name)
  cmake_parse_arguments(arg "PURE" "" "EXCLUDE;FOLDERS;LINKS" ${ARGN})
  if(arg_PURE)
    set(base_links)
  else()
    set(base_links platform)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(excluded IN LISTS arg_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  foreach(folder IN LISTS arg_FOLDERS)
    file(GLOB more CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
    list(APPEND sources ${more})
  endforeach()
  if(NOT sources)
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${base_links})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${base_links} ${arg_LINKS})
  kestrel_warnings(${name})
endfunction()
