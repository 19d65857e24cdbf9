/* SPDX-License-Identifier: MIT */
/*
 * Every export of MERVANE.dll, linked through MERVANE.lib by an MSVC-style
 * linker with no C runtime. Only its import table is read; it is never run.
 */
#include "mervane.h"

int HostEntry(void) {
    EnumWMAFormat(0);
    return GetWmaFileInfo(0, 0) + GetWmaSongInfo(0, 0) + SetWmaSongInfo(0, 0) +
           GoGoGoReader(0, 0, 0, 0) + CancelReader() + InitWMAWriteFile(0, 0) + WriteWMAFile(0, 0) +
           CloseWMAWriteFile();
}
