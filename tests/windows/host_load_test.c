/* Loads TK571_485.dll the way a Windows host does, by name and by ordinal,
 * and calls every entry point through the public C header. With a memory
 * manager DLL as argument, that module is loaded first and every string the
 * driver hands over must come from it; without, from the process heap. */
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include "../c/check.h"
#include "tk571/driver.h"

/* "通讯设备初始化失败" in code page 936. */
static const char kNoObject[] =
    "\xCD\xA8\xD1\xB6\xC9\xE8\xB1\xB8\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC";
/* "无效的标签列表。" */
static const char kBadTagList[] =
    "\xCE\xDE\xD0\xA7\xB5\xC4\xB1\xEA\xC7\xA9\xC1\xD0\xB1\xED\xA1\xA3";
/* "无效的参数信息。" */
static const char kBadParams[] = "\xCE\xDE\xD0\xA7\xB5\xC4\xB2\xCE\xCA\xFD\xD0\xC5\xCF\xA2\xA1\xA3";

/* The ordinals of the export list, in order. */
static const char* const kEntryPoints[14] = {
    "GetTagAddrList", "DLLTestDev",      "TagEdAddr",   "FullPDB",     "GetPDBLen",
    "DLLEdDev",       "WriteLog",        "FreeDriver",  "OnDataWrite", "OnDataRead",
    "DetectScanTime", "GetDeviceStatus", "IniDriverEx", "IniDriver"};

typedef __attribute__((regparm(3))) int (*SysFreeMemFn)(void*);
typedef LONG (*CountFn)(void);
static SysFreeMemFn sys_free_mem;
static CountFn live_blocks;
static CountFn foreign_frees;

/* Frees a driver string as the host must: with the memory manager when the
 * host has one, else on the process heap. */
static void FreeDriverString(char* text) {
  if (!text) return;
  if (sys_free_mem) {
    sys_free_mem(text);
  } else {
    CHECK(HeapFree(GetProcessHeap(), 0, text));
  }
}

static void ExpectMessage(char* message, const char* expected) {
  if (!expected) {
    CHECK(message == NULL);
  } else {
    CHECK(message != NULL && strcmp(message, expected) == 0);
  }
  FreeDriverString(message);
}

static DWORD WINAPI ThreadWithoutObject(void* arg) {
  TK571_OnDataRead on_read = (TK571_OnDataRead)arg;
  TTagValueRec records[4];
  int32_t count = -1;
  char* message = NULL;
  CHECK(on_read(&count, records, &message) == 1);
  CHECK(count == 0);
  ExpectMessage(message, kNoObject);
  return 0;
}

/* A value of the DLL's version resource, in UTF-16 so that the check does
 * not depend on the code page wine runs with. */
static const wchar_t* VersionValue(const void* info, const wchar_t* key) {
  wchar_t path[128];
  swprintf(path, 128, L"\\StringFileInfo\\080403A8\\%ls", key);
  void* value = NULL;
  UINT size = 0;
  if (!VerQueryValueW(info, path, &value, &size)) return L"";
  return (const wchar_t*)value;
}

static void CheckVersionResource(void) {
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeW(L"TK571_485.dll", &unused);
  CHECK(size > 0);
  if (size == 0) return;
  void* info = HeapAlloc(GetProcessHeap(), 0, size);
  CHECK(GetFileVersionInfoW(L"TK571_485.dll", 0, size, info));
  /* "TK571配料控制器(RS485)", " 智能仪表", "设备号", "通道地址" */
  CHECK(wcscmp(VersionValue(info, L"DeviceName"), L"TK571\x914d\x6599\x63a7\x5236\x5668(RS485)") ==
        0);
  CHECK(wcscmp(VersionValue(info, L"DevTypeName"), L" \x667a\x80fd\x4eea\x8868") == 0);
  CHECK(wcscmp(VersionValue(info, L"DevIDName"), L"\x8bbe\x5907\x53f7") == 0);
  CHECK(wcscmp(VersionValue(info, L"ChIDName"), L"\x901a\x9053\x5730\x5740") == 0);
  CHECK(wcscmp(VersionValue(info, L"OriginalFilename"), L"TK571_485.dll") == 0);
  HeapFree(GetProcessHeap(), 0, info);
}

int main(int argc, char** argv) {
  if (argc > 1) {
    HMODULE manager = LoadLibraryA(argv[1]);
    CHECK(manager != NULL);
    if (!manager) return 1;
    sys_free_mem = (SysFreeMemFn)(void*)GetProcAddress(manager, "SysFreeMem");
    live_blocks = (CountFn)(void*)GetProcAddress(manager, "MemoryManagerLiveBlocks");
    foreign_frees = (CountFn)(void*)GetProcAddress(manager, "MemoryManagerForeignFrees");
    CHECK(sys_free_mem && live_blocks && foreign_frees);
  }
  HMODULE library = LoadLibraryA("TK571_485.dll");
  if (!library) {
    fprintf(stderr, "LoadLibrary: error %lu\n", GetLastError());
    return 1;
  }
  /* Every name at its ordinal; nothing past the fourteenth, no decorated
   * names. */
  FARPROC by_name[14];
  for (int i = 0; i < 14; ++i) {
    by_name[i] = GetProcAddress(library, kEntryPoints[i]);
    CHECK(by_name[i] != NULL);
    CHECK(GetProcAddress(library, MAKEINTRESOURCEA(i + 1)) == by_name[i]);
  }
  CHECK(GetProcAddress(library, MAKEINTRESOURCEA(15)) == NULL);
  CHECK(GetProcAddress(library, "IniDriver@16") == NULL);
  CHECK(GetProcAddress(library, "_IniDriver@16") == NULL);
  for (int i = 0; i < 14; ++i)
    if (!by_name[i]) return 1;

  TK571_GetTagAddrList get_tag_addr_list = (TK571_GetTagAddrList)(void*)by_name[0];
  TK571_DLLTestDev dll_test_dev = (TK571_DLLTestDev)(void*)by_name[1];
  TK571_TagEdAddr tag_ed_addr = (TK571_TagEdAddr)(void*)by_name[2];
  TK571_FullPDB full_pdb = (TK571_FullPDB)(void*)by_name[3];
  TK571_GetPDBLen get_pdb_len = (TK571_GetPDBLen)(void*)by_name[4];
  TK571_DLLEdDev dll_ed_dev = (TK571_DLLEdDev)(void*)by_name[5];
  TK571_WriteLog write_log = (TK571_WriteLog)(void*)by_name[6];
  TK571_FreeDriver free_driver = (TK571_FreeDriver)(void*)by_name[7];
  TK571_OnDataWrite on_data_write = (TK571_OnDataWrite)(void*)by_name[8];
  TK571_OnDataRead on_data_read = (TK571_OnDataRead)(void*)by_name[9];
  TK571_DetectScanTime detect_scan_time = (TK571_DetectScanTime)(void*)by_name[10];
  TK571_GetDeviceStatus get_device_status = (TK571_GetDeviceStatus)(void*)by_name[11];
  TK571_IniDriverEx ini_driver_ex = (TK571_IniDriverEx)(void*)by_name[12];
  TK571_IniDriver ini_driver = (TK571_IniDriver)(void*)by_name[13];

  CheckVersionResource();

  /* Configuration time. */
  CHECK(get_pdb_len() == TK571_PDB_SIZE);
  CHECK(full_pdb(NULL) == NULL);
  unsigned char* pdb = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, TK571_PDB_SIZE);
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

  /* A fresh copy comes back; the host's own string is left alone. */
  char original[] = "read1:1";
  char* address = original;
  char* message = (char*)1;
  CHECK(tag_ed_addr(pdb, &address, 1, &message) == 1);
  CHECK(address != NULL && address != original && strcmp(address, "read1:1") == 0);
  ExpectMessage(message, NULL);
  if (live_blocks) CHECK(live_blocks() == 1);
  FreeDriverString(address);
  if (live_blocks) CHECK(live_blocks() == 0);

  CHECK(dll_test_dev(NULL, 0) == 0);
  /* Without a block the wizard opens no window and answers as cancelled;
     with one it is the wizard's own test that drives it. */
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
  HANDLE thread = CreateThread(NULL, 0, ThreadWithoutObject, (void*)on_data_read, 0, NULL);
  CHECK(thread != NULL);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);

  /* Refused starts leave the thread without an object. */
  message = NULL;
  CHECK(ini_driver(0, NULL, NULL, &message) == 0);
  ExpectMessage(message, kBadTagList);
  TTagInfo* none[1] = {NULL};
  message = NULL;
  CHECK(ini_driver(0, none, NULL, &message) == 0);
  ExpectMessage(message, kBadParams);
  CHECK(detect_scan_time() == 1000);

  if (live_blocks) {
    CHECK(live_blocks() == 0);
    CHECK(foreign_frees() == 0);
  }
  HeapFree(GetProcessHeap(), 0, pdb);
  CHECK(FreeLibrary(library));
  return CheckResult();
}
