# Compares `md5_file FILE` with md5sum's first column on random files: empty,
# one just short of a block with its padding, and several 1 MiB read chunks
# with an uneven tail.
#   cmake -DMD5_FILE=path/to/md5_file -DWORK_DIR=dir -P md5_file_check.cmake
set(sample "${WORK_DIR}/md5_file_sample")
foreach(size IN ITEMS 0 55 2621447)
  execute_process(COMMAND head -c ${size} /dev/urandom OUTPUT_FILE "${sample}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${MD5_FILE}" "${sample}" OUTPUT_VARIABLE ours
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND md5sum "${sample}" OUTPUT_VARIABLE theirs COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCH "^[0-9a-f]+" theirs "${theirs}")
  if(NOT ours STREQUAL theirs)
    message(FATAL_ERROR "${size} bytes: md5_file says '${ours}', md5sum says '${theirs}'")
  endif()
endforeach()
file(REMOVE "${sample}")
