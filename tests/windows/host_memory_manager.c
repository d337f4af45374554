/* A host's shared memory manager as the driver finds it in the host process:
 * a loaded module exporting SysGetMem and SysFreeMem in the host runtime's
 * register convention. Blocks come from a heap of its own, so a block that
 * the driver took from anywhere else cannot be released here. */
#include <windows.h>

static HANDLE heap;
static LONG live_blocks;
static LONG foreign_frees;

__declspec(dllexport) __attribute__((regparm(3))) void* SysGetMem(int size) {
  if (!heap) heap = HeapCreate(0, 0, 0);
  void* block = HeapAlloc(heap, 0, (SIZE_T)size);
  if (block) InterlockedIncrement(&live_blocks);
  return block;
}

__declspec(dllexport) __attribute__((regparm(3))) int SysFreeMem(void* block) {
  if (!heap || !HeapValidate(heap, 0, block)) {
    InterlockedIncrement(&foreign_frees);
    return 1;
  }
  HeapFree(heap, 0, block);
  InterlockedDecrement(&live_blocks);
  return 0;
}

/* For the test: blocks handed out and not yet freed, and frees of blocks this
 * manager never handed out. */
__declspec(dllexport) LONG MemoryManagerLiveBlocks(void) {
  return live_blocks;
}
__declspec(dllexport) LONG MemoryManagerForeignFrees(void) {
  return foreign_frees;
}
