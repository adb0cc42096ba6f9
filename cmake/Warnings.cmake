# One place for the warning set, so host and win32 builds complain alike.
add_compile_options(-Wall -Wextra -Wshadow -Wpedantic)
if(KV_WERROR)
  add_compile_options(-Werror)
endif()
if(KV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  # Debug keeps the assertions; -O1 runs the instrumented tests several times
  # quicker than -O0 and still reports exact lines.
  add_compile_options($<$<CONFIG:Debug>:-O1>)
  add_link_options(-fsanitize=address,undefined)
endif()
if(KV_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(KV_FUZZ)
  # Coverage feedback in every library; the fuzzer's main comes in only
  # where the targets link (tests/fuzz).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(CMAKE_CROSSCOMPILING)
  # The DLL and the test programs must need nothing beyond system DLLs.
  add_link_options(-static-libgcc -static-libstdc++ -static)
endif()
