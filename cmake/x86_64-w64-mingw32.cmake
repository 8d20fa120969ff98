# Cross-compiling the same sources for 64-bit Windows (Debian:
# g++-mingw-w64-x86-64-posix): envelope.exe, the tool shipped for Windows;
# and the reader and its tests, which let the Wine tests run on machines whose
# kernel runs no 32-bit user code, where 32-bit Wine cannot.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(mingw_prefix x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
