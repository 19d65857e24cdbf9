// SPDX-License-Identifier: MIT
#include "fake_reader.h"

#include "reader/reader_callback.h"

namespace fakes {

namespace {
// The reader whose callback this thread is running, if any.
thread_local const FakeReader* deliveringReader = nullptr;

class Delivering {
  public:
    explicit Delivering(const FakeReader* reader) : outer_(deliveringReader) {
        deliveringReader = reader;
    }
    ~Delivering() { deliveringReader = outer_; }
    Delivering(const Delivering&) = delete;
    Delivering& operator=(const Delivering&) = delete;

  private:
    const FakeReader* outer_;
};

}  // namespace

FakeReader::FakeReader() : header(new FakeHeaderInfo) {}

FakeReader::~FakeReader() {
    if (worker_.joinable()) {
        if (worker_.get_id() == std::this_thread::get_id())
            worker_.detach();
        else
            worker_.join();
    }
    ReleaseCallbacks();
    header->Release();
    for (auto* output : outputs) output->Release();
}

void FakeReader::AddOutput(std::vector<BYTE> mediaType) {
    outputs.push_back(new FakeMediaProps(std::move(mediaType)));
}

IUnknown* FakeReader::Part(REFIID iid) {
    return iid == wm::IID_IWMHeaderInfo ? static_cast<wm::IWMHeaderInfo*>(header) : nullptr;
}

ULONG FakeReader::Release() {
    if (deliveringReader == this && Refs() <= 2) ++callsThatWouldHang;
    return ReaderDefaults::Release();
}

void FakeReader::ReleaseCallbacks() {
    if (callback == nullptr || callbacksReleased_.exchange(true)) return;
    if (advancedCallback != nullptr) advancedCallback->Release();
    callback->Release();
}

// ---- IWMReader ---------------------------------------------------------------------------

HRESULT FakeReader::Open(const WCHAR* url, wm::IWMReaderCallback* cb, void* context) {
    Log("Reader.Open");
    openContext = context;
    openedPath = url != nullptr ? std::u16string(url) : std::u16string();
    ReleaseCallbacks();
    callbacksReleased_ = false;
    callback = cb;
    callback->AddRef();
    void* advanced = nullptr;
    if (SUCCEEDED(callback->QueryInterface(wm::IID_IWMReaderCallbackAdvanced, &advanced)))
        advancedCallback = static_cast<wm::IWMReaderCallbackAdvanced*>(advanced);
    if (onOpen) return onOpen(*this);
    Report(wm::WMT_OPENED, S_OK);
    return S_OK;
}

HRESULT FakeReader::Close() {
    Log("Reader.Close");
    if (deliveringReader == this) ++callsThatWouldHang;
    ++closeCalls;
    closedOn = std::this_thread::get_id();
    refsAtClose = Refs();
    closed = true;
    ReleaseCallbacks();
    return closeResult;
}

HRESULT FakeReader::GetOutputCount(DWORD* count) {
    *count = static_cast<DWORD>(outputs.size());
    return S_OK;
}

HRESULT FakeReader::GetOutputProps(DWORD outputNum, wm::IWMOutputMediaProps** output) {
    Log("Reader.GetOutputProps(" + std::to_string(outputNum) + ")");
    if (FAILED(outputPropsResult)) return outputPropsResult;
    if (output == nullptr) return E_POINTER;
    if (outputNum >= outputs.size()) return E_INVALIDARG;
    outputs[outputNum]->AddRef();
    *output = outputs[outputNum];
    return S_OK;
}

HRESULT FakeReader::Start(wm::QWORD start, wm::QWORD duration, float rate, void*) {
    Log("Reader.Start(" + std::to_string(start) + ")");
    startTime = start;
    startDuration = duration;
    startRate = rate;
    return onStart ? onStart(*this) : S_OK;
}

HRESULT FakeReader::Stop() {
    Log("Reader.Stop");
    if (onStop) return onStop(*this);
    if (closed) return wm::NS_E_INVALID_REQUEST;
    stopRequested = true;
    Report(wm::WMT_STOPPED);
    return S_OK;
}

// ---- IWMReaderAdvanced ----------------------------------------------------------------------

HRESULT FakeReader::SetUserProvidedClock(BOOL setting) {
    Log("ReaderAdvanced.SetUserProvidedClock(" + std::to_string(setting) + ")");
    ++userClockCalls;
    userClock = setting;
    return userClockResult;
}

HRESULT FakeReader::DeliverTime(wm::QWORD time) {
    Log("ReaderAdvanced.DeliverTime(" + std::to_string(time) + ")");
    std::lock_guard<std::mutex> lock(mutex_);
    delivered_.push_back(time);
    return deliverTimeResult;
}

std::vector<wm::QWORD> FakeReader::DeliveredTimes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
}

// ---- Calling back ------------------------------------------------------------------------------

void FakeReader::Report(wm::WMT_STATUS status, HRESULT hr) {
    if (callback == nullptr) return;
    Delivering delivering(this);
    callback->OnStatus(status, hr, wm::WMT_TYPE_DWORD, nullptr, openContext);
}

HRESULT FakeReader::Sample(DWORD output, wm::QWORD time, std::vector<BYTE> bytes,
                           HRESULT bufferResult) {
    if (callback == nullptr) return E_UNEXPECTED;
    auto* buffer = new FakeBuffer(std::move(bytes));
    buffer->bufferResult = bufferResult;
    Delivering delivering(this);
    const HRESULT hr = callback->OnSample(output, time, 0, 0, buffer, nullptr);
    buffer->Release();
    return hr;
}

HRESULT FakeReader::Tick(wm::QWORD currentTime) {
    if (advancedCallback == nullptr) return E_UNEXPECTED;
    Delivering delivering(this);
    return advancedCallback->OnTime(currentTime, nullptr);
}

void FakeReader::RunAsync(std::function<void(FakeReader&)> body) {
    Join();
    // The thread keeps the reader alive until its body has finished.
    AddRef();
    worker_ = std::thread([this, body = std::move(body)] {
        body(*this);
        Release();
    });
}

void FakeReader::Join() {
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void RefuseQuery(FakeReader& reader, const IID& iid) {
    reader.queryOverride = [iid](REFIID asked) { return asked == iid ? E_NOINTERFACE : S_OK; };
}

// ---- FakeHost ----------------------------------------------------------------------------------

namespace {
std::atomic<int> g_otherCalls{0};

int32_t MERVANE_CALL RecordBlock(const void* data, uint32_t byteCount, uint32_t timeMs) {
    FakeHost::Instance().Record(data, byteCount, timeMs);
    return 0;
}
int32_t MERVANE_CALL CountOther(const void*, uint32_t, uint32_t) {
    ++g_otherCalls;
    return 0;
}
}  // namespace

FakeHost& FakeHost::Instance() {
    static FakeHost host;
    return host;
}
SampleCallback FakeHost::Callback() {
    return &RecordBlock;
}
SampleCallback FakeHost::OtherCallback() {
    return &CountOther;
}
int FakeHost::OtherCalls() {
    return g_otherCalls.load();
}

void FakeHost::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_.clear();
    endCalls_ = 0;
    onEnd = nullptr;
    g_otherCalls = 0;
}

void FakeHost::Record(const void* data, uint32_t byteCount, uint32_t timeMs) {
    if (data == nullptr && byteCount == 0 && timeMs == 0) {
        Log("Host.End");
        if (onEnd) onEnd();
        std::lock_guard<std::mutex> lock(mutex_);
        ++endCalls_;
        ended_.notify_all();
        return;
    }
    const auto* bytes = static_cast<const BYTE*>(data);
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_.push_back({std::vector<BYTE>(bytes, bytes + byteCount), timeMs, data});
}

std::vector<FakeHost::Block> FakeHost::Blocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_;
}

int FakeHost::EndCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return endCalls_;
}

bool FakeHost::WaitForEndCalls(int count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, limit, [&] { return endCalls_ >= count; });
}

// ---- The library's reader side ---------------------------------------------------------------

void ServeReader(FakeReader* reader) {
    ScriptedFactories().reader = [reader](wm::IWMReader** out) {
        reader->AddRef();
        *out = reader;
        return S_OK;
    };
}

long CallbackRefs() {
    return mervane::TheReaderCallback().Refs();
}

namespace {

struct WatchClockState {
    std::mutex mutex;
    bool runOut = false;  // pending
    long entries = 0;     // waits begun
    long ranOutAt = 0;    // the wait that ran out last
};
WatchClockState g_clock;

DWORD ScriptedWait(HANDLE event, DWORD) {
    {
        std::lock_guard<std::mutex> lock(g_clock.mutex);
        ++g_clock.entries;
    }
    for (;;) {
        if (WaitForSingleObject(event, 1) == WAIT_OBJECT_0) return WAIT_OBJECT_0;
        std::lock_guard<std::mutex> lock(g_clock.mutex);
        if (g_clock.runOut) {
            g_clock.runOut = false;
            g_clock.ranOutAt = g_clock.entries;
            return WAIT_TIMEOUT;
        }
    }
}

}  // namespace

void WatchClock::Install(DWORD limitMs) {
    mervane::TheReaderCallback().State().watch.SetLimit(limitMs, &ScriptedWait);
}

bool WatchClock::RunOut() {
    {
        std::lock_guard<std::mutex> lock(g_clock.mutex);
        g_clock.runOut = true;
    }
    // Acted on: a wait begun after the one that ran out, or the watch has left.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        bool pending = true;
        {
            std::lock_guard<std::mutex> lock(g_clock.mutex);
            pending = g_clock.runOut;
            if (!pending && g_clock.entries > g_clock.ranOutAt) return true;
        }
        if (!pending && mervane::TheReaderCallback().State().watch.WaitIdle(0)) return true;
        std::this_thread::yield();
    }
    return false;
}

void ClearReaderSlots() {
    auto& state = mervane::TheReaderCallback().State();
    wm::ComPtr<wm::IWMReader> reader;
    wm::ComPtr<wm::IWMReaderAdvanced> advanced;
    state.TakeReaders(reader, advanced);
    state.ReleaseDecode();
    // A decode left running is given up: its watch ends without an end call.
    state.watch.WaitIdle(20000);
    state.watch.SetLimit(mervane::kDecodeSilenceMs, nullptr);
}

}  // namespace fakes
