// SPDX-License-Identifier: MIT
#include "song_tags.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "attribute_value.h"
#include "com_ptr.h"
#include "export_guard.h"
#include "heap_buffer.h"
#include "wide_text.h"
#include "wmsdk_factories.h"

namespace mervane {

namespace {

// One field of SongInfo and the attributes behind it. The fallback name is read
// only when reading the first name fails; it is never written.
struct TagField {
    const WCHAR* name;
    const WCHAR* fallback;
    size_t offset;
    size_t size;
};

#define SONG_FIELD(member) offsetof(SongInfo, member), sizeof(SongInfo::member)

// In the order the tags are read and written.
const TagField kTagFields[] = {
    {SDK_TEXT("Title"), SDK_TEXT("WM/Title"), SONG_FIELD(title)},
    {SDK_TEXT("Author"), SDK_TEXT("WM/Author"), SONG_FIELD(author)},
    {SDK_TEXT("WM/AlbumTitle"), nullptr, SONG_FIELD(album)},
    {SDK_TEXT("WM/Track"), nullptr, SONG_FIELD(track)},
    {SDK_TEXT("WM/Year"), nullptr, SONG_FIELD(year)},
    {SDK_TEXT("WM/GenreID"), nullptr, SONG_FIELD(genreId)},
};

#undef SONG_FIELD

void StoreText(const WCHAR* text, size_t count, char* field, size_t fieldSize) {
    int written = 0;
    // Windows rejects an empty source; an empty value is simply an empty field.
    // A text that needs more than fieldSize - 1 bytes fails the conversion.
    if (count > 0 && count <= 0x7FFFFFFF)
        written = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(count), field,
                                      static_cast<int>(fieldSize - 1), nullptr, nullptr);
    field[written > 0 ? written : 0] = 0;
}

void StoreNumber(uint64_t value, char* field, size_t fieldSize) {
    char digits[20];  // enough for any 64-bit value
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (count >= fieldSize) {
        field[0] = 0;
        return;
    }
    for (size_t i = 0; i < count; ++i) field[i] = digits[count - 1 - i];
    field[count] = 0;
}

// A number of `type` from its value, which must hold the type's length.
bool LoadNumber(wm::WMT_ATTR_DATATYPE type, const BYTE* value, size_t length, uint64_t& number) {
    const size_t bytes = wm::FixedValueLength(type);
    if (length < bytes) return false;
    number = 0;
    for (size_t i = bytes; i-- > 0;) number = number << 8 | value[i];
    return true;
}

// Puts an attribute value of `type` and `length` bytes into the field.
void StoreValue(wm::WMT_ATTR_DATATYPE type, const BYTE* value, size_t length, char* field,
                size_t fieldSize) {
    uint64_t number = 0;
    bool isNumber = false;
    switch (type) {
        case wm::WMT_TYPE_STRING: {
            // The text ends at its first 0, or at the stored length when it has
            // none.
            const size_t stored = length / sizeof(WCHAR);
            const auto* text = reinterpret_cast<const WCHAR*>(value);
            const size_t count = static_cast<size_t>(std::find(text, text + stored, 0) - text);
            StoreText(text, count, field, fieldSize);
            return;
        }
        case wm::WMT_TYPE_DWORD:
        case wm::WMT_TYPE_BOOL:
        case wm::WMT_TYPE_QWORD:
        case wm::WMT_TYPE_WORD:
            isNumber = LoadNumber(type, value, length, number);
            break;
        default:  // binary and GUID values have no text
            break;
    }
    if (isNumber)
        StoreNumber(number, field, fieldSize);
    else
        field[0] = 0;
}

}  // namespace

HRESULT ReadTag(wm::IWMHeaderInfo* header, const WCHAR* name, char* field, size_t fieldSize) {
    WORD stream = 0;
    wm::WMT_ATTR_DATATYPE type = wm::WMT_TYPE_STRING;
    WORD length = 0;
    HRESULT hr = header->GetAttributeByName(&stream, name, &type, nullptr, &length);
    if (FAILED(hr) && hr != wm::ASF_E_NOTFOUND) return hr;
    if (length == 0 && hr == wm::ASF_E_NOTFOUND) return S_FALSE;  // absent: field kept

    // A value that could not be read is a failure, never an absent tag.
    HeapBuffer value(length);
    if (!value) return E_OUTOFMEMORY;
    stream = 0;
    hr = header->GetAttributeByName(&stream, name, &type, value.as<BYTE>(), &length);
    if (FAILED(hr)) return hr;
    StoreValue(type, value.as<const BYTE>(), std::min<size_t>(length, value.size()), field,
               fieldSize);
    return hr;
}

namespace {

// The field's text as the SDK takes it; false when the field holds no
// terminator within its size or text that is not valid in the code page.
bool TagText(const char* field, size_t fieldSize, WCHAR (&text)[kMaxTagText]) {
    const void* end = std::memchr(field, 0, fieldSize);
    if (end == nullptr) return false;
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - field);
    int count = 0;
    if (length > 0) {
        count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, field, static_cast<int>(length),
                                    text, kMaxTagText);
        if (count <= 0 || count >= kMaxTagText) return false;
    }
    text[count] = 0;
    return true;
}

}  // namespace

HRESULT WriteTag(wm::IWMHeaderInfo* header, const WCHAR* name, const char* field,
                 size_t fieldSize) {
    WCHAR text[kMaxTagText];
    if (!TagText(field, fieldSize, text)) return E_INVALIDARG;
    size_t count = 0;
    while (text[count] != 0) ++count;
    return header->SetAttribute(0, name, wm::WMT_TYPE_STRING, reinterpret_cast<const BYTE*>(text),
                                static_cast<WORD>((count + 1) * sizeof(WCHAR)));
}

namespace {

// Each tag in turn; a tag that fails does not stop the others, and the first
// failure is the call's.
HRESULT ReadTags(wm::IWMHeaderInfo* header, SongInfo& info) {
    auto* bytes = reinterpret_cast<char*>(&info);
    HRESULT first = S_OK;
    for (const TagField& tag : kTagFields) {
        char* field = bytes + tag.offset;
        HRESULT hr = ReadTag(header, tag.name, field, tag.size);
        // The fallback stands in for a name that could not be read only when
        // the file holds it.
        if (FAILED(hr) && tag.fallback != nullptr &&
            ReadTag(header, tag.fallback, field, tag.size) == S_OK)
            hr = S_OK;
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    return first;
}

HRESULT WriteTags(wm::IWMHeaderInfo* header, const SongInfo& info) {
    const auto* bytes = reinterpret_cast<const char*>(&info);
    HRESULT first = S_OK;
    for (const TagField& tag : kTagFields) {
        const HRESULT hr = WriteTag(header, tag.name, bytes + tag.offset, tag.size);
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    return first;
}

}  // namespace

HRESULT EditTags(const WCHAR* path, SongRecord record, bool read) {
    if (!read) {
        // Text that cannot be stored is refused before the file is opened.
        const auto* bytes = reinterpret_cast<const char*>(record.writeFrom);
        for (const TagField& tag : kTagFields) {
            WCHAR text[kMaxTagText];
            if (!TagText(bytes + tag.offset, tag.size, text)) return E_INVALIDARG;
        }
    }

    // The header info goes before the editor.
    wm::ComPtr<wm::IWMMetadataEditor> editor;
    wm::ComPtr<wm::IWMHeaderInfo> header;
    HRESULT hr = WMCreateEditor(editor.Put());
    if (FAILED(hr)) return hr;
    if (!editor) return E_POINTER;
    // Not opened, or opened but unusable: no Close.
    hr = editor->Open(path);
    if (FAILED(hr)) return hr;
    hr = editor.As(header);
    if (FAILED(hr)) return hr;

    if (read) {
        hr = ReadTags(header.Get(), *record.readInto);
    } else {
        hr = WriteTags(header.Get(), *record.writeFrom);
        // Tags that did not reach the file (a full disk, a file-size limit, a
        // read-only file system) are a failed write.
        const HRESULT flushed = editor->Flush();
        if (SUCCEEDED(hr)) hr = flushed;
    }
    // Close changes nothing in the file, so its result does not make what is
    // there true or false.
    editor->Close();
    return hr;
}

}  // namespace mervane

namespace {

int32_t EditTagsAt(const char* path, mervane::SongRecord record, bool read) {
    WCHAR widePath[mervane::kMaxWidePath];
    mervane::ToWidePath(path, widePath);
    return SUCCEEDED(mervane::EditTags(widePath, record, read)) ? 1 : 0;
}

}  // namespace

extern "C" MERVANE_API int32_t MERVANE_CALL GetWmaSongInfo(const char* path, SongInfo* info) {
    return mervane::GuardExport(0, [&] {
        if (path == nullptr || info == nullptr) return 0;
        return EditTagsAt(path, mervane::SongRecord(info), true);
    });
}

extern "C" MERVANE_API int32_t MERVANE_CALL SetWmaSongInfo(const char* path, const SongInfo* info) {
    return mervane::GuardExport(0, [&] {
        if (path == nullptr || info == nullptr) return 0;
        return EditTagsAt(path, mervane::SongRecord(info), false);
    });
}
