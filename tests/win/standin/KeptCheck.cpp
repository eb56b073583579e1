// What a driver that kept cancelled operations finds when it completes them at last.
#include "StandIn.h"

void CompleteKept(KeptOperations& kept, int* intact, int* open)
{
    using Compare = BOOL(WINAPI*)(HANDLE, HANDLE);
    const auto same = reinterpret_cast<Compare>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CompareObjectHandles")));
    *intact = *open = 0;
    for (LONG i = 0; i < kept.count; ++i) {
        KeptOperations::Kept& k = kept.kept[i];
        *intact += k.record->hEvent == k.event ? 1 : 0;
        *open += same != nullptr && same(k.event, k.own) ? 1 : 0;  // the channel's handle is still that event
        *k.target = 0;  // as a late driver writes the byte or the event word
        k.record->InternalHigh = 0;
        k.record->Internal = 0xC0000120L;  // STATUS_CANCELLED
        SetEvent(k.own);
        CloseHandle(k.own);
    }
    kept.count = 0;
}
