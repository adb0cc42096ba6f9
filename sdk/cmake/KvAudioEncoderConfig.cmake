# find_package(KvAudioEncoder CONFIG) for a project that uses the SDK's
# classes: imported targets that bring the SDK's headers and compile the
# interface identifiers (the MIDL-generated *_i.c files) into whatever links
# them, so any compiler and either bitness can use them.
#
#   KvAudioEncoder::KvInterfaces    IKvAudioEncoder, IKvAudioSink, IKvAudioDataTarget, ...
#   KvAudioEncoder::KvLib           the components: Registry, Recorder, FileSink, MemorySink, ...
#   KvAudioEncoder::KvAudioEncoder  the encoder classes' own interfaces and CLSIDs
#   KvAudioEncoder::KvAudioDecoder  the decoder classes
#
# KvAudioEncoder_BIN_DIR is the folder of the DLLs of the project's bitness,
# which a host needs registered to run.
get_filename_component(_kv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KvAudioEncoder_BIN_DIR "${_kv_root}/bin64")
else()
  set(KvAudioEncoder_BIN_DIR "${_kv_root}/bin")
endif()

# The identifiers are C; a C++-only project gets C enabled for them.
get_property(_kv_languages GLOBAL PROPERTY ENABLED_LANGUAGES)
if(NOT "C" IN_LIST _kv_languages)
  enable_language(C)
endif()

foreach(_kv_idl IN ITEMS KvInterfaces KvLib KvAudioEncoder KvAudioDecoder)
  if(NOT TARGET KvAudioEncoder::${_kv_idl})
    add_library(KvAudioEncoder::${_kv_idl} INTERFACE IMPORTED)
    set_target_properties(KvAudioEncoder::${_kv_idl} PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES "${_kv_root}/include"
      INTERFACE_SOURCES "${_kv_root}/include/${_kv_idl}_i.c"
      INTERFACE_LINK_LIBRARIES "ole32;oleaut32;uuid")
    if(NOT _kv_idl STREQUAL "KvInterfaces")
      set_property(TARGET KvAudioEncoder::${_kv_idl} APPEND PROPERTY INTERFACE_LINK_LIBRARIES KvAudioEncoder::KvInterfaces)
    endif()
  endif()
endforeach()
unset(_kv_idl)
unset(_kv_languages)
unset(_kv_root)
