// SPDX-License-Identifier: MIT
#include "transfer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "audio_file.h"
#include "catalog.h"
#include "cli.h"
#include "mervane.h"
#include "progress.h"
#include "protection.h"

namespace tool {
namespace {

// What a decode's SampleCallback does with each block, and how the main thread
// waits for the end call.
struct DecodeSink {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    bool failed = false;
    uint64_t bytes = 0;
    uint32_t lastMs = 0;
    AudioOutput* file = nullptr;  // decode: the WAV or FLAC file
    bool toEncoder = false;       // transcode: each block goes to WriteWMAFile
};
// One decode at a time runs in the library, so one sink at a time suffices.
DecodeSink* g_sink = nullptr;

int32_t MERVANE_CALL OnSamples(const void* data, uint32_t byteCount, uint32_t timeMs) {
    DecodeSink& sink = *g_sink;
    if (data == nullptr && byteCount == 0 && timeMs == 0) {
        std::lock_guard<std::mutex> lock(sink.mutex);
        sink.done = true;
        sink.ended.notify_all();
        return 0;
    }
    bool ok = true;
    if (sink.file != nullptr)
        ok = sink.file->Write(static_cast<const int16_t*>(data), byteCount / 2);
    if (sink.toEncoder) ok = WriteWMAFile(data, byteCount) == 1;
    std::lock_guard<std::mutex> lock(sink.mutex);
    sink.failed = sink.failed || !ok;
    sink.bytes += byteCount;
    sink.lastMs = timeMs;
    return 0;
}

// Runs a decode to its end call, with the progress line; false if it did not
// start. Whether every block was taken is in `sink.failed`.
bool RunDecode(const std::string& path, uint32_t startMs, const AudioFormatInfo& info,
               DecodeSink& sink) {
    g_sink = &sink;
    const uint64_t lengthMs = info.durationMs > startMs ? info.durationMs - startMs : 0;
    ProgressLine progress(lengthMs);
    if (GoGoGoReader(path.c_str(), startMs, 1, OnSamples) != 1) return false;
    const auto done = [&] { return sink.lastMs > startMs ? sink.lastMs - startMs : 0u; };
    std::unique_lock<std::mutex> lock(sink.mutex);
    while (!sink.ended.wait_for(lock, std::chrono::milliseconds(100), [&] { return sink.done; }))
        progress.Update(done());
    const uint64_t bytesPerSecond = uint64_t(info.sampleRate) * info.channels * 2;
    progress.Finish(bytesPerSecond == 0 ? done() : sink.bytes * 1000 / bytesPerSecond);
    return true;
}

// Weighs the audio a decode gave against the duration the file's header
// states: none at all is a failure, more than a second astray a warning.
int CheckReceived(const std::string& in, const AudioFormatInfo& info, uint32_t startMs,
                  uint64_t bytes) {
    if (bytes == 0) return Fail(kFailed, in + " gave no audio");
    const uint64_t bytesPerSecond = uint64_t(info.sampleRate) * info.channels * 2;
    const uint64_t receivedMs = bytesPerSecond == 0 ? 0 : bytes * 1000 / bytesPerSecond;
    const uint64_t expectedMs = info.durationMs > startMs ? info.durationMs - startMs : 0;
    const uint64_t apart =
        receivedMs > expectedMs ? receivedMs - expectedMs : expectedMs - receivedMs;
    if (info.durationMs != 0 && apart > 1000)
        Warn(in + " gave " + Seconds(receivedMs) + " s of audio where its header states " +
             Seconds(expectedMs) + " s");
    return kOk;
}

bool ReadWmaInfo(const std::string& in, AudioFormatInfo& info) {
    info = AudioFormatInfo{};
    return GetWmaFileInfo(in.c_str(), &info) == 1;
}

bool BeginEncoding(const std::string& out, uint32_t sampleRate, uint32_t channels, uint32_t kbps) {
    AudioFormatInfo request{};
    request.sampleRate = sampleRate;
    request.channels = channels;
    request.bitrateKbps = kbps;
    return InitWMAWriteFile(out.c_str(), &request) == 1;
}

// Finishes an encode begun with BeginEncoding; what failed first is reported,
// and a file that holds nothing useful is removed.
int FinishEncoding(const std::string& out, bool fed, int received, const std::string& what) {
    const int32_t closed = CloseWMAWriteFile();
    int result = kOk;
    if (!fed)
        result = Fail(kFailed, what + " failed");
    else if (received != kOk)
        result = received;
    else if (closed != 0)
        result = Fail(kFailed, "finishing " + out + " failed");
    if (result != kOk) std::remove(out.c_str());
    return result;
}

int EncodeAudioFile(AudioInput& input, const std::string& in, const std::string& out,
                    uint32_t kbps) {
    const uint32_t rate = input.SampleRate(), channels = input.Channels();
    if (const int check = CheckEncodable(rate, channels, kbps)) return check;
    if (!BeginEncoding(out, rate, channels, kbps))
        return Fail(kFailed, "cannot start writing " + out);
    const auto ms = [rate](uint64_t frames) { return frames * 1000 / rate; };
    ProgressLine progress(ms(input.Frames()));
    const size_t blockFrames = std::max<size_t>(rate / 10, 1);  // a tenth of a second
    std::vector<int16_t> block(blockFrames * channels);
    uint64_t done = 0;
    bool ok = true;
    for (size_t got; ok && (got = input.Read(block.data(), blockFrames)) > 0;) {
        ok = WriteWMAFile(block.data(), static_cast<uint32_t>(got * channels * 2)) == 1;
        done += got;
        progress.Update(ms(done));
    }
    progress.Finish(ms(done));
    const int received = done == 0 ? Fail(kFailed, in + " holds no audio") : kOk;
    return FinishEncoding(out, ok, received, "encoding " + in);
}

int TranscodeWma(const std::string& in, const AudioFormatInfo& info, const std::string& out,
                 uint32_t kbps) {
    if (const int check = CheckEncodable(info.sampleRate, info.channels, kbps)) return check;
    if (!BeginEncoding(out, info.sampleRate, info.channels, kbps))
        return Fail(kFailed, "cannot start writing " + out);
    DecodeSink sink;
    sink.toEncoder = true;
    const bool decoded = RunDecode(in, 0, info, sink);
    const int received = decoded ? CheckReceived(in, info, 0, sink.bytes) : kOk;
    return FinishEncoding(out, decoded && !sink.failed, received, "transcoding " + in);
}

}  // namespace

int Decode(const std::string& in, const std::string& out, uint32_t startMs, bool flac) {
    if (!IsReadableFile(in)) return Fail(kNoFile, "cannot read " + in);
    AudioFormatInfo info;
    if (!ReadWmaInfo(in, info)) return Unreadable(in);
    AudioOutput file;
    std::string error;
    if (!file.Create(out, info.sampleRate, info.channels, flac, error))
        return Fail(kFailed, "cannot create " + out + ": " + error);
    DecodeSink sink;
    sink.file = &file;
    const bool decoded = RunDecode(in, startMs, info, sink);
    const bool written = file.Close() && !sink.failed;
    int result = decoded ? CheckReceived(in, info, startMs, sink.bytes)
                         : Fail(kFailed, "decoding " + in + " failed");
    if (result == kOk && !written)
        result = Fail(kFailed, "writing " + (out == "-" ? "standard output" : out) + " failed");
    // What went down a pipe is gone; a file named "-" is not ours to remove.
    if (result != kOk && out != "-") std::remove(out.c_str());
    return result;
}

int Encode(const std::string& in, const std::string& out, uint32_t kbps) {
    const bool fromPipe = in == "-";
    if (!fromPipe && !IsReadableFile(in)) return Fail(kNoFile, "cannot read " + in);
    AudioInput input;
    std::string error;
    if (input.Open(in, error))
        return EncodeAudioFile(input, fromPipe ? "standard input" : in, out, kbps);
    // The library reads WMA files by name only.
    if (fromPipe)
        return Fail(kUnsupported, "standard input is no audio libsndfile reads (" + error +
                                      "); a WMA file must be given by its name");
    AudioFormatInfo info;
    if (ReadWmaInfo(in, info)) return TranscodeWma(in, info, out, kbps);
    if (LooksProtected(in)) return Unreadable(in);
    return Fail(kUnsupported, in + " is neither an audio file libsndfile reads (" + error +
                                  ") nor a Windows Media Audio file");
}

}  // namespace tool
