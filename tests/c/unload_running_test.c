/* A host that unloads the driver while driver objects still run: one of the
 * unloading thread and one of another thread that is still alive, each on a
 * silent line (a pseudo-terminal whose other end only listens). The unload
 * returns, no line thread of the library runs on after its code is gone (the
 * process would die), the unloading thread's port is free again, and the
 * library loaded again polls that line. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "check.h"
#include "tk571/driver.h"

/* Guards against a hang only; nothing here depends on speed. */
enum { kHangGuardSeconds = 60 };

static const char* library_path;
static void* library;
static TK571_FullPDB full_pdb;
static TK571_IniDriver ini_driver;
static TK571_FreeDriver free_driver;

static time_t Now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec;
}

static void* Symbol(const char* name) {
  void* p = dlsym(library, name);
  if (!p) {
    fprintf(stderr, "missing entry point %s\n", name);
    exit(1);
  }
  return p;
}

static int Load(void) {
  library = dlopen(library_path, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 0;
  }
  full_pdb = (TK571_FullPDB)Symbol("FullPDB");
  ini_driver = (TK571_IniDriver)Symbol("IniDriver");
  free_driver = (TK571_FreeDriver)Symbol("FreeDriver");
  return 1;
}

/* A listening end for ComN; returns its descriptor. */
static int OpenSilentLine(int n) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const char* slave = ptsname(master);
  char name[16];
  snprintf(name, sizeof name, "TK571_COM%d", n);
  return slave && setenv(name, slave, 1) == 0 ? master : -1;
}

/* Controller 1 on ComN, one live weight. */
static int StartDriver(int port) {
  unsigned char pdb[TK571_PDB_SIZE];
  full_pdb(pdb);
  pdb[TK571_PDB_PORT] = (unsigned char)(port - 1);
  pdb[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE] = 1;
  unsigned char* entry1 = pdb + TK571_PDB_ENTRIES + TK571_PDB_ENTRY_SIZE;
  entry1[TK571_PDB_ENTRY_TYPE_CODE] = 0;
  entry1[TK571_PDB_ENTRY_TYPE_NAME] = 5;
  memcpy(entry1 + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
  TTagInfo weight;
  memset(&weight, 0, sizeof weight);
  weight.TagID = 1;
  strcpy(weight.Name, "W1");
  strcpy(weight.Address, "READ1:1");
  weight.DataKind = TK571_VALUE_FLOAT;
  weight.ScanTime = 100;
  TTagInfo* tags[1] = {&weight};
  char* message = NULL;
  const int ok = ini_driver(1, tags, pdb, &message) != 0;
  if (!ok) fprintf(stderr, "IniDriver on Com%d: %s\n", port, message ? message : "");
  free(message);
  return ok;
}

/* True once the line thread has sent a weight request on `master`: nobody
 * polls, so only the line thread can have sent it. */
static int LineRuns(int master) {
  char seen[4096] = "";
  size_t used = 0;
  const time_t guard = Now() + kHangGuardSeconds;
  while (Now() < guard) {
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      const ssize_t n = read(master, seen + used, sizeof seen - used - 1);
      if (n <= 0) return 0;
      used += (size_t)n;
      seen[used] = '\0';
      if (strstr(seen, "READ\r\n")) return 1;
      if (used > sizeof seen / 2) used = 0;
    }
  }
  return 0;
}

static atomic_int other_started;
static atomic_int other_may_end;

/* A host thread that starts the driver and lives on past the unload. */
static void* OtherHostThread(void* arg) {
  (void)arg;
  atomic_store(&other_started, StartDriver(2) ? 1 : -1);
  while (!atomic_load(&other_may_end)) usleep(1000);
  return NULL;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  library_path = argv[1];
  const int line1 = OpenSilentLine(1);
  const int line2 = OpenSilentLine(2);
  if (line1 < 0 || line2 < 0) {
    perror("pseudo-terminal");
    return 1;
  }
  if (!Load()) return 1;

  pthread_t other;
  CHECK(pthread_create(&other, NULL, OtherHostThread, NULL) == 0);
  const time_t guard = Now() + kHangGuardSeconds;
  while (atomic_load(&other_started) == 0 && Now() < guard) usleep(1000);
  CHECK(atomic_load(&other_started) == 1);
  CHECK(StartDriver(1));
  CHECK(LineRuns(line1));
  CHECK(LineRuns(line2));

  CHECK(dlclose(library) == 0);
  /* A line thread left running would now run code that is gone. */
  usleep(300 * 1000);

  CHECK(Load());
  CHECK(StartDriver(1));
  CHECK(LineRuns(line1));
  CHECK(free_driver() == 1);
  CHECK(dlclose(library) == 0);

  atomic_store(&other_may_end, 1);
  CHECK(pthread_join(other, NULL) == 0);
  close(line1);
  close(line2);
  return CheckResult();
}
