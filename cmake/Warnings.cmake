# Every target links kestrom_options: warnings as errors, and the sanitizers
# when the build asks for them.
add_library(kestrom_options INTERFACE)
target_compile_options(kestrom_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Werror)

if(KESTROM_SANITIZE)
  target_compile_options(kestrom_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(kestrom_options INTERFACE -fsanitize=address,undefined)
endif()
