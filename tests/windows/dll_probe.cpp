// The control for the planted-DLL check, for the tests under Wine: loads a
// DLL by its bare name, as a system DLL would load another one lazily.
// Usage: dll_probe NAME [restricted]
// With "restricted" it first limits the DLL search to the system directory as
// the reader does; without, the default search order applies, which begins
// with the program's own folder. Exits 0 when the load succeeded.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (argc > 2 && std::strcmp(argv[2], "restricted") == 0) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  return LoadLibraryA(argv[1]) != nullptr ? 0 : 1;
}
