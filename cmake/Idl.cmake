# Interface headers come from IDL through widl on both platforms, so the host
# build compiles against exactly the declarations the Windows build uses.
find_program(KV_WIDL NAMES i686-w64-mingw32-widl widl REQUIRED)
set(KV_IDL_SYSTEM_INCLUDE /usr/include/wine/wine/windows CACHE PATH "Folder of oaidl.idl and friends")
# The bitness widl writes for: a 64-bit Windows target gets 64-bit type
# libraries (SYSKIND win64); the host's stand-in follows the 32-bit product.
if(CMAKE_CROSSCOMPILING AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KV_WIDL_BITS -m64)
else()
  set(KV_WIDL_BITS -m32)
endif()

# kv_idl(<target> <file.idl>): generates <file>.h and <file>_i.c (the IIDs)
# into the build tree and adds them to <target>.
function(kv_idl TARGET IDL)
  get_filename_component(name ${IDL} NAME_WE)
  get_filename_component(idl ${IDL} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated)
  file(MAKE_DIRECTORY ${out})
  set(args ${KV_WIDL_BITS} -I${KV_IDL_SYSTEM_INCLUDE} -I${PROJECT_SOURCE_DIR}/interfaces)
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

# Type libraries: widl -t resolves importlib("stdole2.tlb") through this folder.
find_path(KV_STDOLE2_DIR stdole2.tlb
  PATHS /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows
  NO_CMAKE_FIND_ROOT_PATH)
if(CMAKE_CROSSCOMPILING)
  # Type libraries travel inside modules as resources.
  enable_language(RC)
endif()

# kv_tlb(<target> <file.idl> [DEPENDS <files...>]): builds the type library of
# the IDL file's library block into ${CMAKE_BINARY_DIR}/tlb/<file>.tlb, made
# by the custom target <target>. DEPENDS names the files the IDL imports.
function(kv_tlb TARGET IDL)
  cmake_parse_arguments(T "" "" "DEPENDS" ${ARGN})
  if(NOT KV_STDOLE2_DIR)
    message(FATAL_ERROR "stdole2.tlb not found (Wine's i386-windows folder); set KV_STDOLE2_DIR")
  endif()
  get_filename_component(name ${IDL} NAME_WE)
  get_filename_component(idl ${IDL} ABSOLUTE)
  set(dir ${CMAKE_BINARY_DIR}/tlb)
  set(args ${KV_WIDL_BITS} -I${KV_IDL_SYSTEM_INCLUDE} -I${PROJECT_SOURCE_DIR}/interfaces -L${KV_STDOLE2_DIR})
  add_custom_command(
    OUTPUT ${dir}/${name}.tlb
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${KV_WIDL} ${args} -t -o ${dir}/${name}.tlb ${idl}
    DEPENDS ${idl} ${T_DEPENDS}
    COMMENT "widl -t ${name}.idl")
  add_custom_target(${TARGET} DEPENDS ${dir}/${name}.tlb)
endfunction()
