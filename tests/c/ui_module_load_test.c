/* The driver library without a toolkit: the dialogs come from
 * libtk571_485_ui.so beside it, loaded on the first DLLEdDev or interactive
 * DLLTestDev. A copy of the driver in a directory without the module answers
 * as a build without Qt, says why in the run log once and unloads on
 * dlclose; beside the module (when the build has one) the dialogs' answers
 * are those of a machine without a display, and the loaded module keeps the
 * driver loaded.
 *
 * ui_module_load_test <driver library> <1 when the module was built, else 0>
 * runs in an empty working directory: the run log is ./Debug/TK571_485.Log. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "check.h"
#include "tk571/driver.h"

static const char kLogFile[] = "Debug/TK571_485.Log";
/* "用户界面模块" in code page 936: the line that says why there are no dialogs. */
static const char kNoModuleLine[] = "\xD3\xC3\xBB\xA7\xBD\xE7\xC3\xE6\xC4\xA3\xBF\xE9";

static int CountInLog(const char* needle) {
  FILE* file = fopen(kLogFile, "rb");
  if (!file) return 0;
  static char text[1 << 20];
  size_t size = fread(text, 1, sizeof(text) - 1, file);
  fclose(file);
  text[size] = '\0';
  int count = 0;
  for (const char* at = strstr(text, needle); at; at = strstr(at + 1, needle)) ++count;
  return count;
}

static int CopyFile(const char* from, const char* to) {
  FILE* in = fopen(from, "rb");
  FILE* out = fopen(to, "wb");
  int ok = in && out;
  char buffer[65536];
  size_t n = 0;
  while (ok && (n = fread(buffer, 1, sizeof(buffer), in)) > 0) ok = fwrite(buffer, 1, n, out) == n;
  if (in) fclose(in);
  if (out && fclose(out) != 0) ok = 0;
  return ok;
}

/* Opens both dialogs through the entry points of the library at `path`,
 * twice, then closes the library; true when it is still mapped after that. */
static int DialogsThenClose(const char* path, int dialogs_answer) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
    exit(1);
  }
  TK571_FullPDB full_pdb = (TK571_FullPDB)dlsym(library, "FullPDB");
  TK571_DLLEdDev ed_dev = (TK571_DLLEdDev)dlsym(library, "DLLEdDev");
  TK571_DLLTestDev test_dev = (TK571_DLLTestDev)dlsym(library, "DLLTestDev");
  CHECK(full_pdb && ed_dev && test_dev);
  unsigned char* pdb = calloc(1, TK571_PDB_SIZE);
  full_pdb(pdb);
  for (int round = 0; round < 2; ++round) {
    CHECK(ed_dev(0, pdb) == 2);
    CHECK(test_dev(pdb, 1) == dialogs_answer);
  }
  free(pdb);
  CHECK(dlclose(library) == 0);
  void* again = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (again) dlclose(again);
  return again != NULL;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int module_built = atoi(argv[2]);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("KELDA_PATH");
  remove(kLogFile);

  char alone_dir[] = "/tmp/tk571_alone_XXXXXX";
  CHECK(mkdtemp(alone_dir) != NULL);
  char alone[4096];
  snprintf(alone, sizeof(alone), "%s/libtk571_485.so", alone_dir);
  CHECK(CopyFile(argv[1], alone));

  /* Without the module: cancelled and false, one log line, unloaded. */
  CHECK(!DialogsThenClose(alone, 0));
  CHECK(CountInLog(kNoModuleLine) == 1);
  remove(alone);
  rmdir(alone_dir);

  /* Beside the module: no display, so the same answers, but pinned. */
  if (module_built) {
    CHECK(DialogsThenClose(argv[1], 0));
    CHECK(CountInLog(kNoModuleLine) == 1);
  }
  return CheckResult();
}
