/* SPDX-License-Identifier: MIT */
/* What the host's sample callback received, and the checks on it. */
#include "host.h"

Capture gCapture;

void CheckNoStrayCalls(void) {
    EnterCriticalSection(&gCapture.lock);
    CHECK(gCapture.afterEnd == 0, "%u calls after a decode's end call or for a refused decode",
          (unsigned)gCapture.afterEnd);
    gCapture.afterEnd = 0;
    LeaveCriticalSection(&gCapture.lock);
}

void CaptureRefused(void) {
    EnterCriticalSection(&gCapture.lock);
    gCapture.refused = 1;
    LeaveCriticalSection(&gCapture.lock);
}

void CaptureReset(void) {
    CheckNoStrayCalls();
    EnterCriticalSection(&gCapture.lock);
    free(gCapture.pcm);
    gCapture.pcm = NULL;
    gCapture.size = gCapture.capacity = 0;
    gCapture.blocks = gCapture.firstTime = gCapture.lastTime = 0;
    gCapture.afterEnd = gCapture.backwards = gCapture.malformed = 0;
    gCapture.endCalls = gCapture.refused = 0;
    ResetEvent(gCapture.block);
    ResetEvent(gCapture.ended);
    LeaveCriticalSection(&gCapture.lock);
}

/* Takes the captured PCM out of the capture. */
unsigned char* CaptureTake(size_t* size) {
    EnterCriticalSection(&gCapture.lock);
    unsigned char* pcm = gCapture.pcm;
    *size = gCapture.size;
    gCapture.pcm = NULL;
    gCapture.size = gCapture.capacity = 0;
    LeaveCriticalSection(&gCapture.lock);
    return pcm;
}

int32_t __stdcall ReceiveSamples(const void* data, uint32_t byteCount, uint32_t timeMs) {
    EnterCriticalSection(&gCapture.lock);
    if (gCapture.endCalls > 0 || gCapture.refused) ++gCapture.afterEnd;
    if (data == NULL && byteCount == 0 && timeMs == 0) {
        ++gCapture.endCalls;
        SetEvent(gCapture.ended);
    } else if (data == NULL || byteCount == 0) {
        ++gCapture.malformed;
    } else {
        if (gCapture.blocks == 0) {
            gCapture.firstTime = timeMs;
        } else if (timeMs < gCapture.lastTime) {
            ++gCapture.backwards;
        }
        gCapture.lastTime = timeMs;
        ++gCapture.blocks;
        if (gCapture.size + byteCount > gCapture.capacity) {
            size_t capacity = (gCapture.size + byteCount) * 2;
            unsigned char* grown = realloc(gCapture.pcm, capacity);
            if (grown == NULL) {
                ++gCapture.malformed;
                LeaveCriticalSection(&gCapture.lock);
                return 0;
            }
            gCapture.pcm = grown;
            gCapture.capacity = capacity;
        }
        memcpy(gCapture.pcm + gCapture.size, data, byteCount);
        gCapture.size += byteCount;
        SetEvent(gCapture.block);
    }
    LeaveCriticalSection(&gCapture.lock);
    return 1;
}

uint32_t CapturedBlocks(void) {
    EnterCriticalSection(&gCapture.lock);
    uint32_t blocks = gCapture.blocks;
    LeaveCriticalSection(&gCapture.lock);
    return blocks;
}

/* Whether more than `seen` blocks arrive within the decode bound. A block
 * that comes between the reset and the count is counted; one after it sets
 * the event. */
int MoreBlocksArrive(uint32_t seen) {
    ResetEvent(gCapture.block);
    return CapturedBlocks() > seen ||
           WaitForSingleObject(gCapture.block, kDecodeWaitMs) == WAIT_OBJECT_0;
}

int CheckEndedOnce(const char* what, DWORD waitMs) {
    DWORD waited = WaitForSingleObject(gCapture.ended, waitMs);
    CHECK(waited == WAIT_OBJECT_0, "%s: no end call within %lu ms", what, (unsigned long)waitMs);
    EnterCriticalSection(&gCapture.lock);
    int once = gCapture.endCalls == 1;
    CHECK(once, "%s: %ld end calls", what, (long)gCapture.endCalls);
    CHECK(gCapture.afterEnd == 0, "%s: %u calls after the end call", what,
          (unsigned)gCapture.afterEnd);
    CHECK(gCapture.malformed == 0, "%s: %u malformed blocks", what, (unsigned)gCapture.malformed);
    CHECK(gCapture.backwards == 0, "%s: block times went back %u times", what,
          (unsigned)gCapture.backwards);
    LeaveCriticalSection(&gCapture.lock);
    return once;
}

/* Decodes the whole file on the library's clock; returns 1 if the decode ran. */
int DecodeWhole(const char* path, uint32_t startMs, const char* what) {
    CaptureReset();
    int32_t started = CallGoGoGoReader(path, startMs, 1, ReceiveSamples);
    CHECK(started == 1, "%s: GoGoGoReader returned %ld", what, (long)started);
    if (started != 1) {
        CaptureRefused();
        return 0;
    }
    /* A slow machine (an emulated one) may take longer than the bound for the
     * whole decode: only a decode that delivers nothing for that long fails. */
    for (uint32_t seen = CapturedBlocks();;) {
        if (WaitForSingleObject(gCapture.ended, kDecodeWaitMs) == WAIT_OBJECT_0) break;
        uint32_t now = CapturedBlocks();
        if (now == seen) break;
        seen = now;
    }
    int once = CheckEndedOnce(what, kDecodeWaitMs);
    CHECK(gCapture.blocks > 0 && gCapture.size > 0, "%s: no PCM delivered", what);
    return once;
}

void WritePcm(const char* base, uint32_t startMs) {
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%s-%u.pcm", base, (unsigned)startMs);
    FILE* out = fopen(name, "wb");
    if (out == NULL || fwrite(gCapture.pcm, 1, gCapture.size, out) != gCapture.size) {
        Fail("cannot write %s", name);
    }
    if (out != NULL) fclose(out);
}

unsigned char* ReadWholeFile(const char* path, size_t* size) {
    *size = 0;
    FILE* in = fopen(path, "rb");
    if (in == NULL) return NULL;
    unsigned char* data = NULL;
    size_t capacity = 0;
    for (;;) {
        if (*size == capacity) {
            capacity = capacity ? capacity * 2 : 65536;
            unsigned char* grown = realloc(data, capacity);
            if (grown == NULL) break;
            data = grown;
        }
        size_t got = fread(data + *size, 1, capacity - *size, in);
        if (got == 0) break;
        *size += got;
    }
    fclose(in);
    return data;
}

/* ---- Comparing PCM ------------------------------------------------------------------- */

/* Two decodes of one file by Wine's decoder are not bit-identical: the first
 * frame (about 46 ms) may come out differently from run to run, and later
 * samples may be up to 2 apart. Beyond that, the PCM must match. */
enum { kLooseMs = 50, kSampleTolerance = 2 };

void CheckSimilarPcm(const char* what, const unsigned char* got, size_t gotSize,
                     const unsigned char* want, size_t wantSize, PcmFormat format) {
    CHECK(gotSize == wantSize, "%s: %u bytes, expected %u", what, (unsigned)gotSize,
          (unsigned)wantSize);
    size_t loose = (size_t)format.rate * format.channels * 2 * kLooseMs / 1000;
    size_t samples = (gotSize < wantSize ? gotSize : wantSize) / 2;
    size_t outside = 0;
    size_t first = 0;
    int largest = 0;
    for (size_t i = loose / 2; i < samples; ++i) {
        int16_t a, b;
        memcpy(&a, got + 2 * i, 2);
        memcpy(&b, want + 2 * i, 2);
        int diff = abs((int)a - (int)b);
        if (diff > largest) largest = diff;
        if (diff > kSampleTolerance && outside++ == 0) first = i;
    }
    CHECK(samples > loose / 2, "%s: only %u bytes", what, (unsigned)gotSize);
    CHECK(outside == 0,
          "%s: %u samples after the first %d ms differ by more than %d (largest %d, first at byte "
          "%u)",
          what, (unsigned)outside, kLooseMs, kSampleTolerance, largest, (unsigned)(2 * first));
    if (outside == 0 && gotSize == wantSize) {
        printf("%s: %u bytes, largest difference after the first %d ms: %d\n", what,
               (unsigned)gotSize, kLooseMs, largest);
    }
}

/* Compares the captured PCM with what the platform's reader gave from startMs. */
void CheckAgainstReference(const char* refBase, uint32_t startMs, PcmFormat format) {
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%s-%u.pcm", refBase, (unsigned)startMs);
    size_t size = 0;
    unsigned char* reference = ReadWholeFile(name, &size);
    CHECK(reference != NULL && size > 0, "no reference PCM in %s", name);
    if (reference != NULL && size > 0) {
        char what[64];
        snprintf(what, sizeof what, "PCM from %u ms against the reader's", (unsigned)startMs);
        CheckSimilarPcm(what, gCapture.pcm, gCapture.size, reference, size, format);
    }
    free(reference);
}
