# quillmarrow_add_installer(NAME <target> MANIFEST <file.toml> STUB windows|linux
#                           [OUTPUT <path>] [TREE <dir>...] [DEPENDS <file>...])
#
# Adds the target <target>, built by default, that packs an installer with the
# installed `envelope pack`: the stub is the Windows reader.exe or the static
# Linux reader of this Quillmarrow installation, the manifest says which files
# and values go in. OUTPUT (relative paths: to the current binary directory)
# defaults to <target>.exe for Windows and <target>.run for Linux in the
# current binary directory (a file named like the target itself would clash
# with it); the target's QUILLMARROW_INSTALLER property holds it.
# MANIFEST is relative to the current source directory. Each TREE (relative
# to the current source directory too) is a folder whose whole tree is packed
# besides what the manifest lists, given to the tool as `--tree <dir>`, as
# [[tree]] tables of the manifest are.
#
# The installer is packed again when the manifest, the stub, the tool, a file
# in DEPENDS or a file named by a `source = "..."` line of the manifest
# changes, and when a file or folder in a TREE or in a folder named by such a
# line is added, changed, removed or renamed: those trees are listed again at
# each build (file(GLOB_RECURSE ... CONFIGURE_DEPENDS)), and each of their
# folders is a dependency too, since a folder changes when an entry in it is
# removed. Changing the manifest also re-runs CMake, so that the list of
# source files follows it; sources written in other TOML forms (inline
# tables) are not found this way and belong in DEPENDS.
#
# Sign a Windows installer after packing it: pack refuses a signed stub, and
# the reader never reads what follows its envelope, such as a signature.

set_property(GLOBAL PROPERTY QUILLMARROW_STUB_DIR "${Quillmarrow_STUB_DIR}")

# Appends to the list variable `out` the folder `directory` and every file
# and folder below it, listed again at each build, but no symbolic link: the
# tool refuses those in a tree and says why, where a dependency on a broken
# link would stop the build with a less helpful message.
function(_quillmarrow_tree_dependencies directory out)
  file(GLOB_RECURSE entries LIST_DIRECTORIES true CONFIGURE_DEPENDS "${directory}/*")
  set(dependencies ${${out}} ${directory})
  foreach(entry IN LISTS entries)
    if(NOT IS_SYMLINK ${entry})
      list(APPEND dependencies ${entry})
    endif()
  endforeach()
  set(${out} ${dependencies} PARENT_SCOPE)
endfunction()

function(quillmarrow_add_installer)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;MANIFEST;STUB;OUTPUT" "TREE;DEPENDS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "quillmarrow_add_installer: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required NAME MANIFEST STUB)
    if(NOT arg_${required})
      message(FATAL_ERROR "quillmarrow_add_installer: ${required} is required")
    endif()
  endforeach()

  get_property(stub_dir GLOBAL PROPERTY QUILLMARROW_STUB_DIR)
  if(arg_STUB STREQUAL "linux")
    set(stub ${stub_dir}/reader)
    set(default_output ${arg_NAME}.run)
  elseif(arg_STUB STREQUAL "windows")
    set(stub ${stub_dir}/reader.exe)
    set(default_output ${arg_NAME}.exe)
  else()
    message(FATAL_ERROR "quillmarrow_add_installer(${arg_NAME}): STUB is windows or linux, not \"${arg_STUB}\"")
  endif()
  if(NOT EXISTS ${stub})
    message(FATAL_ERROR "quillmarrow_add_installer(${arg_NAME}): this Quillmarrow installation has no "
                        "${arg_STUB} stub (${stub})")
  endif()

  get_filename_component(manifest "${arg_MANIFEST}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  if(NOT EXISTS ${manifest})
    message(FATAL_ERROR "quillmarrow_add_installer(${arg_NAME}): no manifest ${manifest}")
  endif()
  if(NOT arg_OUTPUT)
    set(arg_OUTPUT ${default_output})
  endif()
  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
  get_filename_component(output_dir ${output} DIRECTORY)

  # The files the manifest packs, relative to the manifest's directory.
  get_filename_component(manifest_dir ${manifest} DIRECTORY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest})
  file(STRINGS ${manifest} source_lines REGEX "^[ \t]*source[ \t]*=")
  set(sources)
  foreach(line IN LISTS source_lines)
    # One MATCHES per if(): a failed second match would clear CMAKE_MATCH_1.
    set(path)
    if(line MATCHES "^[ \t]*source[ \t]*=[ \t]*\"([^\"\\\\]+)\"")
      set(path ${CMAKE_MATCH_1})
    elseif(line MATCHES "^[ \t]*source[ \t]*=[ \t]*'([^']+)'")
      set(path ${CMAKE_MATCH_1})
    endif()
    if(path)
      get_filename_component(source "${path}" ABSOLUTE BASE_DIR ${manifest_dir})
      if(IS_DIRECTORY ${source})
        _quillmarrow_tree_dependencies(${source} sources)
      elseif(EXISTS ${source})
        list(APPEND sources ${source})
      endif()
    endif()
  endforeach()

  # The folder trees given here, each passed as --tree.
  set(tree_arguments)
  foreach(tree IN LISTS arg_TREE)
    get_filename_component(tree_dir "${tree}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT IS_DIRECTORY ${tree_dir})
      message(FATAL_ERROR "quillmarrow_add_installer(${arg_NAME}): TREE ${tree_dir} is not a directory")
    endif()
    list(APPEND tree_arguments --tree ${tree_dir})
    _quillmarrow_tree_dependencies(${tree_dir} sources)
  endforeach()

  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND Quillmarrow::envelope pack --stub ${stub} --manifest ${manifest} ${tree_arguments}
            --output ${output}
    DEPENDS ${manifest} ${stub} $<TARGET_FILE:Quillmarrow::envelope> ${sources} ${arg_DEPENDS}
    COMMENT "Packing the ${arg_STUB} installer ${arg_NAME}"
    VERBATIM)
  add_custom_target(${arg_NAME} ALL DEPENDS ${output})
  set_target_properties(${arg_NAME} PROPERTIES QUILLMARROW_INSTALLER ${output})
endfunction()
