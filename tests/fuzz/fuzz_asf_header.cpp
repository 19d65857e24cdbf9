// SPDX-License-Identifier: MIT
// The stand-in's ASF header parser on any bytes: never a crash; a header it
// takes survives being written out, parsed again, edited and written again.
#include <cstring>
#include <string>
#include <vector>

#include "asf/asf_header.h"
#include "fuzz_support.h"
#include "wave_format.h"

namespace {

// The attributes as names, types and values, for comparing two parses.
std::vector<std::string> Describe(const asf::Header& header) {
    std::vector<std::string> out;
    for (size_t i = 0; i < header.tags().count(); ++i) {
        const asf::Attribute* a = header.tags().at(i);
        if (a == nullptr) fuzz::Fail("an attribute index below count() has no attribute");
        std::string line(reinterpret_cast<const char*>(a->name().data()), a->name().size() * 2);
        line += static_cast<char>(a->type());
        line.append(a->value().begin(), a->value().end());
        // The computed file size follows the layout, not the attribute.
        if (a->name() != u"FileSize") out.push_back(std::move(line));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    asf::Header header;
    if (!header.Parse(data, size)) return 0;
    for (size_t i = 0; i < header.tags().count(); ++i) {
        const asf::Attribute* a = header.tags().at(i);
        if (header.tags().Find(a->name()) == nullptr)
            fuzz::Fail("an attribute listed is not found by name");
    }
    for (const asf::Stream& stream : header.streams()) {
        wm::WaveFormat wave;
        wm::ReadWholeWaveFormat(stream.typeSpecific.data(), stream.typeSpecific.size(), &wave);
    }

    const std::vector<uint8_t> written = header.Serialize();
    asf::Header again;
    if (!again.Parse(written.data(), written.size())) fuzz::Fail("a written header does not parse");
    if (Describe(again) != Describe(header)) fuzz::Fail("a written header reads differently");

    const char16_t title[] = u"Fuzzed";
    if (again.Set(u"Title", wm::WMT_TYPE_STRING, reinterpret_cast<const uint8_t*>(title),
                  sizeof title)) {
        const std::vector<uint8_t> edited = again.Serialize();
        asf::Header third;
        if (!third.Parse(edited.data(), edited.size()))
            fuzz::Fail("an edited header does not parse");
        const asf::Attribute* back = third.tags().Find(u"Title");
        if (back == nullptr || back->value().size() != sizeof title ||
            std::memcmp(back->value().data(), title, sizeof title) != 0)
            fuzz::Fail("an edited title reads back differently");
    }
    return 0;
}
