/* SPDX-License-Identifier: MIT */
/* MERVANE.dll loaded as a host loads it, and each export called through the
 * probe. */
#include "host.h"

typedef int32_t(__stdcall* CancelReaderFn)(void);
typedef int32_t(__stdcall* CloseWMAWriteFileFn)(void);
typedef void(__stdcall* EnumWMAFormatFn)(FormatCallback);
typedef int32_t(__stdcall* GetWmaFileInfoFn)(const char*, AudioFormatInfo*);
typedef int32_t(__stdcall* GetWmaSongInfoFn)(const char*, SongInfo*);
typedef int32_t(__stdcall* GoGoGoReaderFn)(const char*, uint32_t, int32_t, SampleCallback);
typedef int32_t(__stdcall* InitWMAWriteFileFn)(const char*, const AudioFormatInfo*);
typedef int32_t(__stdcall* SetWmaSongInfoFn)(const char*, const SongInfo*);
typedef int32_t(__stdcall* WriteWMAFileFn)(const void*, uint32_t);

/* The prototypes agree with the export header. */
_Static_assert(__builtin_types_compatible_p(CancelReaderFn, __typeof__(&CancelReader)), "");
_Static_assert(__builtin_types_compatible_p(CloseWMAWriteFileFn, __typeof__(&CloseWMAWriteFile)),
               "");
_Static_assert(__builtin_types_compatible_p(EnumWMAFormatFn, __typeof__(&EnumWMAFormat)), "");
_Static_assert(__builtin_types_compatible_p(GetWmaFileInfoFn, __typeof__(&GetWmaFileInfo)), "");
_Static_assert(__builtin_types_compatible_p(GetWmaSongInfoFn, __typeof__(&GetWmaSongInfo)), "");
_Static_assert(__builtin_types_compatible_p(GoGoGoReaderFn, __typeof__(&GoGoGoReader)), "");
_Static_assert(__builtin_types_compatible_p(InitWMAWriteFileFn, __typeof__(&InitWMAWriteFile)), "");
_Static_assert(__builtin_types_compatible_p(SetWmaSongInfoFn, __typeof__(&SetWmaSongInfo)), "");
_Static_assert(__builtin_types_compatible_p(WriteWMAFileFn, __typeof__(&WriteWMAFile)), "");

static struct {
    CancelReaderFn CancelReader;
    CloseWMAWriteFileFn CloseWMAWriteFile;
    EnumWMAFormatFn EnumWMAFormat;
    GetWmaFileInfoFn GetWmaFileInfo;
    GetWmaSongInfoFn GetWmaSongInfo;
    GoGoGoReaderFn GoGoGoReader;
    InitWMAWriteFileFn InitWMAWriteFile; /* found, never called: Wine has no file sink */
    SetWmaSongInfoFn SetWmaSongInfo;
    WriteWMAFileFn WriteWMAFile;
} gApi;

#define WORD_OF(p) ((Word)(uintptr_t)(p))

int32_t CallCancelReader(void) {
    return (int32_t)Invoke("CancelReader", (AnyFunction)gApi.CancelReader, NULL, 0);
}
int32_t CallCloseWMAWriteFile(void) {
    return (int32_t)Invoke("CloseWMAWriteFile", (AnyFunction)gApi.CloseWMAWriteFile, NULL, 0);
}
void CallEnumWMAFormat(FormatCallback callback) {
    Word args[1] = {WORD_OF(callback)};
    Invoke("EnumWMAFormat", (AnyFunction)gApi.EnumWMAFormat, args, 1);
}
int32_t CallGetWmaFileInfo(const char* path, AudioFormatInfo* info) {
    Word args[2] = {WORD_OF(path), WORD_OF(info)};
    return (int32_t)Invoke("GetWmaFileInfo", (AnyFunction)gApi.GetWmaFileInfo, args, 2);
}
int32_t CallGetWmaSongInfo(const char* path, SongInfo* info) {
    Word args[2] = {WORD_OF(path), WORD_OF(info)};
    return (int32_t)Invoke("GetWmaSongInfo", (AnyFunction)gApi.GetWmaSongInfo, args, 2);
}
int32_t CallGoGoGoReader(const char* path, uint32_t startMs, int32_t userClock,
                         SampleCallback callback) {
    Word args[4] = {WORD_OF(path), startMs, (Word)(uint32_t)userClock, WORD_OF(callback)};
    return (int32_t)Invoke("GoGoGoReader", (AnyFunction)gApi.GoGoGoReader, args, 4);
}
int32_t CallSetWmaSongInfo(const char* path, const SongInfo* info) {
    Word args[2] = {WORD_OF(path), WORD_OF(info)};
    return (int32_t)Invoke("SetWmaSongInfo", (AnyFunction)gApi.SetWmaSongInfo, args, 2);
}
int32_t CallWriteWMAFile(const void* pcm, uint32_t byteCount) {
    Word args[2] = {WORD_OF(pcm), byteCount};
    return (int32_t)Invoke("WriteWMAFile", (AnyFunction)gApi.WriteWMAFile, args, 2);
}

static const char* const kExportNames[9] = {
    "CancelReader", "CloseWMAWriteFile", "EnumWMAFormat",  "GetWmaFileInfo", "GetWmaSongInfo",
    "GoGoGoReader", "InitWMAWriteFile",  "SetWmaSongInfo", "WriteWMAFile"};

HMODULE gModule;

int LoadApi(const char* path) {
    HMODULE module = LoadLibraryA(path);
    gModule = module;
    if (module == NULL) {
        Fail("LoadLibrary(%s) failed with error %lu", path, GetLastError());
        return 0;
    }
    FARPROC found[9];
    int complete = 1;
    for (int i = 0; i < 9; ++i) {
        found[i] = GetProcAddress(module, kExportNames[i]);
        if (found[i] == NULL) {
            Fail("GetProcAddress(%s) found nothing", kExportNames[i]);
            complete = 0;
            continue;
        }
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(i + 1));
        CHECK(byOrdinal == found[i], "ordinal %d is not %s", i + 1, kExportNames[i]);
    }
    if (!complete) return 0;
    gApi.CancelReader = (CancelReaderFn)(AnyFunction)found[0];
    gApi.CloseWMAWriteFile = (CloseWMAWriteFileFn)(AnyFunction)found[1];
    gApi.EnumWMAFormat = (EnumWMAFormatFn)(AnyFunction)found[2];
    gApi.GetWmaFileInfo = (GetWmaFileInfoFn)(AnyFunction)found[3];
    gApi.GetWmaSongInfo = (GetWmaSongInfoFn)(AnyFunction)found[4];
    gApi.GoGoGoReader = (GoGoGoReaderFn)(AnyFunction)found[5];
    gApi.InitWMAWriteFile = (InitWMAWriteFileFn)(AnyFunction)found[6];
    gApi.SetWmaSongInfo = (SetWmaSongInfoFn)(AnyFunction)found[7];
    gApi.WriteWMAFile = (WriteWMAFileFn)(AnyFunction)found[8];
    return 1;
}

int UnderWine(void) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}
