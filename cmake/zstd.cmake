# zstd, linked statically: quillmarrow::zstd_decoder for the reader's
# extraction, quillmarrow::zstd (compressor and decoder) for the writer.
find_path(ZSTD_INCLUDE_DIR zstd.h REQUIRED)
find_library(ZSTD_STATIC_LIBRARY NAMES libzstd.a REQUIRED)
add_library(quillmarrow::zstd STATIC IMPORTED)
set_target_properties(quillmarrow::zstd PROPERTIES IMPORTED_LOCATION ${ZSTD_STATIC_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${ZSTD_INCLUDE_DIR})
add_library(quillmarrow::zstd_decoder ALIAS quillmarrow::zstd)
