# Interface headers come from IDL through widl on both platforms, so the host
# build compiles against exactly the declarations the Windows build uses.
find_program(KV_WIDL NAMES i686-w64-mingw32-widl widl REQUIRED)
set(KV_IDL_SYSTEM_INCLUDE /usr/include/wine/wine/windows CACHE PATH "Folder of oaidl.idl and friends")

# kv_idl(<target> <file.idl>): generates <file>.h and <file>_i.c (the IIDs)
# into the build tree and adds them to <target>.
function(kv_idl TARGET IDL)
  get_filename_component(name ${IDL} NAME_WE)
  get_filename_component(idl ${IDL} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated)
  file(MAKE_DIRECTORY ${out})
  set(args -m32 -I${KV_IDL_SYSTEM_INCLUDE} -I${PROJECT_SOURCE_DIR}/encoders -I${PROJECT_SOURCE_DIR}/com)
  add_custom_command(
    OUTPUT ${out}/${name}.h ${out}/${name}_i.c
    COMMAND ${KV_WIDL} ${args} -h -o ${out}/${name}.h ${idl}
    COMMAND ${KV_WIDL} ${args} -u -o ${out}/${name}_i.c ${idl}
    DEPENDS ${idl}
    COMMENT "widl ${name}.idl")
  if(NOT CMAKE_CROSSCOMPILING)
    # The identifiers file is C; the stand-in's headers are C++.
    set_source_files_properties(${out}/${name}_i.c PROPERTIES LANGUAGE CXX)
  endif()
  target_sources(${TARGET} PRIVATE ${out}/${name}.h ${out}/${name}_i.c)
  target_include_directories(${TARGET} PUBLIC ${out})
endfunction()
