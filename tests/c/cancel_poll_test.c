/* A host that cancels its polling thread while the thread is inside
 * OnDataRead, on a line where no controller answers (a pseudo-terminal whose
 * other end only listens). glibc unwinds a cancelled thread with an exception
 * that the driver must let pass: the process lives on, the thread ends as
 * cancelled, its driver object gives the port back, and the next start on the
 * same port polls the line again. */
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

static void* library;
static TK571_FullPDB full_pdb;
static TK571_IniDriver ini_driver;
static TK571_OnDataRead on_data_read;
static TK571_FreeDriver free_driver;

static unsigned char* pdb;
static TTagInfo weight;
static int master = -1;

static atomic_int started;
static atomic_int inside_driver;
static atomic_int cancelled_inside = -1;

static void* Symbol(const char* name) {
  void* p = dlsym(library, name);
  if (!p) {
    fprintf(stderr, "missing entry point %s\n", name);
    exit(1);
  }
  return p;
}

static time_t Now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec;
}

static int StartDriver(void) {
  TTagInfo* tags[1] = {&weight};
  char* message = NULL;
  const int ok = ini_driver(1, tags, pdb, &message) != 0;
  if (!ok) fprintf(stderr, "IniDriver: %s\n", message ? message : "");
  free(message);
  return ok;
}

static void Poll(void) {
  TTagValueRec records[4];
  int32_t count = 0;
  char* message = NULL;
  on_data_read(&count, records, &message);
  free(message);
}

/* Appends what the driver has sent since the last call; false once `text`
 * has not turned up before the hang guard. */
static int SentText(char* seen, size_t size, const char* text) {
  size_t used = strlen(seen);
  struct pollfd p = {master, POLLIN, 0};
  while (poll(&p, 1, 0) > 0 && used + 1 < size) {
    const ssize_t n = read(master, seen + used, size - used - 1);
    if (n <= 0) break;
    used += (size_t)n;
    seen[used] = '\0';
  }
  return strstr(seen, text) != NULL;
}

static void RecordCancel(void* arg) {
  (void)arg;
  atomic_store(&cancelled_inside, atomic_load(&inside_driver));
}

/* Polls without a cancellation point of its own, so that the cancellation
 * can only be acted on inside the driver. */
static void* PollSilentLine(void* arg) {
  (void)arg;
  if (!StartDriver()) {
    atomic_store(&started, -1);
    return NULL;
  }
  atomic_store(&started, 1);
  pthread_cleanup_push(RecordCancel, NULL);
  for (;;) {
    atomic_store(&inside_driver, 1);
    Poll();
    atomic_store(&inside_driver, 0);
  }
  pthread_cleanup_pop(0);
  return NULL;
}

static int OpenSilentLine(void) {
  master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 0;
  const char* slave = ptsname(master);
  return slave && setenv("TK571_COM1", slave, 1) == 0;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (!OpenSilentLine()) {
    perror("pseudo-terminal");
    return 1;
  }
  library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  full_pdb = (TK571_FullPDB)Symbol("FullPDB");
  ini_driver = (TK571_IniDriver)Symbol("IniDriver");
  on_data_read = (TK571_OnDataRead)Symbol("OnDataRead");
  free_driver = (TK571_FreeDriver)Symbol("FreeDriver");

  /* Controller 1 on Com1 with error lines on, one live weight. */
  pdb = calloc(1, TK571_PDB_SIZE);
  full_pdb(pdb);
  pdb[TK571_PDB_LOG_ERRORS] = 1;
  pdb[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE] = 1;
  unsigned char* entry1 = pdb + TK571_PDB_ENTRIES + TK571_PDB_ENTRY_SIZE;
  entry1[TK571_PDB_ENTRY_TYPE_CODE] = 0;
  entry1[TK571_PDB_ENTRY_TYPE_NAME] = 5;
  memcpy(entry1 + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
  weight.TagID = 1;
  strcpy(weight.Name, "W1");
  strcpy(weight.Address, "READ1:1");
  weight.DataKind = TK571_VALUE_FLOAT;
  weight.ScanTime = 100;

  /* The thread polls until it has sent the weight request at least once:
   * select, no answer, then the request itself. */
  pthread_t thread;
  CHECK(pthread_create(&thread, NULL, PollSilentLine, NULL) == 0);
  char seen[4096] = "";
  const time_t guard = Now() + kHangGuardSeconds;
  while (atomic_load(&started) == 0 && Now() < guard) usleep(1000);
  if (atomic_load(&started) != 1) {
    fprintf(stderr, "the polling thread could not start the driver\n");
    return 1;
  }
  while (!SentText(seen, sizeof seen, "READ\r\n") && Now() < guard) usleep(1000);
  CHECK(strstr(seen,
               "\x05"
               "ID01\r\n") != NULL);
  CHECK(strstr(seen, "READ\r\n") != NULL);

  CHECK(pthread_cancel(thread) == 0);
  void* result = NULL;
  CHECK(pthread_join(thread, &result) == 0);
  CHECK(result == PTHREAD_CANCELED);
  CHECK(atomic_load(&cancelled_inside) == 1);

  /* The cancelled thread's object gave the port back: a new start opens it
   * and polls the line again. */
  seen[0] = '\0';
  SentText(seen, sizeof seen, "");
  seen[0] = '\0';
  CHECK(StartDriver());
  while (!SentText(seen, sizeof seen, "READ\r\n") && Now() < guard) Poll();
  CHECK(strstr(seen, "READ\r\n") != NULL);
  CHECK(free_driver() == 1);

  free(pdb);
  close(master);
  return CheckResult();
}
