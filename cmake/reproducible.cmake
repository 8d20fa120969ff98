# Reproducible release programs: the same commit built twice, in any two
# folders, gives byte-identical stubs (reader.exe of the win32 and win64
# presets, the static reader of the release preset) and envelope.exe.
# scripts/check-reproducible.sh checks it. Two things would differ otherwise:
#
# - The build folders' paths, wherever the compiler records a file name
#   (__FILE__, debug information). In the configurations releases are built
#   in, the source folder and then the build folder (which may lie inside it,
#   so it comes last and wins) are written as ".". Debugging builds keep full
#   paths, so that debuggers and sanitizer reports find the sources.
# - The time stamp of a Windows program's file header, and the header's
#   CheckSum over the whole file, which GNU ld computes after it. ld writes
#   the time of the link there unless SOURCE_DATE_EPOCH is set in its
#   environment, which it then writes instead. The value is fixed here, at
#   configure time (see quillmarrow_source_date_epoch), and handed to the
#   link of each release program by quillmarrow_link_at_source_date_epoch.
#
# The rest already comes out the same: windres writes zeros for the resource
# directories' time stamps, the programs are stripped at the link (-s), and the
# static reader's ELF build ID is a hash of its own contents.

add_compile_options(
  "$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CONFIG:Release,MinSizeRel>>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
  "$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CONFIG:Release,MinSizeRel>>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=.>")

# Sets RESULT_VAR to the time, in seconds since 1970, that the Windows
# programs' headers record, and RESULT_VAR_ORIGIN to where it came from:
# 1. SOURCE_DATE_EPOCH in the environment of this configure step;
# 2. else the committer time of the checked-out commit, when the source folder
#    is the top of a git work tree; then cmake runs again after each commit or
#    checkout, so that the time follows the commit;
# 3. else the commit time `git archive` wrote into cmake/commit-time.txt (it
#    is marked export-subst), in a source archive made from a commit;
# 4. else 0, which is what the linker writes with --no-insert-timestamp: two
#    builds of such a tree still match each other. To match a published stub,
#    set SOURCE_DATE_EPOCH to the time in that stub's header.
# Stops with an error when SOURCE_DATE_EPOCH is set but is not a number of
# seconds that fits the header's 32-bit field.
function(quillmarrow_source_date_epoch result_var)
  set(epoch "")
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
    set(origin "SOURCE_DATE_EPOCH")
    string(LENGTH "${epoch}" digits)
    if(NOT epoch MATCHES "^[0-9]+$" OR digits GREATER 10 OR epoch GREATER 4294967295)
      message(FATAL_ERROR "SOURCE_DATE_EPOCH=${epoch} is not a number of seconds since 1970 "
                          "up to 4294967295")
    endif()
  endif()

  find_package(Git QUIET)
  if(epoch STREQUAL "" AND Git_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel --git-path logs/HEAD
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} RESULT_VARIABLE failed
      OUTPUT_VARIABLE answer OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    file(REAL_PATH ${CMAKE_SOURCE_DIR} source_dir)
    if(NOT failed)
      string(REPLACE "\n" ";" answer "${answer}")
      list(GET answer 0 top)
      list(GET answer 1 reflog)
      file(REAL_PATH ${top} top)
    endif()
    # A source folder inside some other work tree is not that tree's commit.
    if(NOT failed AND top STREQUAL source_dir)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} RESULT_VARIABLE failed
        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(NOT failed AND commit_time MATCHES "^[0-9]+$")
        set(epoch ${commit_time})
        set(origin "the commit's time")
        file(REAL_PATH ${reflog} reflog BASE_DIRECTORY ${CMAKE_SOURCE_DIR})
        if(EXISTS ${reflog})
          set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${reflog})
        endif()
      endif()
    endif()
  endif()

  if(epoch STREQUAL "")
    file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/commit-time.txt archived LIMIT_COUNT 1)
    if(archived MATCHES "^[0-9]+$")
      set(epoch ${archived})
      set(origin "the commit's time in cmake/commit-time.txt")
    else()
      set(epoch 0)
      set(origin "no commit known: set SOURCE_DATE_EPOCH to match a published build")
    endif()
  endif()
  set(${result_var} ${epoch} PARENT_SCOPE)
  set(${result_var}_ORIGIN ${origin} PARENT_SCOPE)
endfunction()

# Links each of the named targets that exist with SOURCE_DATE_EPOCH set to
# QUILLMARROW_SOURCE_DATE_EPOCH, so that ld writes that time into the
# Windows program's header. Does nothing outside Windows builds (an ELF
# program records no time).
function(quillmarrow_link_at_source_date_epoch)
  if(NOT WIN32)
    return()
  endif()
  foreach(target IN LISTS ARGN)
    if(TARGET ${target})
      set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER
        ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUILLMARROW_SOURCE_DATE_EPOCH})
    endif()
  endforeach()
endfunction()

if(WIN32)
  quillmarrow_source_date_epoch(QUILLMARROW_SOURCE_DATE_EPOCH)
  message(STATUS "Windows programs' time stamp: ${QUILLMARROW_SOURCE_DATE_EPOCH} "
                 "(${QUILLMARROW_SOURCE_DATE_EPOCH_ORIGIN})")
endif()
