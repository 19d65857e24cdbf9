/* SPDX-License-Identifier: MIT */
/*
 * Stands in for libhwy.so.1 under valgrind only. libavcodec loads libjxl, which
 * loads libhwy, whose initialiser measures its timer with RDTSCP; valgrind
 * cannot run that instruction on a CPU that does not announce it and kills the
 * program before main. Decoding WMA never calls into libjxl, so these five
 * entry points libjxl imports are enough: the allocation pair works, the rest
 * abort if they are ever reached. bench/run.sh puts this library first on the
 * search path of both programs it counts instructions of, so both load it.
 */
#include <stdint.h>
#include <stdlib.h>

void* AllocateAlignedBytes(size_t size, void* alloc,
                           void* opaque) __asm__("_ZN3hwy20AllocateAlignedBytesEmPFPvS0_mES0_");
void FreeAlignedBytes(const void* aligned, void* free_ptr,
                      void* opaque) __asm__("_ZN3hwy16FreeAlignedBytesEPKvPFvPvS2_ES2_");
void DeleteAlignedArray(void* aligned, void* free_ptr, void* opaque, void* deleter) __asm__(
    "_ZN3hwy14AlignedDeleter18DeleteAlignedArrayEPvPFvS1_S1_ES1_PFvS1_mE");
uint32_t SupportedTargets(void) __asm__("_ZN3hwy16SupportedTargetsEv");
void* GetChosenTarget(void) __asm__("_ZN3hwy15GetChosenTargetEv");

void* AllocateAlignedBytes(size_t size, void* alloc, void* opaque) {
    (void)alloc;
    (void)opaque;
    return aligned_alloc(128, (size + 127) / 128 * 128);
}

void FreeAlignedBytes(const void* aligned, void* free_ptr, void* opaque) {
    (void)free_ptr;
    (void)opaque;
    free((void*)aligned);
}

void DeleteAlignedArray(void* aligned, void* free_ptr, void* opaque, void* deleter) {
    (void)aligned;
    (void)free_ptr;
    (void)opaque;
    (void)deleter;
    abort();
}

uint32_t SupportedTargets(void) {
    abort();
}

void* GetChosenTarget(void) {
    abort();
}
