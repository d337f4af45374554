/* The smallest host: calls GetPDBLen through the link, then loads the
 * library file again with dlopen as a SCADA host does and calls it there. */
#include <dlfcn.h>
#include <stdio.h>

#include "tk571/driver.h"

int main(int argc, char** argv) {
#ifdef TK571_DRIVER_FILE
  const char* file = TK571_DRIVER_FILE;
#else
  const char* file = argc > 1 ? argv[1] : NULL;
#endif
  (void)argc;
  (void)argv;
  const int32_t linked = GetPDBLen();
  printf("linked GetPDBLen = %d\n", (int)linked);
  if (!file) return 1;
  void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    fprintf(stderr, "dlopen %s: %s\n", file, dlerror());
    return 1;
  }
  TK571_GetPDBLen get_pdb_len = (TK571_GetPDBLen)dlsym(library, "GetPDBLen");
  const int32_t loaded = get_pdb_len ? get_pdb_len() : -1;
  printf("loaded GetPDBLen = %d\n", (int)loaded);
  dlclose(library);
  return linked == TK571_PDB_SIZE && loaded == TK571_PDB_SIZE ? 0 : 1;
}
