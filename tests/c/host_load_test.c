/* Loads the driver the way a host does, with dlopen, and calls every entry
 * point through the public C header. */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "check.h"
#include "tk571/driver.h"

/* "通讯设备初始化失败" in code page 936. */
static const char kNoObject[] =
    "\xCD\xA8\xD1\xB6\xC9\xE8\xB1\xB8\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC";
/* "无效的标签列表。" */
static const char kBadTagList[] =
    "\xCE\xDE\xD0\xA7\xB5\xC4\xB1\xEA\xC7\xA9\xC1\xD0\xB1\xED\xA1\xA3";
/* "无效的参数信息。" */
static const char kBadParams[] = "\xCE\xDE\xD0\xA7\xB5\xC4\xB2\xCE\xCA\xFD\xD0\xC5\xCF\xA2\xA1\xA3";

static void* library;
static void* Symbol(const char* name) {
  void* p = dlsym(library, name);
  if (!p) {
    fprintf(stderr, "missing entry point %s\n", name);
    exit(1);
  }
  return p;
}

/* Checks a message and frees it as the host must. */
static void ExpectMessage(char* message, const char* expected) {
  if (!expected) {
    CHECK(message == NULL);
  } else {
    CHECK(message != NULL && strcmp(message, expected) == 0);
  }
  free(message);
}

static void* ThreadWithoutObject(void* arg) {
  TK571_OnDataRead on_read = (TK571_OnDataRead)arg;
  TTagValueRec records[4];
  int32_t count = -1;
  char* message = NULL;
  CHECK(on_read(&count, records, &message) == 1);
  CHECK(count == 0);
  ExpectMessage(message, kNoObject);
  return NULL;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  TK571_GetPDBLen get_pdb_len = (TK571_GetPDBLen)Symbol("GetPDBLen");
  TK571_FullPDB full_pdb = (TK571_FullPDB)Symbol("FullPDB");
  TK571_GetTagAddrList get_tag_addr_list = (TK571_GetTagAddrList)Symbol("GetTagAddrList");
  TK571_IniDriver ini_driver = (TK571_IniDriver)Symbol("IniDriver");
  TK571_IniDriverEx ini_driver_ex = (TK571_IniDriverEx)Symbol("IniDriverEx");
  TK571_OnDataRead on_data_read = (TK571_OnDataRead)Symbol("OnDataRead");
  TK571_OnDataWrite on_data_write = (TK571_OnDataWrite)Symbol("OnDataWrite");
  TK571_DetectScanTime detect_scan_time = (TK571_DetectScanTime)Symbol("DetectScanTime");
  TK571_GetDeviceStatus get_device_status = (TK571_GetDeviceStatus)Symbol("GetDeviceStatus");
  TK571_WriteLog write_log = (TK571_WriteLog)Symbol("WriteLog");
  TK571_FreeDriver free_driver = (TK571_FreeDriver)Symbol("FreeDriver");
  TK571_TagEdAddr tag_ed_addr = (TK571_TagEdAddr)Symbol("TagEdAddr");
  TK571_DLLTestDev dll_test_dev = (TK571_DLLTestDev)Symbol("DLLTestDev");
  TK571_DLLEdDev dll_ed_dev = (TK571_DLLEdDev)Symbol("DLLEdDev");

  /* Configuration time. */
  CHECK(get_pdb_len() == TK571_PDB_SIZE);
  CHECK(full_pdb(NULL) == NULL);
  unsigned char* pdb = calloc(1, TK571_PDB_SIZE);
  CHECK(full_pdb(pdb) == pdb);
  CHECK(pdb[TK571_PDB_BAUD_INDEX] == 6 && pdb[TK571_PDB_PARITY_CODE] == 2);
  CHECK(pdb[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE] == 0);

  int32_t kinds = 0;
  get_tag_addr_list(0, &kinds, NULL);
  CHECK(kinds == 8);
  TTagAddrDesc list[8];
  get_tag_addr_list(0, &kinds, list);
  CHECK(list[0].Name[0] == 9 && memcmp(list[0].Name + 1, "LOAD_SETM", 9) == 0);
  CHECK(list[7].Name[0] == 8 && memcmp(list[7].Name + 1, "START_UP", 8) == 0);
  CHECK(list[2].Access == 0 && list[4].Access == 2 && list[0].ValueType == 1);
  CHECK(list[3].Upper == 65535.0 && list[3].Lower == -65535.0);

  /* The driver hands back a fresh copy and never frees the host's string. */
  char* original = strdup("read1:1");
  char* address = original;
  char* message = (char*)1;
  CHECK(tag_ed_addr(pdb, &address, 1, &message) == 1);
  CHECK(address != NULL && address != original && strcmp(address, "read1:1") == 0);
  ExpectMessage(message, NULL);
  free(address);
  free(original);

  CHECK(dll_test_dev(NULL, 0) == 0);
  CHECK(dll_ed_dev(0, NULL) == 2);

  /* Run time without a driver object. */
  CHECK(detect_scan_time() == 1000);
  message = NULL;
  CHECK(get_device_status(&message) == 1);
  ExpectMessage(message, kNoObject);
  message = NULL;
  write_log(1, &message);
  ExpectMessage(message, kNoObject);
  TTagValueRec record;
  memset(&record, 0, sizeof(record));
  message = NULL;
  CHECK(on_data_write(1, &record, &message) == 0);
  ExpectMessage(message, kNoObject);
  CHECK(free_driver() == 1);
  CHECK(ini_driver_ex(0) == 1);
  pthread_t thread;
  pthread_create(&thread, NULL, ThreadWithoutObject, (void*)on_data_read);
  pthread_join(thread, NULL);

  /* Refused starts leave the thread without an object. */
  message = NULL;
  CHECK(ini_driver(0, NULL, NULL, &message) == 0);
  ExpectMessage(message, kBadTagList);
  TTagInfo* none[1] = {NULL};
  message = NULL;
  CHECK(ini_driver(0, none, NULL, &message) == 0);
  ExpectMessage(message, kBadParams);
  CHECK(detect_scan_time() == 1000);

  free(pdb);
  /* Nothing above opened a dialog: closing the library unmaps it. */
  CHECK(dlclose(library) == 0);
  CHECK(dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD) == NULL);
  return CheckResult();
}
