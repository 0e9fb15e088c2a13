// What the process holds, for tests that repeat an operation and expect it
// to leave nothing behind.
#include "tests/bench/bench.h"

#include <psapi.h>

size_t BusyHeapBytes()
{
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    size_t busy = 0;
    for (DWORD i = 0; i < count && i < 64; i++) {
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        HeapLock(heaps[i]);
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return busy;
}

ProcessUsage MeasureProcessUsage()
{
    ProcessUsage u;
    if (!GetProcessHandleCount(GetCurrentProcess(), &u.handles))
        u.handles = 0;
    HANDLE probe = CreateEventA(NULL, FALSE, FALSE, NULL);
    u.nextHandle = (UINT_PTR)probe;
    if (probe != NULL)
        CloseHandle(probe);
    u.heapBytes = BusyHeapBytes();
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&counters,
                                sizeof(counters)))
        // Wine leaves PrivateUsage at 0; its PagefileUsage is the committed
        // private memory.
        u.committedBytes = counters.PrivateUsage != 0 ? counters.PrivateUsage
                                                      : counters.PagefileUsage;
    return u;
}
