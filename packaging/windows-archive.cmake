# Included by cpack once per generator: the ZIP archive is the Windows
# release, holding only the "windows" component (envelope.exe, reader.exe,
# README.md) under its own name; the TGZ archive is the Linux install.
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_QUILLMARROW_WINDOWS_FILE_NAME})
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_QUILLMARROW_BUILD_DIR};Quillmarrow;windows;/")
  set(CPACK_STRIP_FILES FALSE)  # the Windows programs are built stripped
endif()
