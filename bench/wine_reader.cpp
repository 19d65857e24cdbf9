// Times the same decode as bench_wine_host made by a direct client of the
// platform's Format SDK reader: the reader MERVANE.dll drives, driven the same
// way (user clock one second ahead on status 11 and on every OnTime, every
// block written to a file).
//
//   bench_wine_reader FILE OUT.pcm
//
// The clock runs from creating the reader to the return of its Close; loading
// the SDK is not counted. Prints the milliseconds; exit code 0 on success.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <wmsdkidl.h>
// clang-format on

#include <cstdio>

namespace {

constexpr QWORD kSecond = 10000000;  // 100 ns units
constexpr DWORD kWaitMs = 600000;

class Client : public IWMReaderCallback, public IWMReaderCallbackAdvanced {
  public:
    explicit Client(FILE* out)
        : out_(out),
          opened_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          ended_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Drive(IWMReaderAdvanced* advanced) { advanced_ = advanced; }
    HANDLE opened() const { return opened_; }
    HANDLE ended() const { return ended_; }
    HRESULT openResult() const { return openResult_; }
    bool failed() const { return failed_; }

    // IUnknown: the object lives on Run's stack and outlives the reader.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IWMReaderCallback)) ||
            IsEqualIID(iid, __uuidof(IWMStatusCallback))) {
            *out = static_cast<IWMReaderCallback*>(this);
        } else if (IsEqualIID(iid, __uuidof(IWMReaderCallbackAdvanced))) {
            *out = static_cast<IWMReaderCallbackAdvanced*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnStatus(WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE, BYTE*,
                                       void*) override {
        if (status == WMT_OPENED) {
            openResult_ = hr;
            SetEvent(opened_);
        } else if (status == WMT_STARTED) {
            Advance();
        } else if (status == WMT_EOF || status == WMT_STOPPED) {
            SetEvent(ended_);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnSample(DWORD, QWORD, QWORD, DWORD, INSSBuffer* sample,
                                       void*) override {
        BYTE* data = nullptr;
        DWORD length = 0;
        if (FAILED(sample->GetBufferAndLength(&data, &length)) ||
            std::fwrite(data, 1, length, out_) != length) {
            failed_ = true;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStreamSample(WORD, QWORD, QWORD, DWORD, INSSBuffer*,
                                             void*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnTime(QWORD, void*) override {
        Advance();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStreamSelection(WORD, WORD*, WMT_STREAM_SELECTION*,
                                                void*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnOutputPropsChanged(DWORD, WM_MEDIA_TYPE*, void*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AllocateForStream(WORD, DWORD, INSSBuffer**, void*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AllocateForOutput(DWORD, DWORD, INSSBuffer**, void*) override {
        return E_NOTIMPL;
    }

  private:
    void Advance() {
        clock_ += kSecond;
        if (advanced_ != nullptr) advanced_->DeliverTime(clock_);
    }

    FILE* out_;
    HANDLE opened_;
    HANDLE ended_;
    HRESULT openResult_ = E_FAIL;
    IWMReaderAdvanced* advanced_ = nullptr;
    QWORD clock_ = 0;
    bool failed_ = false;
};

using CreateReaderPrivFn = HRESULT(WINAPI*)(IWMReader**);

bool Run(CreateReaderPrivFn create, const WCHAR* path, FILE* out) {
    Client client(out);
    IWMReader* reader = nullptr;
    if (FAILED(create(&reader)) || reader == nullptr) return false;
    bool ok = false;
    IWMReaderAdvanced* advanced = nullptr;
    if (SUCCEEDED(reader->Open(path, &client, nullptr)) &&
        WaitForSingleObject(client.opened(), kWaitMs) == WAIT_OBJECT_0 &&
        SUCCEEDED(client.openResult()) &&
        SUCCEEDED(reader->QueryInterface(__uuidof(IWMReaderAdvanced),
                                         reinterpret_cast<void**>(&advanced))) &&
        SUCCEEDED(advanced->SetUserProvidedClock(TRUE))) {
        client.Drive(advanced);
        ok = SUCCEEDED(reader->Start(0, 0, 1.0f, nullptr)) &&
             WaitForSingleObject(client.ended(), kWaitMs) == WAIT_OBJECT_0 && !client.failed();
    }
    reader->Close();
    if (advanced != nullptr) advanced->Release();
    reader->Release();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_wine_reader FILE OUT.pcm\n");
        return 2;
    }
    CoInitialize(nullptr);
    HMODULE sdk = LoadLibraryA("wmvcore.dll");
    auto create = sdk == nullptr
                      ? nullptr
                      : reinterpret_cast<CreateReaderPrivFn>(reinterpret_cast<void (*)()>(
                            GetProcAddress(sdk, "WMCreateReaderPriv")));
    WCHAR path[MAX_PATH];
    FILE* out = std::fopen(argv[2], "wb");
    if (create == nullptr || out == nullptr ||
        MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH) == 0) {
        return 1;
    }
    LARGE_INTEGER frequency, began, ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&began);
    const bool ok = Run(create, path, out);
    QueryPerformanceCounter(&ended);
    if (std::fclose(out) != 0 || !ok) ExitProcess(1);
    std::printf("%.3f\n",
                double(ended.QuadPart - began.QuadPart) * 1e3 / double(frequency.QuadPart));
    std::fflush(stdout);
    // The reader's threads may still be winding down after Close.
    ExitProcess(0);
}
