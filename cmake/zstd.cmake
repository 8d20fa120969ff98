# zstd, linked statically into every program, through two targets:
#
# - quillmarrow::zstd_decoder, decoding only: what the reader links;
# - quillmarrow::zstd, the whole library (compression and decoding): what the
#   writer and the tool link.
#
# Native builds take both from Debian's libzstd-dev: its static library
# libzstd.a, so that the tool's output does not depend on the zstd a machine
# has installed, and the static reader needs no library beside it. A program
# that only decodes pulls only the decoder's objects out of it.
#
# Debian has no MinGW build of zstd, so the Windows builds compile the same
# version from Debian's own source package: the source of the installed
# libzstd-dev's version (else, where that cannot be downloaded, the newest
# revision of the same upstream version that can be) is downloaded and
# checked by apt and unpacked by dpkg-source when the build folder is first
# configured (scripts/fetch-debian-source.sh), then built by zstd's own
# makefile with the toolchain's compiler, once per build folder, when a
# program first needs it:
#
# - the decoder, built for size: the makefile's minimal configuration
#   (ZSTD_LIB_MINIFY: one Huffman and one sequence decoder, no error strings,
#   no forced inlining), without compression, dictionary builder,
#   deprecated API and legacy formats, each function in a section of its own;
#   no threads, no stdio. Like the reader's own code, the 32-bit build
#   carries no unwind tables.
# - the whole library without the dictionary builder, deprecated API and
#   legacy formats, single-threaded as Debian's libzstd.a is: a parameter that
#   only a multithreaded zstd accepts (ZSTD_c_nbWorkers above 0) fails on
#   Windows as it fails on Linux, and every parameter both accept gives the
#   same bytes on both systems.
#
# A Windows program that links both (envelope.exe, the tests) takes each of
# zstd's objects from whichever of the two comes first on its link line:
# either works, as both are built from the same source with the same
# interfaces, but error names (ZSTD_getErrorName) are only there when the
# whole library comes first.

if(NOT WIN32)
  find_path(QUILLMARROW_ZSTD_INCLUDE_DIR zstd.h)
  find_library(QUILLMARROW_ZSTD_LIBRARY NAMES libzstd.a)
  if(NOT QUILLMARROW_ZSTD_INCLUDE_DIR OR NOT QUILLMARROW_ZSTD_LIBRARY)
    message(FATAL_ERROR "zstd's header or static library libzstd.a is missing "
                        "(Debian: libzstd-dev; scripts/install-deps.sh installs it)")
  endif()
  foreach(target quillmarrow::zstd_decoder quillmarrow::zstd)
    add_library(${target} STATIC IMPORTED)
    set_target_properties(${target} PROPERTIES
      IMPORTED_LOCATION ${QUILLMARROW_ZSTD_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${QUILLMARROW_ZSTD_INCLUDE_DIR})
  endforeach()
  file(STRINGS ${QUILLMARROW_ZSTD_INCLUDE_DIR}/zstd.h version_lines
    REGEX "^#define ZSTD_VERSION_(MAJOR|MINOR|RELEASE) +[0-9]+")
  string(REGEX REPLACE "[^;]* ([0-9]+);[^;]* ([0-9]+);[^;]* ([0-9]+)" "\\1.\\2.\\3" version
    "${version_lines}")
  message(STATUS "zstd ${version}: ${QUILLMARROW_ZSTD_LIBRARY}")
  return()
endif()

# The version of the native builds' zstd: the installed libzstd-dev's source
# package and version.
execute_process(COMMAND dpkg-query -W "-f=\${source:Package} \${source:Version}" libzstd-dev
  RESULT_VARIABLE failed OUTPUT_VARIABLE installed ERROR_QUIET)
if(failed OR NOT installed MATCHES "^([^ ]+) ([^ ]+)$")
  message(FATAL_ERROR "libzstd-dev is not installed: the Windows builds compile the source of "
                      "its version (scripts/install-deps.sh installs it)")
endif()
set(zstd_package ${CMAKE_MATCH_1})
set(zstd_version ${CMAKE_MATCH_2})

# Downloaded and unpacked once per build folder; a configure step after that
# only reads which version it was.
set(zstd_source ${CMAKE_BINARY_DIR}/zstd/source)
execute_process(
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-debian-source.sh ${zstd_package} ${zstd_version}
          ${zstd_source}
  RESULT_VARIABLE failed OUTPUT_VARIABLE fetched ERROR_VARIABLE error
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
if(failed)
  message(FATAL_ERROR "${error}")
endif()
message(STATUS "zstd for Windows, built from Debian's source: ${fetched}")

include(ExternalProject)
include(ProcessorCount)
find_program(QUILLMARROW_MAKE NAMES make REQUIRED)
ProcessorCount(processors)
if(processors EQUAL 0)
  set(processors 1)
endif()

# Defines the IMPORTED target TARGET, zstd's static library built by its
# makefile with the toolchain's C compiler and archiver, C flags CFLAGS and
# the makefile's variables that follow (NAME=VALUE). Only these flags reach
# the build: none come from the environment.
function(quillmarrow_zstd_library target cflags)
  string(REPLACE "quillmarrow::" "" name ${target})
  # zstd's makefile rebuilds nothing when only the flags change, so the
  # folder is named for them too: other flags build it afresh.
  string(SHA1 flags_hash "${cflags};${ARGN}")
  string(SUBSTRING ${flags_hash} 0 8 flags_hash)
  set(dir ${CMAKE_BINARY_DIR}/zstd/${name}-${flags_hash})
  set(library ${dir}/static/libzstd.a)
  ExternalProject_Add(${name}_build
    PREFIX ${dir}
    SOURCE_DIR ${zstd_source}/lib
    DOWNLOAD_COMMAND "" UPDATE_COMMAND "" PATCH_COMMAND "" CONFIGURE_COMMAND "" INSTALL_COMMAND ""
    BUILD_COMMAND ${CMAKE_COMMAND} -E env --unset=CPPFLAGS --unset=LDFLAGS --unset=MOREFLAGS
                  "CFLAGS=${cflags}"
                  ${QUILLMARROW_MAKE} -C <SOURCE_DIR> -j${processors}
                  CC=${CMAKE_C_COMPILER} AR=${CMAKE_AR} BUILD_DIR=${dir} ${ARGN} ${library}
    BUILD_BYPRODUCTS ${library}
    EXCLUDE_FROM_ALL TRUE
    LOG_BUILD TRUE LOG_OUTPUT_ON_FAILURE TRUE)
  # A source unpacked anew (another version) is built anew.
  ExternalProject_Add_StepDependencies(${name}_build build ${zstd_source}/.debian-source)
  add_library(${target} STATIC IMPORTED)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${library}
    INTERFACE_INCLUDE_DIRECTORIES ${zstd_source}/lib)
  add_dependencies(${target} ${name}_build)
endfunction()

# The decoder's objects carry their code twice: for the reader's link-time
# optimisation, and ordinary code for the programs linked without it.
set(decoder_flags "-ffunction-sections -fdata-sections -flto -ffat-lto-objects")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  string(APPEND decoder_flags " -fno-asynchronous-unwind-tables")
endif()
# HAVE_CC_OZ=0: -Os, not the smaller but slower -Oz the minimal
# configuration takes where the compiler has it.
quillmarrow_zstd_library(quillmarrow::zstd_decoder "${decoder_flags}"
  ZSTD_LIB_MINIFY=1 HAVE_CC_OZ=0 ZSTD_LIB_COMPRESSION=0 ZSTD_LIB_DICTBUILDER=0
  ZSTD_LIB_DEPRECATED=0 ZSTD_LEGACY_SUPPORT=0)
quillmarrow_zstd_library(quillmarrow::zstd "-O3"
  ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 ZSTD_LEGACY_SUPPORT=0)
