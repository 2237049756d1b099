# Compiler options shared by every target of the project, applied through INTERFACE
# targets linked PRIVATE, so nothing leaks into consumers' flags.

add_library(sonavel_warnings INTERFACE)
target_compile_options(sonavel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
  -Wnon-virtual-dtor -Woverloaded-virtual -Wdouble-promotion
  -Wformat=2 -Wimplicit-fallthrough)
if(SONAVEL_WERROR)
  target_compile_options(sonavel_warnings INTERFACE -Werror)
endif()

# Reproducible floating point: every product and sum is rounded as written.
add_library(sonavel_fp INTERFACE)
target_compile_options(sonavel_fp INTERFACE -ffp-contract=off -fno-fast-math)

add_library(sonavel_sanitizers INTERFACE)
if(SONAVEL_SANITIZE)
  list(JOIN SONAVEL_SANITIZE "," _sonavel_san)
  target_compile_options(sonavel_sanitizers INTERFACE
    -fsanitize=${_sonavel_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(sonavel_sanitizers INTERFACE -fsanitize=${_sonavel_san})
endif()

# Hardening as Debian builds its packages: checked string and memory calls where the
# optimiser can see the sizes, and relocations made read-only once resolved. Symbols stay
# bound lazily (no -z now): eager binding added a tenth to sonavel-train's short runs.
add_library(sonavel_hardening INTERFACE)
target_compile_definitions(sonavel_hardening INTERFACE $<$<CONFIG:Release>:_FORTIFY_SOURCE=2>)
target_link_options(sonavel_hardening INTERFACE LINKER:-z,relro)

add_library(sonavel_options INTERFACE)
target_link_libraries(sonavel_options INTERFACE
  sonavel_warnings sonavel_fp sonavel_sanitizers sonavel_hardening)
