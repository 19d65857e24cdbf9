// SPDX-License-Identifier: MIT
// Windows entry point: COM is initialised for the loading thread and for every
// thread that attaches later, and uninitialised for threads that detach. The
// library's static objects are built by the runtime before the process attach
// arrives here, and torn down by its exit handlers after the process detach.
#ifdef _WIN32
#include "platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
        case DLL_THREAD_ATTACH:
            CoInitialize(nullptr);
            break;
        case DLL_THREAD_DETACH:
            CoUninitialize();
            break;
        default:
            break;
    }
    return TRUE;
}
#endif
