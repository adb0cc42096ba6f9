# kv_module_def(<var> <file.def>): the module-definition file to link with.
# The 32-bit exports name the decorated stdcall symbols; x86-64 has one
# calling convention and no decoration, so there the aliases are dropped.
function(kv_module_def VAR DEF)
  get_filename_component(def ${DEF} ABSOLUTE)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(${VAR} ${def} PARENT_SCOPE)
    return()
  endif()
  get_filename_component(name ${DEF} NAME)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name})
  file(READ ${def} text)
  string(REGEX REPLACE "@[0-9]+" "" text "${text}")
  file(WRITE ${out}.in "${text}")
  configure_file(${out}.in ${out} COPYONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  set(${VAR} ${out} PARENT_SCOPE)
endfunction()
