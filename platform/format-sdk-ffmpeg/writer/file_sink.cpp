// SPDX-License-Identifier: MIT
#include "file_sink.h"

#include <sys/stat.h>

#include <new>

#include "common/com_call.h"

namespace ffsdk {

FileSink* FileSink::Create() {
    return new (std::nothrow) FileSink();
}

FileSink* FileSink::From(IUnknown* unknown) {
    if (unknown == nullptr) return nullptr;
    void* out = nullptr;
    if (FAILED(unknown->QueryInterface(kIidFileSinkImpl, &out)) || out == nullptr) return nullptr;
    return static_cast<FileSink*>(static_cast<wm::IWMWriterFileSink2*>(out));
}

bool FileSink::QueryBase(REFIID iid, void** out) {
    if (iid == wm::IID_IWMWriterSink || iid == wm::IID_IWMWriterFileSink ||
        iid == kIidFileSinkImpl) {
        *out = static_cast<wm::IWMWriterFileSink2*>(this);
        return true;
    }
    return false;
}

HRESULT FileSink::OnHeader(wm::INSSBuffer*) {
    return E_NOTIMPL;
}

HRESULT FileSink::IsRealTime(BOOL* realTime) {
    return CopyOut(FALSE, realTime);
}

HRESULT FileSink::AllocateDataUnit(DWORD, wm::INSSBuffer** dataUnit) {
    if (dataUnit != nullptr) *dataUnit = nullptr;
    return E_NOTIMPL;
}

HRESULT FileSink::OnDataUnit(wm::INSSBuffer*) {
    return E_NOTIMPL;
}

HRESULT FileSink::OnEndWriting() {
    return E_NOTIMPL;
}

HRESULT FileSink::Open(const WCHAR* filename) {
    if (filename == nullptr) return E_POINTER;
    try {
        std::string path;
        if (!ToUtf8(filename, &path)) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::kWriting) return wm::NS_E_INVALID_REQUEST;
        path_ = std::move(path);
        state_ = State::kOpened;
        duration_ = 0;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT FileSink::Start(wm::QWORD) {
    return E_NOTIMPL;
}

HRESULT FileSink::Stop(wm::QWORD) {
    return E_NOTIMPL;
}

HRESULT FileSink::IsStopped(BOOL*) {
    return E_NOTIMPL;
}

HRESULT FileSink::GetFileDuration(wm::QWORD* duration) {
    if (duration == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *duration = duration_;
    return S_OK;
}

HRESULT FileSink::GetFileSize(wm::QWORD* size) {
    if (size == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *size = 0;
    if (state_ == State::kNew) return wm::NS_E_INVALID_REQUEST;
    struct stat st {};
    if (stat(path_.c_str(), &st) == 0) *size = static_cast<wm::QWORD>(st.st_size);
    return S_OK;
}

HRESULT FileSink::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kNew || state_ == State::kWriting) return wm::NS_E_INVALID_REQUEST;
    state_ = State::kClosed;
    return S_OK;
}

HRESULT FileSink::IsClosed(BOOL* closed) {
    if (closed == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *closed = state_ == State::kClosed ? TRUE : FALSE;
    return S_OK;
}

HRESULT FileSink::BeginFile(std::string* path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((state_ != State::kOpened && state_ != State::kFinished) || path_.empty()) {
        return wm::NS_E_INVALID_REQUEST;
    }
    try {
        *path = path_;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    state_ = State::kWriting;
    duration_ = 0;
    return S_OK;
}

void FileSink::EndFile(wm::QWORD duration) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kWriting) state_ = State::kFinished;
    duration_ = duration;
}

}  // namespace ffsdk
