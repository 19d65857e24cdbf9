// SPDX-License-Identifier: MIT
// Scriptable fake Format SDK objects for the unit tests.
//
// Every fake counts its own references and records its calls in a shared log, so
// tests can force any result, check the order of calls, and prove that each
// reference the library obtained was released (a fake the test still holds has
// exactly the test's reference left: Refs() == 1).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "com_object.h"

namespace fakes {

// Ordered record of calls made on fakes ("Object.Method"), shared by all fakes.
class CallLog {
  public:
    static CallLog& Instance();
    void Add(std::string entry);
    std::vector<std::string> Entries() const;
    // The entries that start with `prefix`, in order.
    std::vector<std::string> Matching(const std::string& prefix) const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

inline void Log(std::string entry) {
    CallLog::Instance().Add(std::move(entry));
}

// Number of fake objects alive; a test that created and released everything
// ends where it started.
std::atomic<long>& LiveObjects();

// The common COM object, counted among the live fakes, with queries that a
// test can make fail.
template <typename... Ifaces>
class FakeCom : public wm::ComObject<Ifaces...> {
  public:
    FakeCom() { ++LiveObjects(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (queryOverride) {
            const HRESULT forced = queryOverride(iid);
            if (forced != S_OK) return forced;
        }
        if (IUnknown* part = Part(iid)) {
            if (out == nullptr) return E_POINTER;
            part->AddRef();
            *out = part;
            return S_OK;
        }
        return wm::ComObject<Ifaces...>::QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        if (releaseLog_ != nullptr) Log(releaseLog_);
        return wm::ComObject<Ifaces...>::Release();
    }

    // Set to make QueryInterface fail for some IIDs: a result other than S_OK is
    // returned as it is; S_OK lets the query go on normally.
    std::function<HRESULT(REFIID)> queryOverride;

  protected:
    ~FakeCom() override { --LiveObjects(); }
    // A fake that hands out another object of its own for an interface (the
    // platform's writer its advanced writer, the editor its header info)
    // returns it here, as that interface, for that IID.
    virtual IUnknown* Part(REFIID) { return nullptr; }
    // Logged at each Release when set ("Writer.Release").
    const char* releaseLog_ = nullptr;
};

// Declares a method of the faked interface that the library never calls: it
// answers E_NOTIMPL, as an unimplemented call would.
#define FAKE_NOT_USED(method, ...)                           \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { \
        return E_NOTIMPL;                                    \
    }

// A test's own reference to a fake, released at the end of the test.
template <typename T>
class Held {
  public:
    Held() : ptr_(new T) {}
    explicit Held(T* owned) : ptr_(owned) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (ptr_ != nullptr) ptr_->Release();
    }
    T* operator->() const { return ptr_; }
    T* get() const { return ptr_; }
    // Hands out one new reference, as a factory or getter does.
    template <typename I>
    I* Give() const {
        ptr_->AddRef();
        return static_cast<I*>(ptr_);
    }

  private:
    T* ptr_;
};

// ---- Factories ---------------------------------------------------------------

// What the Format SDK factories do; by default they fail with E_NOTIMPL.
struct Factories {
    std::function<HRESULT(wm::IWMReader**)> reader;
    std::function<HRESULT(wm::IWMWriter**)> writer;
    std::function<HRESULT(wm::IWMProfileManager**)> profileManager;
    std::function<HRESULT(wm::IWMMetadataEditor**)> editor;
    std::function<HRESULT(wm::IWMWriterFileSink**)> fileSink;
};
Factories& ScriptedFactories();
// Makes `factory` hand out a new reference to `fake` at every call.
template <typename Iface, typename T>
void Serve(std::function<HRESULT(Iface**)>& factory, const Held<T>& fake) {
    T* object = fake.get();
    factory = [object](Iface** out) {
        object->AddRef();
        *out = object;
        return S_OK;
    };
}
// Restores the defaults and clears the call log (call in every fixture's SetUp).
void ResetFakes();

// Helpers of the fakes' own methods.
std::u16string Str(const WCHAR* text);  // "" for null
// Copies a stored media type (header + format block) into the caller's buffer
// and points pbFormat at the copy's format block.
HRESULT ServeMediaType(const std::vector<BYTE>& stored, HRESULT sizeResult, HRESULT fetchResult,
                       wm::WM_MEDIA_TYPE* type, DWORD* size);

// ---- Sample buffers -------------------------------------------------------------

class FakeBuffer : public FakeCom<wm::INSSBuffer> {
  public:
    explicit FakeBuffer(std::vector<BYTE> bytes = {}) : data(std::move(bytes)) {}
    HRESULT STDMETHODCALLTYPE GetLength(DWORD* length) override;
    HRESULT STDMETHODCALLTYPE SetLength(DWORD length) override;
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override;
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** buffer) override;
    HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** buffer, DWORD* length) override;

    std::vector<BYTE> data;
    HRESULT bufferResult = S_OK;
};

// ---- Media types -------------------------------------------------------------------

// A media type as the SDK stores it: the WM_MEDIA_TYPE followed by its format block.
std::vector<BYTE> MakeMediaType(const GUID& major, const GUID& formatType,
                                const std::vector<BYTE>& format);
// An audio media type whose format block is this WAVEFORMATEX plus `extra` bytes.
std::vector<BYTE> MakeAudioType(WORD tag, WORD channels, DWORD rate, DWORD avgBytesPerSec,
                                WORD blockAlign, std::vector<BYTE> extra = {},
                                WORD bitsPerSample = 16);
std::vector<BYTE> MakeWaveFormat(WORD tag, WORD channels, DWORD rate, DWORD avgBytesPerSec,
                                 WORD blockAlign, std::vector<BYTE> extra = {},
                                 WORD bitsPerSample = 16);

// Media properties with a scripted media type; serves IWMMediaProps and
// IWMOutputMediaProps.
class FakeMediaProps : public FakeCom<wm::IWMOutputMediaProps> {
  public:
    explicit FakeMediaProps(std::vector<BYTE> type = {}) : mediaType(std::move(type)) {}
    HRESULT STDMETHODCALLTYPE GetType(GUID* type) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(wm::WM_MEDIA_TYPE* type, DWORD* size) override;
    FAKE_NOT_USED(SetMediaType, wm::WM_MEDIA_TYPE*)
    FAKE_NOT_USED(GetStreamGroupName, WCHAR*, WORD*)
    FAKE_NOT_USED(GetConnectionName, WCHAR*, WORD*)

    std::vector<BYTE> mediaType;
    HRESULT sizeQueryResult = S_OK;  // GetMediaType without a buffer
    HRESULT fetchResult = S_OK;      // GetMediaType into a buffer
    int getMediaTypeCalls = 0;

  protected:
    bool QueryBase(REFIID iid, void** out) override;
};

// A stream configuration that also answers IWMMediaProps, as the SDK's do.
// Records what the library sets on it.
class FakeStreamConfig : public FakeCom<wm::IWMStreamConfig, wm::IWMMediaProps> {
  public:
    explicit FakeStreamConfig(std::vector<BYTE> type = {}) : mediaType(std::move(type)) {}
    HRESULT STDMETHODCALLTYPE GetStreamType(GUID* type) override;
    HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* number) override;
    HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD number) override;
    FAKE_NOT_USED(GetStreamName, WCHAR*, WORD*)
    HRESULT STDMETHODCALLTYPE SetStreamName(const WCHAR* name) override;
    FAKE_NOT_USED(GetConnectionName, WCHAR*, WORD*)
    HRESULT STDMETHODCALLTYPE SetConnectionName(const WCHAR* name) override;
    HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* bitrate) override;
    HRESULT STDMETHODCALLTYPE SetBitrate(DWORD bitrate) override;
    FAKE_NOT_USED(GetBufferWindow, DWORD*)
    FAKE_NOT_USED(SetBufferWindow, DWORD)
    HRESULT STDMETHODCALLTYPE GetType(GUID* type) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(wm::WM_MEDIA_TYPE* type, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(wm::WM_MEDIA_TYPE* type) override;

    std::vector<BYTE> mediaType;
    HRESULT sizeQueryResult = S_OK;
    HRESULT fetchResult = S_OK;
    // Results of the setters, by name ("SetStreamNumber", ...); S_OK when absent.
    std::function<HRESULT(const std::string&)> setterResult;
    // What was set.
    WORD streamNumber = 0;
    std::u16string streamName, connectionName;
    DWORD bitrate = 0;
    std::vector<BYTE> setMediaTypeHeader;  // the WM_MEDIA_TYPE fields as given
    std::vector<BYTE> setMediaTypeFormat;  // the cbFormat bytes at pbFormat
    bool mediaTypeSet = false;
    wm::WM_MEDIA_TYPE setType{};

  private:
    HRESULT Setter(const char* name);
    // Records the setter's call and, unless scripted to fail, keeps the value.
    template <typename T>
    HRESULT Store(const char* name, T& field, T value);
};

// One audio codec's formats: each entry is a media type (see MakeAudioType).
using CodecFormats = std::vector<std::vector<BYTE>>;

// A profile as CreateEmptyProfile gives it; records its name and streams.
class FakeProfile : public FakeCom<wm::IWMProfile> {
  public:
    FAKE_NOT_USED(GetVersion, wm::WMT_VERSION*)
    FAKE_NOT_USED(GetName, WCHAR*, DWORD*)
    HRESULT STDMETHODCALLTYPE SetName(const WCHAR* name) override;
    FAKE_NOT_USED(GetDescription, WCHAR*, DWORD*)
    FAKE_NOT_USED(SetDescription, const WCHAR*)
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* streams) override;
    FAKE_NOT_USED(GetStream, DWORD, wm::IWMStreamConfig**)
    FAKE_NOT_USED(GetStreamByNumber, WORD, wm::IWMStreamConfig**)
    FAKE_NOT_USED(RemoveStream, wm::IWMStreamConfig*)
    FAKE_NOT_USED(RemoveStreamByNumber, WORD)
    HRESULT STDMETHODCALLTYPE AddStream(wm::IWMStreamConfig* config) override;
    FAKE_NOT_USED(ReconfigStream, wm::IWMStreamConfig*)
    HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID type, wm::IWMStreamConfig** config) override;
    FAKE_NOT_USED(GetMutualExclusionCount, DWORD*)
    FAKE_NOT_USED(GetMutualExclusion, DWORD, wm::IWMMutualExclusion**)
    FAKE_NOT_USED(RemoveMutualExclusion, wm::IWMMutualExclusion*)
    FAKE_NOT_USED(AddMutualExclusion, wm::IWMMutualExclusion*)
    FAKE_NOT_USED(CreateNewMutualExclusion, wm::IWMMutualExclusion**)

    std::u16string name;
    HRESULT setNameResult = S_OK;
    HRESULT createNewStreamResult = S_OK;
    HRESULT addStreamResult = S_OK;
    GUID newStreamType{};
    // The configuration CreateNewStream hands out (the test may inspect it).
    FakeStreamConfig* newStream = nullptr;       // owned by the profile
    wm::IWMStreamConfig* addedStream = nullptr;  // not owned: compare only
    ~FakeProfile() override;
};

// A profile manager with IWMCodecInfo over scripted audio codecs.
class FakeProfileManager : public FakeCom<wm::IWMProfileManager, wm::IWMCodecInfo> {
  public:
    HRESULT STDMETHODCALLTYPE CreateEmptyProfile(wm::WMT_VERSION version,
                                                 wm::IWMProfile** profile) override;
    FAKE_NOT_USED(LoadProfileByID, REFGUID, wm::IWMProfile**)
    FAKE_NOT_USED(LoadProfileByData, const WCHAR*, wm::IWMProfile**)
    FAKE_NOT_USED(SaveProfile, wm::IWMProfile*, WCHAR*, DWORD*)
    FAKE_NOT_USED(GetSystemProfileCount, DWORD*)
    FAKE_NOT_USED(LoadSystemProfile, DWORD, wm::IWMProfile**)
    HRESULT STDMETHODCALLTYPE GetCodecInfoCount(REFGUID type, DWORD* codecs) override;
    HRESULT STDMETHODCALLTYPE GetCodecFormatCount(REFGUID type, DWORD codec,
                                                  DWORD* formats) override;
    HRESULT STDMETHODCALLTYPE GetCodecFormat(REFGUID type, DWORD codec, DWORD format,
                                             wm::IWMStreamConfig** config) override;

    std::vector<CodecFormats> codecs;
    HRESULT codecInfoCountResult = S_OK;
    HRESULT codecFormatCountResult = S_OK;
    // Result of GetCodecFormat for (codec, format); S_OK when unset.
    std::function<HRESULT(DWORD, DWORD)> codecFormatResult;
    // Lets a test fail the size query or fetch of the configuration handed out.
    std::function<void(DWORD, DWORD, FakeStreamConfig&)> adjustConfig;
    HRESULT createEmptyProfileResult = S_OK;
    wm::WMT_VERSION profileVersion{};
    FakeProfile* profile = nullptr;  // the last profile handed out, owned by the test's ref
    std::vector<FakeStreamConfig*> handedOut;  // every configuration handed out
    ~FakeProfileManager() override;
};

// ---- Header attributes -------------------------------------------------------------

struct FakeAttribute {
    std::u16string name;
    wm::WMT_ATTR_DATATYPE type;
    std::vector<BYTE> value;
};
std::vector<BYTE> StringValue(const std::u16string& text);  // with its terminator
std::vector<BYTE> DwordValue(DWORD value);
std::vector<BYTE> QwordValue(uint64_t value);

// Header attributes of stream 0 with the platform's length conventions.
class FakeHeaderInfo : public FakeCom<wm::IWMHeaderInfo> {
  public:
    HRESULT STDMETHODCALLTYPE GetAttributeCount(WORD stream, WORD* count) override;
    HRESULT STDMETHODCALLTYPE GetAttributeByIndex(WORD index, WORD* stream, WCHAR* name,
                                                  WORD* nameLength, wm::WMT_ATTR_DATATYPE* type,
                                                  BYTE* value, WORD* valueLength) override;
    HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* stream, const WCHAR* name,
                                                 wm::WMT_ATTR_DATATYPE* type, BYTE* value,
                                                 WORD* valueLength) override;
    HRESULT STDMETHODCALLTYPE SetAttribute(WORD stream, const WCHAR* name,
                                           wm::WMT_ATTR_DATATYPE type, const BYTE* value,
                                           WORD valueLength) override;
    FAKE_NOT_USED(GetMarkerCount, WORD*)
    FAKE_NOT_USED(GetMarker, WORD, WCHAR*, WORD*, wm::QWORD*)
    FAKE_NOT_USED(AddMarker, const WCHAR*, wm::QWORD)
    FAKE_NOT_USED(RemoveMarker, WORD)
    FAKE_NOT_USED(GetScriptCount, WORD*)
    FAKE_NOT_USED(GetScript, WORD, WCHAR*, WORD*, WCHAR*, WORD*, wm::QWORD*)
    FAKE_NOT_USED(AddScript, const WCHAR*, const WCHAR*, wm::QWORD)
    FAKE_NOT_USED(RemoveScript, WORD)

    std::vector<FakeAttribute> attributes;
    HRESULT countResult = S_OK;
    // Forced results: by index for GetAttributeByIndex (first = size query,
    // second = fetch), by name for GetAttributeByName. Unset means normal behaviour.
    std::function<HRESULT(WORD index, bool fetching)> byIndexResult;
    std::function<HRESULT(const std::u16string& name, bool fetching)> byNameResult;
    std::function<HRESULT(const std::u16string& name)> setResult;
    std::vector<FakeAttribute> set;  // every SetAttribute call, in order
    const FakeAttribute* Find(const std::u16string& name) const;
};

}  // namespace fakes
