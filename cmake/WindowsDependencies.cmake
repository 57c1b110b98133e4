# The libraries the Windows build needs that no package source has for mingw:
# TagLib, from its source archive, and GoogleTest, from Debian's source of it.
# Each is cross-built static and installed into this build folder once, when the
# build is first configured; later configures and builds find it there. Nothing
# is downloaded.
find_file(KESTROM_TAGLIB_ARCHIVE taglib-1.13.1.tar.gz
  HINTS ${PROJECT_SOURCE_DIR}/../shared/third_party ${PROJECT_SOURCE_DIR}/../../shared/third_party
  DOC "The source archive of TagLib 1.13.1" NO_CMAKE_FIND_ROOT_PATH)
set(KESTROM_GTEST_SOURCE /usr/src/googletest CACHE PATH "The source of GoogleTest (libgtest-dev)")
set(KESTROM_DEPS_PREFIX ${CMAKE_BINARY_DIR}/deps)

# kestrom_build_dependency(NAME SOURCE_DIR CMAKE_ARGS...): configures, builds and
# installs one CMake project with this build's toolchain into deps/, unless a
# stamp says that this was done.
function(kestrom_build_dependency name source)
  set(stamp ${KESTROM_DEPS_PREFIX}/${name}.done)
  if(EXISTS ${stamp})
    return()
  endif()
  message(STATUS "Cross-building ${name} (once for this build folder)")
  set(build ${CMAKE_BINARY_DIR}/deps-build/${name})
  file(REMOVE_RECURSE ${build})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${source} -B ${build} -G Ninja
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_INSTALL_PREFIX=${KESTROM_DEPS_PREFIX} -DBUILD_SHARED_LIBS=OFF ${ARGN}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} -j 2 OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${build} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(TOUCH ${stamp})
endfunction()

if(NOT KESTROM_TAGLIB_ARCHIVE)
  message(FATAL_ERROR "The Windows build needs the TagLib 1.13.1 source archive: set KESTROM_TAGLIB_ARCHIVE")
endif()
set(taglibSource ${CMAKE_BINARY_DIR}/deps-build/taglib-1.13.1)
if(NOT EXISTS ${KESTROM_DEPS_PREFIX}/taglib.done)
  file(REMOVE_RECURSE ${taglibSource})
  file(ARCHIVE_EXTRACT INPUT ${KESTROM_TAGLIB_ARCHIVE} DESTINATION ${CMAKE_BINARY_DIR}/deps-build)
endif()
kestrom_build_dependency(taglib ${taglibSource}
  -DWITH_ZLIB=ON -DBUILD_BINDINGS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF)
if(BUILD_TESTING)
  kestrom_build_dependency(googletest ${KESTROM_GTEST_SOURCE} -Dgtest_disable_pthreads=OFF)
endif()

# The targets the rest of the build links, named as the pkg-config ones of the
# Linux build.
# Static zlib, so that the tag library's DLL imports nothing but system DLLs.
find_library(KESTROM_ZLIB_STATIC NAMES libz.a REQUIRED)
add_library(kestrom_zlib INTERFACE)
target_link_libraries(kestrom_zlib INTERFACE ${KESTROM_ZLIB_STATIC})
add_library(kestrom_taglib INTERFACE)
target_include_directories(kestrom_taglib SYSTEM INTERFACE ${KESTROM_DEPS_PREFIX}/include
                           ${KESTROM_DEPS_PREFIX}/include/taglib)
target_link_libraries(kestrom_taglib INTERFACE ${KESTROM_DEPS_PREFIX}/lib/libtag.a kestrom_zlib)
target_compile_definitions(kestrom_taglib INTERFACE TAGLIB_STATIC)
add_library(PkgConfig::TAGLIB ALIAS kestrom_taglib)
add_library(PkgConfig::ZLIB ALIAS kestrom_zlib)
# GoogleTest's package configuration is found in deps/ like a library of the
# target system.
list(APPEND CMAKE_FIND_ROOT_PATH ${KESTROM_DEPS_PREFIX})
