/* TK571 batching controller driver: the interface a host program uses.
 *
 * The host loads libtk571_485.so (Linux) or TK571_485.dll (Windows), calls
 * IniDriver in each polling thread and then OnDataRead at the period
 * DetectScanTime gives. Every string the driver hands over is code page 936
 * (GBK); an empty text is a null pointer. On Linux strings are allocated with
 * malloc() and the host frees them with free(). On Windows they come from the
 * host's shared memory manager when a loaded module exports SysGetMem and
 * SysFreeMem (free them with SysFreeMem), else from the process heap (free
 * them with HeapFree(GetProcessHeap(), 0, p)). */
#ifndef TK571_DRIVER_H
#define TK571_DRIVER_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define TK571_CALL __stdcall
#else
#define TK571_CALL
#endif

#if defined(_WIN32)
#define TK571_EXPORT
#else
#define TK571_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One-byte Boolean of the interface: 0 false, 1 true. */
typedef uint8_t TK571Bool;

/* Size of the device parameter block (GetPDBLen). */
#define TK571_PDB_SIZE 26508

/* Field offsets of the device parameter block. */
#define TK571_PDB_DEBUG_ENABLED 0
#define TK571_PDB_LOG_ERRORS 1
#define TK571_PDB_LOG_TRACE 2
#define TK571_PDB_COMM_TIMEOUT_MS 4
#define TK571_PDB_WRITE_RETRIES 8
#define TK571_PDB_CONNECT_MODE 9
#define TK571_PDB_CURRENT_ENTRY 12
#define TK571_PDB_ENTRIES 16
#define TK571_PDB_ENTRY_SIZE 264
#define TK571_PDB_ENTRY_DEVICE_NUMBER 0
#define TK571_PDB_ENTRY_TYPE_CODE 4
#define TK571_PDB_ENTRY_TYPE_NAME 5
#define TK571_PDB_PORT 26416
#define TK571_PDB_BAUD_INDEX 26417
#define TK571_PDB_DATA_BITS_CODE 26418
#define TK571_PDB_STOP_BITS_CODE 26419
#define TK571_PDB_PARITY_CODE 26420
#define TK571_PDB_MODEM_INIT 26454

/* Value types of TTagValueRec and data kinds of TTagInfo. */
#define TK571_VALUE_FLOAT 0
#define TK571_VALUE_BOOL 1
#define TK571_VALUE_STRING 2

/* Quality codes the driver reports. */
#define TK571_QUALITY_GOOD 0u
#define TK571_QUALITY_WRITE_STALE 0x2000000u
#define TK571_QUALITY_WRITE_FAILED 0x4000000u

#pragma pack(push, 1)

/* Exchange record of OnDataRead and OnDataWrite, 28 bytes. */
typedef struct TTagValueRec {
  uint32_t TagID;
  double TimeStamp; /* days since 1899-12-30, local time */
  uint32_t Quality;
  uint8_t ValueType; /* TK571_VALUE_* */
  uint8_t Padding[3];
  union {
    double Float;
    uint32_t Bool; /* 0 false, non-zero true */
    char* String;  /* GBK, zero-terminated */
    uint8_t Raw[8];
  } Value;
} TTagValueRec;

/* Initial value of a tag: an OLE VARIANT (type code at 0, data at 8). */
typedef struct TTagVariant {
  uint16_t vt; /* 0 empty; OLE scalar codes; 8 BSTR (UTF-16); 0x100 GBK string */
  uint8_t Reserved[6];
  union {
    double Double;
    float Float;
    int64_t Int64;
    int32_t Int32;
    int16_t Bool; /* VARIANT_BOOL: -1 true, 0 false */
    const void* Pointer;
    uint8_t Raw[8];
  } Data;
} TTagVariant;

/* The host's definition of one tag, 136 bytes. */
typedef struct TTagInfo {
  uint32_t TagID;
  char Name[32]; /* GBK, zero-terminated unless it fills the field */
  uint8_t Unused1[4];
  char Address[64]; /* e.g. "READ1:1", zero-terminated unless it fills the field */
  uint8_t DataKind; /* TK571_VALUE_* */
  uint8_t Unused2[3];
  uint32_t ScanTime; /* ms */
  uint8_t Unused3[8];
  TTagVariant InitialValue;
} TTagInfo;

/* One tag kind of GetTagAddrList, 536 bytes. Strings are length-prefixed. */
typedef struct TTagAddrDesc {
  uint8_t Name[256];        /* length byte, then up to 255 characters */
  uint8_t Description[256]; /* length byte, then up to 255 characters */
  uint8_t ValueType;        /* 0 floating point, 1 Boolean */
  uint8_t Access;           /* 0 read, 1 write, 2 read and write */
  uint8_t Padding[2];
  double Upper;
  double Lower;
  uint32_t Reserved;
} TTagAddrDesc;

#pragma pack(pop)

#if defined(__cplusplus)
#define TK571_STATIC_ASSERT static_assert
#else
#define TK571_STATIC_ASSERT _Static_assert
#endif
TK571_STATIC_ASSERT(sizeof(TTagValueRec) == 28, "TTagValueRec is 28 bytes");
TK571_STATIC_ASSERT(offsetof(TTagValueRec, TimeStamp) == 4, "TimeStamp at 4");
TK571_STATIC_ASSERT(offsetof(TTagValueRec, Quality) == 12, "Quality at 12");
TK571_STATIC_ASSERT(offsetof(TTagValueRec, ValueType) == 16, "ValueType at 16");
TK571_STATIC_ASSERT(offsetof(TTagValueRec, Value) == 20, "Value at 20");
TK571_STATIC_ASSERT(sizeof(TTagVariant) == 16, "TTagVariant is 16 bytes");
TK571_STATIC_ASSERT(offsetof(TTagVariant, Data) == 8, "variant data at 8");
TK571_STATIC_ASSERT(sizeof(TTagInfo) == 136, "TTagInfo is 136 bytes");
TK571_STATIC_ASSERT(offsetof(TTagInfo, Name) == 4, "Name at 4");
TK571_STATIC_ASSERT(offsetof(TTagInfo, Address) == 40, "Address at 40");
TK571_STATIC_ASSERT(offsetof(TTagInfo, DataKind) == 104, "DataKind at 104");
TK571_STATIC_ASSERT(offsetof(TTagInfo, ScanTime) == 108, "ScanTime at 108");
TK571_STATIC_ASSERT(offsetof(TTagInfo, InitialValue) == 120, "InitialValue at 120");
TK571_STATIC_ASSERT(sizeof(TTagAddrDesc) == 536, "TTagAddrDesc is 536 bytes");
TK571_STATIC_ASSERT(offsetof(TTagAddrDesc, Description) == 256, "Description at 256");
TK571_STATIC_ASSERT(offsetof(TTagAddrDesc, ValueType) == 512, "ValueType at 512");
TK571_STATIC_ASSERT(offsetof(TTagAddrDesc, Upper) == 516, "Upper at 516");
TK571_STATIC_ASSERT(offsetof(TTagAddrDesc, Lower) == 524, "Lower at 524");
TK571_STATIC_ASSERT(offsetof(TTagAddrDesc, Reserved) == 532, "Reserved at 532");

/* Entry points, ordinals 1..14. */
TK571_EXPORT void TK571_CALL GetTagAddrList(uint32_t unused, int32_t* count, TTagAddrDesc* list);
TK571_EXPORT TK571Bool TK571_CALL DLLTestDev(void* pdb, uint32_t interactive);
TK571_EXPORT TK571Bool TK571_CALL TagEdAddr(void* pdb, char** address, TK571Bool accept_unchecked,
                                            char** message);
TK571_EXPORT void* TK571_CALL FullPDB(void* pdb);
TK571_EXPORT int32_t TK571_CALL GetPDBLen(void);
TK571_EXPORT int32_t TK571_CALL DLLEdDev(uintptr_t owner_window, void* pdb);
TK571_EXPORT void TK571_CALL WriteLog(TK571Bool enable, char** message);
TK571_EXPORT TK571Bool TK571_CALL FreeDriver(void);
TK571_EXPORT TK571Bool TK571_CALL OnDataWrite(uint32_t count, TTagValueRec* records,
                                              char** message);
TK571_EXPORT TK571Bool TK571_CALL OnDataRead(int32_t* count, TTagValueRec* records, char** message);
TK571_EXPORT uint16_t TK571_CALL DetectScanTime(void);
TK571_EXPORT TK571Bool TK571_CALL GetDeviceStatus(char** message);
TK571_EXPORT TK571Bool TK571_CALL IniDriverEx(uint32_t event_handle);
TK571_EXPORT TK571Bool TK571_CALL IniDriver(int32_t tag_count, TTagInfo** tags, void* pdb,
                                            char** message);

/* Function pointer types for hosts that load the library with dlopen or
 * LoadLibrary. */
typedef void(TK571_CALL* TK571_GetTagAddrList)(uint32_t, int32_t*, TTagAddrDesc*);
typedef TK571Bool(TK571_CALL* TK571_DLLTestDev)(void*, uint32_t);
typedef TK571Bool(TK571_CALL* TK571_TagEdAddr)(void*, char**, TK571Bool, char**);
typedef void*(TK571_CALL* TK571_FullPDB)(void*);
typedef int32_t(TK571_CALL* TK571_GetPDBLen)(void);
typedef int32_t(TK571_CALL* TK571_DLLEdDev)(uintptr_t, void*);
typedef void(TK571_CALL* TK571_WriteLog)(TK571Bool, char**);
typedef TK571Bool(TK571_CALL* TK571_FreeDriver)(void);
typedef TK571Bool(TK571_CALL* TK571_OnDataWrite)(uint32_t, TTagValueRec*, char**);
typedef TK571Bool(TK571_CALL* TK571_OnDataRead)(int32_t*, TTagValueRec*, char**);
typedef uint16_t(TK571_CALL* TK571_DetectScanTime)(void);
typedef TK571Bool(TK571_CALL* TK571_GetDeviceStatus)(char**);
typedef TK571Bool(TK571_CALL* TK571_IniDriverEx)(uint32_t);
typedef TK571Bool(TK571_CALL* TK571_IniDriver)(int32_t, TTagInfo**, void*, char**);

#ifdef __cplusplus
}
#endif

#endif /* TK571_DRIVER_H */
