# Warning and sanitizer flags shared by every target of the project.
add_library(quillet_compiler_options INTERFACE)
target_compile_options(quillet_compiler_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
if(QUILLET_WARNINGS_AS_ERRORS)
  target_compile_options(quillet_compiler_options INTERFACE -Werror)
endif()
if(QUILLET_SANITIZERS)
  target_compile_options(quillet_compiler_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(quillet_compiler_options INTERFACE -fsanitize=address,undefined)
endif()
