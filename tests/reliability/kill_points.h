/* SPDX-License-Identifier: MIT */
/* Numbered kill points (kill_points.c). */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Kills the process just before its `step`-th step (counting from 1). */
void ArmKillPoint(long step);
/* Stops the process (SIGSTOP) just before its `step`-th step instead. */
void ArmStopPoint(long step);
/* Makes O_TMPFILE fail from now on (EOPNOTSUPP), as on FAT or NFS. */
void RefuseUnnamedFiles(void);
/* The steps made so far. */
long KillPointSteps(void);

#ifdef __cplusplus
}
#endif
