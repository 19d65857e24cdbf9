/* SPDX-License-Identifier: MIT */
/* MERVANE.dll loaded as a host loads it, and each export called through the
 * probe. */
#include "host.h"

/* The nine exports in ordinal order. Each call passes its arguments through
 * the probe as words: the header's prototypes give their number and order. */
enum {
    kCancelReader,
    kCloseWMAWriteFile,
    kEnumWMAFormat,
    kGetWmaFileInfo,
    kGetWmaSongInfo,
    kGoGoGoReader,
    kInitWMAWriteFile, /* found, never called: Wine has no file sink */
    kSetWmaSongInfo,
    kWriteWMAFile,
    kExports
};
static const char* const kExportNames[kExports] = {
    "CancelReader", "CloseWMAWriteFile", "EnumWMAFormat",  "GetWmaFileInfo", "GetWmaSongInfo",
    "GoGoGoReader", "InitWMAWriteFile",  "SetWmaSongInfo", "WriteWMAFile"};
static FARPROC gExports[kExports];

#define WORD_OF(p) ((Word)(uintptr_t)(p))
#define CALL(which, ...)                                                                       \
    (int32_t)                                                                                  \
        Invoke(kExportNames[which], (AnyFunction)gExports[which], (const Word[]){__VA_ARGS__}, \
               sizeof((const Word[]){__VA_ARGS__}) / sizeof(Word))

int32_t CallCancelReader(void) {
    return (int32_t)Invoke("CancelReader", (AnyFunction)gExports[kCancelReader], NULL, 0);
}
int32_t CallCloseWMAWriteFile(void) {
    return (int32_t)Invoke("CloseWMAWriteFile", (AnyFunction)gExports[kCloseWMAWriteFile], NULL, 0);
}
void CallEnumWMAFormat(FormatCallback callback) {
    (void)CALL(kEnumWMAFormat, WORD_OF(callback));
}
int32_t CallGetWmaFileInfo(const char* path, AudioFormatInfo* info) {
    return CALL(kGetWmaFileInfo, WORD_OF(path), WORD_OF(info));
}
int32_t CallGetWmaSongInfo(const char* path, SongInfo* info) {
    return CALL(kGetWmaSongInfo, WORD_OF(path), WORD_OF(info));
}
int32_t CallGoGoGoReader(const char* path, uint32_t startMs, int32_t userClock,
                         SampleCallback callback) {
    return CALL(kGoGoGoReader, WORD_OF(path), startMs, (Word)(uint32_t)userClock,
                WORD_OF(callback));
}
int32_t CallSetWmaSongInfo(const char* path, const SongInfo* info) {
    return CALL(kSetWmaSongInfo, WORD_OF(path), WORD_OF(info));
}
int32_t CallWriteWMAFile(const void* pcm, uint32_t byteCount) {
    return CALL(kWriteWMAFile, WORD_OF(pcm), byteCount);
}

HMODULE gModule;

int LoadApi(const char* path) {
    HMODULE module = LoadLibraryA(path);
    gModule = module;
    if (module == NULL) {
        Fail("LoadLibrary(%s) failed with error %lu", path, GetLastError());
        return 0;
    }
    int complete = 1;
    for (int i = 0; i < kExports; ++i) {
        gExports[i] = GetProcAddress(module, kExportNames[i]);
        if (gExports[i] == NULL) {
            Fail("GetProcAddress(%s) found nothing", kExportNames[i]);
            complete = 0;
            continue;
        }
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(i + 1));
        CHECK(byOrdinal == gExports[i], "ordinal %d is not %s", i + 1, kExportNames[i]);
    }
    return complete;
}

int UnderWine(void) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}
