// SPDX-License-Identifier: MIT
// Declarations of the Windows Media Format SDK interfaces the library uses or
// implements. Every interface lists its complete method table in the platform's
// slot order, whether the library calls a method or not: on Windows these tables
// are used directly against WMVCore.DLL, so a slot out of place is a crash.
// The tests compare every table with the cross toolchain's own headers.
#pragma once

#include "platform.h"
#include "wm_results.h"

namespace wm {

using QWORD = uint64_t;

// The SDK counts times and durations in 100 ns units.
constexpr int64_t kUnitsPerSecond = 10'000'000;
constexpr int64_t kUnitsPerMs = 10'000;

// ---- Identifiers ----------------------------------------------------------

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IWMStatusCallback = {
    0x6D7CDC70, 0x9888, 0x11D3, {0x8E, 0xDC, 0x00, 0xC0, 0x4F, 0x61, 0x09, 0xCF}};
inline constexpr IID IID_IWMReaderCallback = {
    0x96406BD8, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMReaderCallbackAdvanced = {
    0x96406BEB, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMReader = {
    0x96406BD6, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMReaderAdvanced = {
    0x96406BEA, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMHeaderInfo = {
    0x96406BDA, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMMetadataEditor = {
    0x96406BD9, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMProfileManager = {
    0xD16679F2, 0x6CA0, 0x472D, {0x8D, 0x31, 0x2F, 0x5D, 0x55, 0xAE, 0xE1, 0x55}};
inline constexpr IID IID_IWMProfile = {
    0x96406BDB, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMStreamConfig = {
    0x96406BDC, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMMediaProps = {
    0x96406BCE, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMOutputMediaProps = {
    0x96406BD7, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMInputMediaProps = {
    0x96406BD5, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMCodecInfo = {
    0xA970F41E, 0x34DE, 0x4A98, {0xB3, 0xBA, 0xE4, 0xB3, 0xCA, 0x75, 0x28, 0xF0}};
inline constexpr IID IID_IWMWriter = {
    0x96406BD4, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMWriterAdvanced = {
    0x96406BE3, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMWriterSink = {
    0x96406BE4, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMWriterFileSink = {
    0x96406BE5, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMWriterFileSink2 = {
    0x14282BA7, 0x4AEF, 0x4205, {0x8C, 0xE5, 0xC2, 0x29, 0x03, 0x5A, 0x05, 0xBC}};
inline constexpr IID IID_INSSBuffer = {
    0xE1CD3524, 0x03D7, 0x11D2, {0x9E, 0xED, 0x00, 0x60, 0x97, 0xD2, 0xD7, 0xCF}};

inline constexpr GUID WMMEDIATYPE_Audio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID WMMEDIATYPE_Video = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID WMFORMAT_WaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

// The audio subtype of a format tag: the base media subtype with its first field
// replaced by the tag.
constexpr GUID AudioSubtype(WORD formatTag) {
    return {formatTag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

// ---- Constants --------------------------------------------------------------

enum WMT_STATUS : int {
    WMT_ERROR = 0,
    WMT_OPENED = 1,
    WMT_BUFFERING_START = 2,
    WMT_BUFFERING_STOP = 3,
    WMT_EOF = 4,
    WMT_END_OF_SEGMENT = 5,
    WMT_END_OF_STREAMING = 6,
    WMT_LOCATING = 7,
    WMT_CONNECTING = 8,
    WMT_NO_RIGHTS = 9,
    WMT_MISSING_CODEC = 10,
    WMT_STARTED = 11,
    WMT_STOPPED = 12,
    WMT_CLOSED = 13,
    WMT_STRIDING = 14,
    WMT_TIMER = 15,
    WMT_INDEX_PROGRESS = 16,
    WMT_SAVEAS_START = 17,
    WMT_SAVEAS_STOP = 18,
    WMT_NEW_SOURCEFLAGS = 19,
    WMT_NEW_METADATA = 20,
    WMT_BACKUPRESTORE_BEGIN = 21,
    WMT_SOURCE_SWITCH = 22,
};

enum WMT_ATTR_DATATYPE : int {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6,
};

enum WMT_VERSION : int {
    WMT_VER_4_0 = 0x00040000,
    WMT_VER_7_0 = 0x00070000,
    WMT_VER_8_0 = 0x00080000,
    WMT_VER_9_0 = 0x00090000,
};

enum WMT_STREAM_SELECTION : int { WMT_OFF = 0, WMT_CLEANPOINT_ONLY = 1, WMT_ON = 2 };

constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_WMAUDIO2 = 0x0161;

// ---- Records ----------------------------------------------------------------

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes before its extra bytes");

struct WM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

struct WM_READER_STATISTICS;
struct WM_READER_CLIENTINFO;
struct WM_WRITER_STATISTICS;

// ---- Interfaces ---------------------------------------------------------------

#define WM_METHOD(name) virtual HRESULT STDMETHODCALLTYPE name

struct IWMReaderCallback;
struct IWMStreamConfig;
struct IWMMutualExclusion;
struct IWMProfile;
struct IWMOutputMediaProps;
struct IWMInputMediaProps;
struct IWMWriterSink;

struct INSSBuffer : IUnknown {
    WM_METHOD(GetLength)(DWORD* length) = 0;
    WM_METHOD(SetLength)(DWORD length) = 0;
    WM_METHOD(GetMaxLength)(DWORD* length) = 0;
    WM_METHOD(GetBuffer)(BYTE** buffer) = 0;
    WM_METHOD(GetBufferAndLength)(BYTE** buffer, DWORD* length) = 0;
};

struct IWMStatusCallback : IUnknown {
    WM_METHOD(OnStatus)
    (WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE type, BYTE* value, void* context) = 0;
};

struct IWMReaderCallback : IWMStatusCallback {
    WM_METHOD(OnSample)
    (DWORD outputNum, QWORD sampleTime, QWORD sampleDuration, DWORD flags, INSSBuffer* sample,
     void* context) = 0;
};

struct IWMReaderCallbackAdvanced : IUnknown {
    WM_METHOD(OnStreamSample)
    (WORD streamNum, QWORD sampleTime, QWORD sampleDuration, DWORD flags, INSSBuffer* sample,
     void* context) = 0;
    WM_METHOD(OnTime)(QWORD currentTime, void* context) = 0;
    WM_METHOD(OnStreamSelection)
    (WORD streamCount, WORD* streamNumbers, WMT_STREAM_SELECTION* selections, void* context) = 0;
    WM_METHOD(OnOutputPropsChanged)(DWORD outputNum, WM_MEDIA_TYPE* mediaType, void* context) = 0;
    WM_METHOD(AllocateForStream)
    (WORD streamNum, DWORD size, INSSBuffer** buffer, void* context) = 0;
    WM_METHOD(AllocateForOutput)
    (DWORD outputNum, DWORD size, INSSBuffer** buffer, void* context) = 0;
};

struct IWMMediaProps : IUnknown {
    WM_METHOD(GetType)(GUID* type) = 0;
    // With a null mediaType, reports the size in bytes that the type needs.
    WM_METHOD(GetMediaType)(WM_MEDIA_TYPE* mediaType, DWORD* size) = 0;
    WM_METHOD(SetMediaType)(WM_MEDIA_TYPE* mediaType) = 0;
};

struct IWMOutputMediaProps : IWMMediaProps {
    WM_METHOD(GetStreamGroupName)(WCHAR* name, WORD* length) = 0;
    WM_METHOD(GetConnectionName)(WCHAR* name, WORD* length) = 0;
};

struct IWMInputMediaProps : IWMMediaProps {
    WM_METHOD(GetConnectionName)(WCHAR* name, WORD* length) = 0;
    WM_METHOD(GetGroupName)(WCHAR* name, WORD* length) = 0;
};

struct IWMReader : IUnknown {
    WM_METHOD(Open)(const WCHAR* url, IWMReaderCallback* callback, void* context) = 0;
    WM_METHOD(Close)() = 0;
    WM_METHOD(GetOutputCount)(DWORD* outputs) = 0;
    WM_METHOD(GetOutputProps)(DWORD outputNum, IWMOutputMediaProps** output) = 0;
    WM_METHOD(SetOutputProps)(DWORD outputNum, IWMOutputMediaProps* output) = 0;
    WM_METHOD(GetOutputFormatCount)(DWORD outputNum, DWORD* formats) = 0;
    WM_METHOD(GetOutputFormat)(DWORD outputNum, DWORD formatNum, IWMOutputMediaProps** props) = 0;
    WM_METHOD(Start)(QWORD start, QWORD duration, float rate, void* context) = 0;
    WM_METHOD(Stop)() = 0;
    WM_METHOD(Pause)() = 0;
    WM_METHOD(Resume)() = 0;
};

struct IWMReaderAdvanced : IUnknown {
    WM_METHOD(SetUserProvidedClock)(BOOL userClock) = 0;
    WM_METHOD(GetUserProvidedClock)(BOOL* userClock) = 0;
    WM_METHOD(DeliverTime)(QWORD time) = 0;
    WM_METHOD(SetManualStreamSelection)(BOOL selection) = 0;
    WM_METHOD(GetManualStreamSelection)(BOOL* selection) = 0;
    WM_METHOD(SetStreamsSelected)
    (WORD streamCount, WORD* streamNumbers, WMT_STREAM_SELECTION* selections) = 0;
    WM_METHOD(GetStreamSelected)(WORD streamNum, WMT_STREAM_SELECTION* selection) = 0;
    WM_METHOD(SetReceiveSelectionCallbacks)(BOOL getCallbacks) = 0;
    WM_METHOD(GetReceiveSelectionCallbacks)(BOOL* getCallbacks) = 0;
    WM_METHOD(SetReceiveStreamSamples)(WORD streamNum, BOOL receive) = 0;
    WM_METHOD(GetReceiveStreamSamples)(WORD streamNum, BOOL* receive) = 0;
    WM_METHOD(SetAllocateForOutput)(DWORD outputNum, BOOL allocate) = 0;
    WM_METHOD(GetAllocateForOutput)(DWORD outputNum, BOOL* allocate) = 0;
    WM_METHOD(SetAllocateForStream)(WORD streamNum, BOOL allocate) = 0;
    WM_METHOD(GetAllocateForStream)(WORD streamNum, BOOL* allocate) = 0;
    WM_METHOD(GetStatistics)(WM_READER_STATISTICS* statistics) = 0;
    WM_METHOD(SetClientInfo)(WM_READER_CLIENTINFO* clientInfo) = 0;
    WM_METHOD(GetMaxOutputSampleSize)(DWORD outputNum, DWORD* maxSize) = 0;
    WM_METHOD(GetMaxStreamSampleSize)(WORD streamNum, DWORD* maxSize) = 0;
    WM_METHOD(NotifyLateDelivery)(QWORD lateness) = 0;
};

// Attribute lengths: names in WCHARs including the terminator, values in bytes.
struct IWMHeaderInfo : IUnknown {
    WM_METHOD(GetAttributeCount)(WORD streamNum, WORD* attributes) = 0;
    WM_METHOD(GetAttributeByIndex)
    (WORD index, WORD* streamNum, WCHAR* name, WORD* nameLength, WMT_ATTR_DATATYPE* type,
     BYTE* value, WORD* valueLength) = 0;
    WM_METHOD(GetAttributeByName)
    (WORD* streamNum, const WCHAR* name, WMT_ATTR_DATATYPE* type, BYTE* value,
     WORD* valueLength) = 0;
    WM_METHOD(SetAttribute)
    (WORD streamNum, const WCHAR* name, WMT_ATTR_DATATYPE type, const BYTE* value,
     WORD valueLength) = 0;
    WM_METHOD(GetMarkerCount)(WORD* markers) = 0;
    WM_METHOD(GetMarker)
    (WORD index, WCHAR* markerName, WORD* markerNameLength, QWORD* markerTime) = 0;
    WM_METHOD(AddMarker)(const WCHAR* markerName, QWORD markerTime) = 0;
    WM_METHOD(RemoveMarker)(WORD index) = 0;
    WM_METHOD(GetScriptCount)(WORD* scripts) = 0;
    WM_METHOD(GetScript)
    (WORD index, WCHAR* type, WORD* typeLength, WCHAR* command, WORD* commandLength,
     QWORD* scriptTime) = 0;
    WM_METHOD(AddScript)(const WCHAR* type, const WCHAR* command, QWORD scriptTime) = 0;
    WM_METHOD(RemoveScript)(WORD index) = 0;
};

struct IWMMetadataEditor : IUnknown {
    WM_METHOD(Open)(const WCHAR* filename) = 0;
    WM_METHOD(Close)() = 0;
    WM_METHOD(Flush)() = 0;
};

struct IWMStreamConfig : IUnknown {
    WM_METHOD(GetStreamType)(GUID* streamType) = 0;
    WM_METHOD(GetStreamNumber)(WORD* streamNum) = 0;
    WM_METHOD(SetStreamNumber)(WORD streamNum) = 0;
    WM_METHOD(GetStreamName)(WCHAR* name, WORD* length) = 0;
    WM_METHOD(SetStreamName)(const WCHAR* name) = 0;
    WM_METHOD(GetConnectionName)(WCHAR* name, WORD* length) = 0;
    WM_METHOD(SetConnectionName)(const WCHAR* name) = 0;
    WM_METHOD(GetBitrate)(DWORD* bitrate) = 0;
    WM_METHOD(SetBitrate)(DWORD bitrate) = 0;
    WM_METHOD(GetBufferWindow)(DWORD* bufferWindowMs) = 0;
    WM_METHOD(SetBufferWindow)(DWORD bufferWindowMs) = 0;
};

struct IWMProfile : IUnknown {
    WM_METHOD(GetVersion)(WMT_VERSION* version) = 0;
    WM_METHOD(GetName)(WCHAR* name, DWORD* length) = 0;
    WM_METHOD(SetName)(const WCHAR* name) = 0;
    WM_METHOD(GetDescription)(WCHAR* description, DWORD* length) = 0;
    WM_METHOD(SetDescription)(const WCHAR* description) = 0;
    WM_METHOD(GetStreamCount)(DWORD* streams) = 0;
    WM_METHOD(GetStream)(DWORD streamIndex, IWMStreamConfig** config) = 0;
    WM_METHOD(GetStreamByNumber)(WORD streamNum, IWMStreamConfig** config) = 0;
    WM_METHOD(RemoveStream)(IWMStreamConfig* config) = 0;
    WM_METHOD(RemoveStreamByNumber)(WORD streamNum) = 0;
    WM_METHOD(AddStream)(IWMStreamConfig* config) = 0;
    WM_METHOD(ReconfigStream)(IWMStreamConfig* config) = 0;
    WM_METHOD(CreateNewStream)(REFGUID streamType, IWMStreamConfig** config) = 0;
    WM_METHOD(GetMutualExclusionCount)(DWORD* count) = 0;
    WM_METHOD(GetMutualExclusion)(DWORD index, IWMMutualExclusion** exclusion) = 0;
    WM_METHOD(RemoveMutualExclusion)(IWMMutualExclusion* exclusion) = 0;
    WM_METHOD(AddMutualExclusion)(IWMMutualExclusion* exclusion) = 0;
    WM_METHOD(CreateNewMutualExclusion)(IWMMutualExclusion** exclusion) = 0;
};

struct IWMProfileManager : IUnknown {
    WM_METHOD(CreateEmptyProfile)(WMT_VERSION version, IWMProfile** profile) = 0;
    WM_METHOD(LoadProfileByID)(REFGUID profileId, IWMProfile** profile) = 0;
    WM_METHOD(LoadProfileByData)(const WCHAR* profileData, IWMProfile** profile) = 0;
    WM_METHOD(SaveProfile)(IWMProfile* profile, WCHAR* profileData, DWORD* length) = 0;
    WM_METHOD(GetSystemProfileCount)(DWORD* profiles) = 0;
    WM_METHOD(LoadSystemProfile)(DWORD profileIndex, IWMProfile** profile) = 0;
};

struct IWMCodecInfo : IUnknown {
    WM_METHOD(GetCodecInfoCount)(REFGUID mediaType, DWORD* codecs) = 0;
    WM_METHOD(GetCodecFormatCount)(REFGUID mediaType, DWORD codecIndex, DWORD* formats) = 0;
    WM_METHOD(GetCodecFormat)
    (REFGUID mediaType, DWORD codecIndex, DWORD formatIndex, IWMStreamConfig** config) = 0;
};

struct IWMWriter : IUnknown {
    WM_METHOD(SetProfileByID)(REFGUID profileId) = 0;
    WM_METHOD(SetProfile)(IWMProfile* profile) = 0;
    WM_METHOD(SetOutputFilename)(const WCHAR* filename) = 0;
    WM_METHOD(GetInputCount)(DWORD* inputs) = 0;
    WM_METHOD(GetInputProps)(DWORD inputNum, IWMInputMediaProps** input) = 0;
    WM_METHOD(SetInputProps)(DWORD inputNum, IWMInputMediaProps* input) = 0;
    WM_METHOD(GetInputFormatCount)(DWORD inputNum, DWORD* formats) = 0;
    WM_METHOD(GetInputFormat)(DWORD inputNum, DWORD formatNum, IWMInputMediaProps** props) = 0;
    WM_METHOD(BeginWriting)() = 0;
    WM_METHOD(EndWriting)() = 0;
    WM_METHOD(AllocateSample)(DWORD size, INSSBuffer** sample) = 0;
    WM_METHOD(WriteSample)(DWORD inputNum, QWORD sampleTime, DWORD flags, INSSBuffer* sample) = 0;
    WM_METHOD(Flush)() = 0;
};

struct IWMWriterSink : IUnknown {
    WM_METHOD(OnHeader)(INSSBuffer* header) = 0;
    WM_METHOD(IsRealTime)(BOOL* realTime) = 0;
    WM_METHOD(AllocateDataUnit)(DWORD size, INSSBuffer** dataUnit) = 0;
    WM_METHOD(OnDataUnit)(INSSBuffer* dataUnit) = 0;
    WM_METHOD(OnEndWriting)() = 0;
};

struct IWMWriterFileSink : IWMWriterSink {
    WM_METHOD(Open)(const WCHAR* filename) = 0;
};

struct IWMWriterFileSink2 : IWMWriterFileSink {
    WM_METHOD(Start)(QWORD startTime) = 0;
    WM_METHOD(Stop)(QWORD stopTime) = 0;
    WM_METHOD(IsStopped)(BOOL* stopped) = 0;
    WM_METHOD(GetFileDuration)(QWORD* duration) = 0;
    WM_METHOD(GetFileSize)(QWORD* size) = 0;
    WM_METHOD(Close)() = 0;
    WM_METHOD(IsClosed)(BOOL* closed) = 0;
};

struct IWMWriterAdvanced : IUnknown {
    WM_METHOD(GetSinkCount)(DWORD* sinks) = 0;
    WM_METHOD(GetSink)(DWORD sinkNum, IWMWriterSink** sink) = 0;
    WM_METHOD(AddSink)(IWMWriterSink* sink) = 0;
    WM_METHOD(RemoveSink)(IWMWriterSink* sink) = 0;
    WM_METHOD(WriteStreamSample)
    (WORD streamNum, QWORD sampleTime, DWORD sampleSendTimeMs, QWORD sampleDuration, DWORD flags,
     INSSBuffer* sample) = 0;
    WM_METHOD(SetLiveSource)(BOOL isLiveSource) = 0;
    WM_METHOD(IsRealTime)(BOOL* realTime) = 0;
    WM_METHOD(GetWriterTime)(QWORD* currentTime) = 0;
    WM_METHOD(GetStatistics)(WORD streamNum, WM_WRITER_STATISTICS* statistics) = 0;
    WM_METHOD(SetSyncTolerance)(DWORD windowMs) = 0;
    WM_METHOD(GetSyncTolerance)(DWORD* windowMs) = 0;
};

#undef WM_METHOD

}  // namespace wm
