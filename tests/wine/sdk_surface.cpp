// SPDX-License-Identifier: MIT
// Holds the library's Format SDK declarations against the cross toolchain's own.
//
// Identifiers, record layouts and argument sizes are compared at compile time.
// Slot indices cannot be read in a constant expression, so every pair of member
// pointers (ours, the toolchain's) is constant-initialised into the section
// .wmslots, which check_slots.sh reads from the object file: with GCC's ABI a
// pointer to a virtual member function holds 1 + the byte offset of its slot in
// the first word and 0 in the second, so both words of each pair must agree.
// The two file sink interfaces, which the toolchain lacks, are held against the
// platform's published slot numbers instead.
// Ours first: it brings in the Windows headers the toolchain's SDK headers need.
// clang-format off
#include "wmsdk.h"

#include <mmreg.h>
#include <wmsbuffer.h>
#include <wmsdkidl.h>
// clang-format on

#include <cstddef>
#include <cstdint>

namespace {

// ---- Identifiers --------------------------------------------------------------

constexpr bool SameGuid(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}

#define SAME_IID(I) static_assert(SameGuid(wm::IID_##I, __uuidof(::I)), "IID of " #I)
SAME_IID(IUnknown);
SAME_IID(INSSBuffer);
SAME_IID(IWMStatusCallback);
SAME_IID(IWMReaderCallback);
SAME_IID(IWMReaderCallbackAdvanced);
SAME_IID(IWMMediaProps);
SAME_IID(IWMOutputMediaProps);
SAME_IID(IWMInputMediaProps);
SAME_IID(IWMReader);
SAME_IID(IWMReaderAdvanced);
SAME_IID(IWMHeaderInfo);
SAME_IID(IWMMetadataEditor);
SAME_IID(IWMStreamConfig);
SAME_IID(IWMProfile);
SAME_IID(IWMProfileManager);
SAME_IID(IWMCodecInfo);
SAME_IID(IWMWriter);
SAME_IID(IWMWriterSink);
SAME_IID(IWMWriterAdvanced);
#undef SAME_IID

// The toolchain declares these two identifiers only as data; the values are the
// platform's published ones.
static_assert(
    SameGuid(wm::IID_IWMWriterFileSink,
             {0x96406BE5, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}}),
    "IID of IWMWriterFileSink");
static_assert(
    SameGuid(wm::IID_IWMWriterFileSink2,
             {0x14282BA7, 0x4AEF, 0x4205, {0x8C, 0xE5, 0xC2, 0x29, 0x03, 0x5A, 0x05, 0xBC}}),
    "IID of IWMWriterFileSink2");

// ---- Records ------------------------------------------------------------------

// Each record's size (and the media type's alignment) and every field's offset
// and size.
// clang-format off
#define MEDIA_TYPE_FIELDS(X) X(majortype) X(subtype) X(bFixedSizeSamples) \
    X(bTemporalCompression) X(lSampleSize) X(formattype) X(pUnk) X(cbFormat) X(pbFormat)
#define WAVE_FORMAT_FIELDS(X) X(wFormatTag) X(nChannels) X(nSamplesPerSec) X(nAvgBytesPerSec) \
    X(nBlockAlign) X(wBitsPerSample) X(cbSize)
// clang-format on
#define SAME_FIELD(R, f)                                                                        \
    static_assert(offsetof(wm::R, f) == offsetof(::R, f) && sizeof(wm::R::f) == sizeof(::R::f), \
                  #R "::" #f " has the platform's offset and size");
#define SAME_MEDIA_TYPE_FIELD(f) SAME_FIELD(WM_MEDIA_TYPE, f)
#define SAME_WAVE_FORMAT_FIELD(f) SAME_FIELD(WAVEFORMATEX, f)
MEDIA_TYPE_FIELDS(SAME_MEDIA_TYPE_FIELD)
WAVE_FORMAT_FIELDS(SAME_WAVE_FORMAT_FIELD)
static_assert(sizeof(wm::WM_MEDIA_TYPE) == sizeof(::WM_MEDIA_TYPE), "WM_MEDIA_TYPE size");
static_assert(alignof(wm::WM_MEDIA_TYPE) == alignof(::WM_MEDIA_TYPE), "WM_MEDIA_TYPE alignment");
static_assert(sizeof(wm::WAVEFORMATEX) == sizeof(::WAVEFORMATEX), "WAVEFORMATEX size");

// ---- Methods --------------------------------------------------------------------

// Stack bytes of a method's arguments besides `this`: each argument takes whole
// stack words (4 bytes on 32-bit Windows, 8 on 64-bit). On 32-bit Windows a slot
// in the right place with the wrong argument sizes unbalances the stack just as
// surely as a slot out of place; on 64-bit Windows it passes wrong values.
constexpr unsigned kWord = sizeof(void*);

template <typename C, typename R, typename... A>
constexpr unsigned ArgBytes(R (__stdcall C::*)(A...)) {
    return (0u + ... + ((sizeof(A) + kWord - 1u) & ~(kWord - 1u)));
}

template <typename C, typename R, typename... A>
constexpr unsigned ResultBytes(R (__stdcall C::*)(A...)) {
    return sizeof(R);
}

template <typename Ours, typename Theirs>
struct SlotPair {
    Ours ours;
    Theirs theirs;
};

template <typename Ours>
struct SlotExpected {
    Ours ours;
    std::uintptr_t expected;  // 1 + the byte offset of the platform's slot
    std::uintptr_t zero;
};

// Every method each interface declares itself, in the platform's order. The
// IUnknown methods are shared by both sets of declarations.
#define INSSBUFFER_METHODS(X)   \
    X(INSSBuffer, GetLength)    \
    X(INSSBuffer, SetLength)    \
    X(INSSBuffer, GetMaxLength) \
    X(INSSBuffer, GetBuffer)    \
    X(INSSBuffer, GetBufferAndLength)

#define STATUS_METHODS(X)                              \
    X(IWMStatusCallback, OnStatus)                     \
    X(IWMReaderCallback, OnSample)                     \
    X(IWMReaderCallbackAdvanced, OnStreamSample)       \
    X(IWMReaderCallbackAdvanced, OnTime)               \
    X(IWMReaderCallbackAdvanced, OnStreamSelection)    \
    X(IWMReaderCallbackAdvanced, OnOutputPropsChanged) \
    X(IWMReaderCallbackAdvanced, AllocateForStream)    \
    X(IWMReaderCallbackAdvanced, AllocateForOutput)

#define MEDIA_PROPS_METHODS(X)                 \
    X(IWMMediaProps, GetType)                  \
    X(IWMMediaProps, GetMediaType)             \
    X(IWMMediaProps, SetMediaType)             \
    X(IWMOutputMediaProps, GetStreamGroupName) \
    X(IWMOutputMediaProps, GetConnectionName)  \
    X(IWMInputMediaProps, GetConnectionName)   \
    X(IWMInputMediaProps, GetGroupName)

#define READER_METHODS(X)                              \
    X(IWMReader, Open)                                 \
    X(IWMReader, Close)                                \
    X(IWMReader, GetOutputCount)                       \
    X(IWMReader, GetOutputProps)                       \
    X(IWMReader, SetOutputProps)                       \
    X(IWMReader, GetOutputFormatCount)                 \
    X(IWMReader, GetOutputFormat)                      \
    X(IWMReader, Start)                                \
    X(IWMReader, Stop)                                 \
    X(IWMReader, Pause)                                \
    X(IWMReader, Resume)                               \
    X(IWMReaderAdvanced, SetUserProvidedClock)         \
    X(IWMReaderAdvanced, GetUserProvidedClock)         \
    X(IWMReaderAdvanced, DeliverTime)                  \
    X(IWMReaderAdvanced, SetManualStreamSelection)     \
    X(IWMReaderAdvanced, GetManualStreamSelection)     \
    X(IWMReaderAdvanced, SetStreamsSelected)           \
    X(IWMReaderAdvanced, GetStreamSelected)            \
    X(IWMReaderAdvanced, SetReceiveSelectionCallbacks) \
    X(IWMReaderAdvanced, GetReceiveSelectionCallbacks) \
    X(IWMReaderAdvanced, SetReceiveStreamSamples)      \
    X(IWMReaderAdvanced, GetReceiveStreamSamples)      \
    X(IWMReaderAdvanced, SetAllocateForOutput)         \
    X(IWMReaderAdvanced, GetAllocateForOutput)         \
    X(IWMReaderAdvanced, SetAllocateForStream)         \
    X(IWMReaderAdvanced, GetAllocateForStream)         \
    X(IWMReaderAdvanced, GetStatistics)                \
    X(IWMReaderAdvanced, SetClientInfo)                \
    X(IWMReaderAdvanced, GetMaxOutputSampleSize)       \
    X(IWMReaderAdvanced, GetMaxStreamSampleSize)       \
    X(IWMReaderAdvanced, NotifyLateDelivery)

#define HEADER_METHODS(X)                 \
    X(IWMHeaderInfo, GetAttributeCount)   \
    X(IWMHeaderInfo, GetAttributeByIndex) \
    X(IWMHeaderInfo, GetAttributeByName)  \
    X(IWMHeaderInfo, SetAttribute)        \
    X(IWMHeaderInfo, GetMarkerCount)      \
    X(IWMHeaderInfo, GetMarker)           \
    X(IWMHeaderInfo, AddMarker)           \
    X(IWMHeaderInfo, RemoveMarker)        \
    X(IWMHeaderInfo, GetScriptCount)      \
    X(IWMHeaderInfo, GetScript)           \
    X(IWMHeaderInfo, AddScript)           \
    X(IWMHeaderInfo, RemoveScript)        \
    X(IWMMetadataEditor, Open)            \
    X(IWMMetadataEditor, Close)           \
    X(IWMMetadataEditor, Flush)

#define PROFILE_METHODS(X)                      \
    X(IWMStreamConfig, GetStreamType)           \
    X(IWMStreamConfig, GetStreamNumber)         \
    X(IWMStreamConfig, SetStreamNumber)         \
    X(IWMStreamConfig, GetStreamName)           \
    X(IWMStreamConfig, SetStreamName)           \
    X(IWMStreamConfig, GetConnectionName)       \
    X(IWMStreamConfig, SetConnectionName)       \
    X(IWMStreamConfig, GetBitrate)              \
    X(IWMStreamConfig, SetBitrate)              \
    X(IWMStreamConfig, GetBufferWindow)         \
    X(IWMStreamConfig, SetBufferWindow)         \
    X(IWMProfile, GetVersion)                   \
    X(IWMProfile, GetName)                      \
    X(IWMProfile, SetName)                      \
    X(IWMProfile, GetDescription)               \
    X(IWMProfile, SetDescription)               \
    X(IWMProfile, GetStreamCount)               \
    X(IWMProfile, GetStream)                    \
    X(IWMProfile, GetStreamByNumber)            \
    X(IWMProfile, RemoveStream)                 \
    X(IWMProfile, RemoveStreamByNumber)         \
    X(IWMProfile, AddStream)                    \
    X(IWMProfile, ReconfigStream)               \
    X(IWMProfile, CreateNewStream)              \
    X(IWMProfile, GetMutualExclusionCount)      \
    X(IWMProfile, GetMutualExclusion)           \
    X(IWMProfile, RemoveMutualExclusion)        \
    X(IWMProfile, AddMutualExclusion)           \
    X(IWMProfile, CreateNewMutualExclusion)     \
    X(IWMProfileManager, CreateEmptyProfile)    \
    X(IWMProfileManager, LoadProfileByID)       \
    X(IWMProfileManager, LoadProfileByData)     \
    X(IWMProfileManager, SaveProfile)           \
    X(IWMProfileManager, GetSystemProfileCount) \
    X(IWMProfileManager, LoadSystemProfile)     \
    X(IWMCodecInfo, GetCodecInfoCount)          \
    X(IWMCodecInfo, GetCodecFormatCount)        \
    X(IWMCodecInfo, GetCodecFormat)

#define WRITER_METHODS(X)                   \
    X(IWMWriter, SetProfileByID)            \
    X(IWMWriter, SetProfile)                \
    X(IWMWriter, SetOutputFilename)         \
    X(IWMWriter, GetInputCount)             \
    X(IWMWriter, GetInputProps)             \
    X(IWMWriter, SetInputProps)             \
    X(IWMWriter, GetInputFormatCount)       \
    X(IWMWriter, GetInputFormat)            \
    X(IWMWriter, BeginWriting)              \
    X(IWMWriter, EndWriting)                \
    X(IWMWriter, AllocateSample)            \
    X(IWMWriter, WriteSample)               \
    X(IWMWriter, Flush)                     \
    X(IWMWriterSink, OnHeader)              \
    X(IWMWriterSink, IsRealTime)            \
    X(IWMWriterSink, AllocateDataUnit)      \
    X(IWMWriterSink, OnDataUnit)            \
    X(IWMWriterSink, OnEndWriting)          \
    X(IWMWriterAdvanced, GetSinkCount)      \
    X(IWMWriterAdvanced, GetSink)           \
    X(IWMWriterAdvanced, AddSink)           \
    X(IWMWriterAdvanced, RemoveSink)        \
    X(IWMWriterAdvanced, WriteStreamSample) \
    X(IWMWriterAdvanced, SetLiveSource)     \
    X(IWMWriterAdvanced, IsRealTime)        \
    X(IWMWriterAdvanced, GetWriterTime)     \
    X(IWMWriterAdvanced, GetStatistics)     \
    X(IWMWriterAdvanced, SetSyncTolerance)  \
    X(IWMWriterAdvanced, GetSyncTolerance)

// The file sinks, with the platform's slot numbers (QueryInterface is slot 0).
#define FILE_SINK_METHODS(X)                   \
    X(IWMWriterFileSink, Open, 8)              \
    X(IWMWriterFileSink2, Start, 9)            \
    X(IWMWriterFileSink2, Stop, 10)            \
    X(IWMWriterFileSink2, IsStopped, 11)       \
    X(IWMWriterFileSink2, GetFileDuration, 12) \
    X(IWMWriterFileSink2, GetFileSize, 13)     \
    X(IWMWriterFileSink2, Close, 14)           \
    X(IWMWriterFileSink2, IsClosed, 15)

#define ALL_SHARED_METHODS(X) \
    INSSBUFFER_METHODS(X)     \
    STATUS_METHODS(X)         \
    MEDIA_PROPS_METHODS(X)    \
    READER_METHODS(X)         \
    HEADER_METHODS(X)         \
    PROFILE_METHODS(X)        \
    WRITER_METHODS(X)

#define SAME_CALL(I, M)                                                               \
    static_assert(ArgBytes(&wm::I::M) == ArgBytes(&::I::M), #I "::" #M " arguments"); \
    static_assert(ResultBytes(&wm::I::M) == ResultBytes(&::I::M), #I "::" #M " result");
ALL_SHARED_METHODS(SAME_CALL)
#undef SAME_CALL

// The file sink methods the library calls take the platform's argument sizes.
static_assert(ArgBytes(&wm::IWMWriterFileSink::Open) == kWord, "IWMWriterFileSink::Open arguments");
static_assert(ArgBytes(&wm::IWMWriterFileSink2::Close) == 0, "IWMWriterFileSink2::Close");

struct SlotTable {
#define SHARED_SLOT(I, M) \
    SlotPair<decltype(&wm::I::M), decltype(&::I::M)> I##_##M{&wm::I::M, &::I::M};
    ALL_SHARED_METHODS(SHARED_SLOT)
#undef SHARED_SLOT
#define PUBLISHED_SLOT(I, M, slot) \
    SlotExpected<decltype(&wm::I::M)> I##_##M{&wm::I::M, 1u + kWord * (slot), 0u};
    FILE_SINK_METHODS(PUBLISHED_SLOT)
#undef PUBLISHED_SLOT
};

// Every entry is four pointer-sized words.
#define COUNT_SHARED(I, M) +1
#define COUNT_PUBLISHED(I, M, slot) +1
constexpr unsigned kEntries = 0 ALL_SHARED_METHODS(COUNT_SHARED) FILE_SINK_METHODS(COUNT_PUBLISHED);
static_assert(sizeof(SlotTable) == 4 * kWord * kEntries, "each entry is four words, unpadded");

// Read from the object file by check_slots.sh; names are one per line, in the
// order of the entries.
__attribute__((used, section(".wmslots"))) constexpr SlotTable kSlots{};
#define SHARED_NAME(I, M) #I "::" #M "\n"
#define PUBLISHED_NAME(I, M, slot) #I "::" #M "\n"
__attribute__((used, section(".wmnames"))) constexpr char kNames[] =
    ALL_SHARED_METHODS(SHARED_NAME) FILE_SINK_METHODS(PUBLISHED_NAME);

}  // namespace
