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

# kv_server_dll(<name> RESOURCES <target> TLB <tlb-target> <file.tlb> [SOURCES <files...>] LIBS <targets...>):
# the in-process server <name>.dll in bin/, exporting what <name>.def in the
# current folder names, with the resources of <name>.rc there compiled as the
# object library <target>: they embed ${CMAKE_BINARY_DIR}/tlb/<file.tlb>,
# which <tlb-target> makes.
function(kv_server_dll NAME)
  cmake_parse_arguments(D "" "RESOURCES" "TLB;SOURCES;LIBS" ${ARGN})
  list(GET D_TLB 0 tlb_target)
  list(GET D_TLB 1 tlb_file)
  add_library(${D_RESOURCES} OBJECT ${NAME}.rc)
  add_dependencies(${D_RESOURCES} ${tlb_target})
  set_source_files_properties(${NAME}.rc PROPERTIES OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/tlb/${tlb_file})
  target_include_directories(${D_RESOURCES} PRIVATE ${CMAKE_BINARY_DIR}/tlb)

  kv_module_def(def ${NAME}.def)
  add_library(${NAME} SHARED ${D_SOURCES} ${def})
  target_link_libraries(${NAME} PRIVATE ${D_LIBS} kv_dll_main ${D_RESOURCES})
  set_target_properties(${NAME} PROPERTIES PREFIX "" OUTPUT_NAME ${NAME} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endfunction()
