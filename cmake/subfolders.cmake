# le_add_subfolders(): adds every sub-folder of the calling folder that has a CMakeLists.txt,
# so that a new test program or tool registers itself by its folder alone. The glob is
# checked again at build time: a new folder re-runs the configure step.
include_guard(GLOBAL)

function(le_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
