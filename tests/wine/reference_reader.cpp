// SPDX-License-Identifier: MIT
// A direct client of the platform's Format SDK, written against the cross
// toolchain's own declarations: opens a file with the reader, drives its clock
// the way MERVANE.dll does (one second ahead on status 11 and on every OnTime),
// and writes every block it receives to a file. What it writes is what the
// library must hand its host unchanged.
//
//   reference_reader FILE START_MS OUT.pcm
//
// Exit code 0 on success; every wait is bounded. On success it prints the
// milliseconds from creating the reader to the return of its Close (loading
// the SDK not counted), which the benchmark compares with the library's.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <wmsdkidl.h>
// clang-format on

#include <cstdio>
#include <cstring>

namespace {

constexpr QWORD kSecond = 10000000;  // 100 ns units
constexpr DWORD kWaitMs = 60000;

class Client : public IWMReaderCallback, public IWMReaderCallbackAdvanced {
  public:
    explicit Client(FILE* out) : out_(out) {
        opened_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ended_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Client() {
        CloseHandle(opened_);
        CloseHandle(ended_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Drive(IWMReaderAdvanced* advanced, QWORD start) {
        advanced_ = advanced;
        clock_ = start;
    }

    HANDLE opened() const { return opened_; }
    HANDLE ended() const { return ended_; }
    HRESULT openResult() const { return openResult_; }
    bool failed() const { return failed_; }

    // IUnknown: the object lives on main's stack and outlives the reader.
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
        switch (status) {
            case WMT_OPENED:
                openResult_ = hr;
                SetEvent(opened_);
                break;
            case WMT_STARTED:
                Advance();
                break;
            case WMT_EOF:
            case WMT_STOPPED:
                SetEvent(ended_);
                break;
            default:
                break;
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
using CreateReaderFn = HRESULT(WINAPI*)(IUnknown*, DWORD, IWMReader**);

HRESULT CreateReader(IWMReader** reader) {
    HMODULE sdk = LoadLibraryA("wmvcore.dll");
    if (sdk == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    // The library uses the private factory; take the same one when it exists.
    if (auto priv = reinterpret_cast<CreateReaderPrivFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(sdk, "WMCreateReaderPriv")))) {
        return priv(reader);
    }
    auto open = reinterpret_cast<CreateReaderFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(sdk, "WMCreateReader")));
    return open != nullptr ? open(nullptr, 0, reader) : E_NOINTERFACE;
}

int Fail(const char* step, HRESULT hr) {
    std::printf("FAIL: %s (0x%08lx)\n", step, static_cast<unsigned long>(hr));
    return 1;
}

int Run(const char* path, QWORD start, FILE* out) {
    WCHAR wide[MAX_PATH];
    int length = MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    if (length == 0) return Fail("path conversion", E_INVALIDARG);

    Client client(out);
    IWMReader* reader = nullptr;
    HRESULT hr = CreateReader(&reader);
    if (FAILED(hr)) return Fail("creating the reader", hr);

    int result = 0;
    IWMReaderAdvanced* advanced = nullptr;
    hr = reader->Open(wide, &client, nullptr);
    if (FAILED(hr)) {
        result = Fail("Open", hr);
    } else if (WaitForSingleObject(client.opened(), kWaitMs) != WAIT_OBJECT_0) {
        result = Fail("waiting for the open", E_FAIL);
    } else if (FAILED(client.openResult())) {
        result = Fail("open status", client.openResult());
    } else if (FAILED(hr = reader->QueryInterface(__uuidof(IWMReaderAdvanced),
                                                  reinterpret_cast<void**>(&advanced)))) {
        result = Fail("IWMReaderAdvanced", hr);
    } else if (FAILED(hr = advanced->SetUserProvidedClock(TRUE))) {
        result = Fail("SetUserProvidedClock", hr);
    } else {
        client.Drive(advanced, start);
        if (FAILED(hr = reader->Start(start, 0, 1.0f, nullptr))) {
            result = Fail("Start", hr);
        } else if (WaitForSingleObject(client.ended(), kWaitMs) != WAIT_OBJECT_0) {
            result = Fail("waiting for the end of the file", E_FAIL);
        } else if (client.failed()) {
            result = Fail("reading a block", E_FAIL);
        }
    }
    reader->Close();
    if (advanced != nullptr) advanced->Release();
    reader->Release();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: reference_reader FILE START_MS OUT.pcm\n");
        return 2;
    }
    CoInitialize(nullptr);
    FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) return Fail("opening the output", E_ACCESSDENIED);
    QWORD start = static_cast<QWORD>(std::strtoul(argv[2], nullptr, 10)) * 10000u;
    LARGE_INTEGER frequency, began, ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&began);
    int result = Run(argv[1], start, out);
    QueryPerformanceCounter(&ended);
    if (std::fclose(out) != 0) result = 1;
    if (result == 0) {
        std::printf("%.3f\n", static_cast<double>(ended.QuadPart - began.QuadPart) * 1000.0 /
                                  static_cast<double>(frequency.QuadPart));
        std::fflush(stdout);
    }
    // The reader's threads may still be winding down after Close.
    ExitProcess(static_cast<UINT>(result));
}
