# The build's options, all in one place. Each is a named switch: the presets
# (CMakePresets.json) only turn them on or off, and kestrom_options, an INTERFACE
# target that every target links, carries the flags they stand for.
option(KESTROM_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)
option(KESTROM_HARDENING
       "Stack protector and checked string functions (-fstack-protector-strong -D_FORTIFY_SOURCE=2)"
       OFF)
option(KESTROM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(KESTROM_STDLIB_ASSERTIONS "Check the C++ library's preconditions (-D_GLIBCXX_ASSERTIONS)" OFF)
option(KESTROM_UI "Build the windows (needs Qt 6 Widgets)" ON)
option(KESTROM_FUZZ
       "Build the fuzz targets, and compile every target for libFuzzer's coverage (needs clang; see tools/fuzz)"
       OFF)

add_library(kestrom_options INTERFACE)
target_compile_options(kestrom_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual)
if(KESTROM_WARNINGS_AS_ERRORS)
  target_compile_options(kestrom_options INTERFACE -Werror)
endif()

if(KESTROM_HARDENING)
  # _FORTIFY_SOURCE checks only in an optimised build. A compiler that defines
  # it already would warn about the redefinition, hence -U first.
  target_compile_options(kestrom_options INTERFACE
    -fstack-protector-strong -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
endif()

if(KESTROM_SANITIZE)
  target_compile_options(kestrom_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(kestrom_options INTERFACE -fsanitize=address,undefined)
endif()

if(KESTROM_STDLIB_ASSERTIONS)
  target_compile_definitions(kestrom_options INTERFACE _GLIBCXX_ASSERTIONS)
endif()

if(KESTROM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KESTROM_FUZZ needs clang (libFuzzer): use the fuzz preset")
  endif()
  # The fuzz targets link libFuzzer itself (fuzz/CMakeLists.txt).
  target_compile_options(kestrom_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

if(WIN32)
  # Wide-character Win32 calls, Windows 10 and later, 64-bit file offsets. The
  # C library's old POSIX names are left out: the platform layer declares the
  # POSIX types its seam speaks (platform/win32/PosixTypes.h) itself.
  target_compile_definitions(kestrom_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 NO_OLDNAMES
    # The threads library still speaks of pid_t, one of those names.
    pid_t=_pid_t)
  # Static C and C++ run-times: the programs and the tag library's DLL import
  # nothing but system DLLs, so nothing else needs to be shipped beside them.
  target_link_options(kestrom_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
