# dovel_merge_static_closure(<archive target> <root target>)
#
# After <archive target> is built, adds to it the members of every static
# library of this project that <root target> links, directly or not, so the
# archive stands alone. Imported and system libraries are left to the
# consumer's link line.
function(dovel_static_closure target out_var)
  set(seen ${${out_var}})
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "STATIC_LIBRARY" AND NOT type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  get_target_property(imported ${target} IMPORTED)
  if(imported)
    return()
  endif()
  if(type STREQUAL "STATIC_LIBRARY")
    list(APPEND seen ${target})
  endif()
  set(links "")
  get_target_property(interface_links ${target} INTERFACE_LINK_LIBRARIES)
  if(interface_links)
    list(APPEND links ${interface_links})
  endif()
  if(type STREQUAL "STATIC_LIBRARY")
    get_target_property(direct_links ${target} LINK_LIBRARIES)
    if(direct_links)
      list(APPEND links ${direct_links})
    endif()
  endif()
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
    if(TARGET ${link} AND NOT link IN_LIST seen)
      dovel_static_closure(${link} seen)
    endif()
  endforeach()
  list(REMOVE_DUPLICATES seen)
  set(${out_var} ${seen} PARENT_SCOPE)
endfunction()

function(dovel_merge_static_closure archive root)
  set(closure "")
  dovel_static_closure(${root} closure)
  # CREATE and ADDLIB are the part of the MRI language that both GNU ar and
  # llvm-ar understand; the merged archive then replaces the built one.
  set(merged ${CMAKE_CURRENT_BINARY_DIR}/${archive}-merged${CMAKE_STATIC_LIBRARY_SUFFIX})
  set(script "CREATE ${merged}\nADDLIB $<TARGET_FILE:${archive}>\n")
  foreach(library IN LISTS closure)
    string(APPEND script "ADDLIB $<TARGET_FILE:${library}>\n")
    add_dependencies(${archive} ${library})
  endforeach()
  string(APPEND script "SAVE\nEND\n")
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${archive}.mri CONTENT "${script}")
  add_custom_command(TARGET ${archive} POST_BUILD
                     COMMAND sh -c "\"${CMAKE_AR}\" -M < ${CMAKE_CURRENT_BINARY_DIR}/${archive}.mri"
                     COMMAND ${CMAKE_COMMAND} -E rename ${merged} $<TARGET_FILE:${archive}>
                     COMMENT "Merging the internal archives into ${archive}" VERBATIM)
endfunction()
