/* SPDX-License-Identifier: MIT */
/* Numbered kill points (kill_points.c). */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Kills the process just before its `step`-th step (counting from 1). */
void ArmKillPoint(long step);
/* The steps made so far. */
long KillPointSteps(void);

#ifdef __cplusplus
}
#endif
