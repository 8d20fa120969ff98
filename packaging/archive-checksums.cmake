# Run by cpack for each release archive (CPACK_PRE_BUILD_SCRIPTS), once the
# archive's files are staged in CPACK_TEMPORARY_DIRECTORY, its top folder:
# writes SHA256SUMS there, one line for every other file of the archive in
# sha256sum's format (the hex digest, two spaces, the path from the top
# folder), sorted by path. In the unpacked top folder, `sha256sum -c
# SHA256SUMS` checks them all; the stubs' lines are those a build of the same
# commit reproduces (docs/releasing.md, "Checking a published stub").
set(top ${CPACK_TEMPORARY_DIRECTORY})
file(REMOVE ${top}/SHA256SUMS)
file(GLOB_RECURSE files RELATIVE ${top} ${top}/*)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
  # sha256sum writes such names escaped; the archives hold none.
  if(file MATCHES "[\\\n]")
    message(FATAL_ERROR "archive-checksums: cannot list ${file} in SHA256SUMS")
  endif()
  file(SHA256 ${top}/${file} digest)
  string(APPEND sums "${digest}  ${file}\n")
endforeach()
file(WRITE ${top}/SHA256SUMS "${sums}")
