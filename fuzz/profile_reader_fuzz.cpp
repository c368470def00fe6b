// Fuzzes the settings reader: any bytes must read without a crash, and an
// edit must change only what it names.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "platform/win/profile_document.h"

using ronvix::win::ProfileDocument;

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// The first value of every (section, key) the reader sees.
std::map<std::pair<std::string, std::string>, std::string> Snapshot(const ProfileDocument& doc) {
    std::map<std::pair<std::string, std::string>, std::string> out;
    int sections = 0;
    for (const auto& s : doc.SectionNames()) {
        if (++sections > 32)
            break;
        int keys = 0;
        for (const auto& k : doc.KeyNames(s)) {
            if (++keys > 64)
                break;
            auto v = doc.Get(s, k);
            Check(v.has_value());
            out[{s, k}] = *v;
        }
    }
    return out;
}

bool Edited(const std::pair<std::string, std::string>& name, const std::string& section,
            const std::string& key) {
    return ProfileDocument::SameName(name.first, section) &&
           ProfileDocument::SameName(name.second, key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    ProfileDocument doc(text);
    Check(doc.Content() == text);  // reading changes nothing
    auto before = Snapshot(doc);

    const std::string section = "TMainForm", key = "Flags";
    doc.Set(section, key, "1");
    Check(doc.Get(section, key) == "1");
    for (const auto& [name, value] : Snapshot(doc)) {
        if (Edited(name, section, key))
            continue;
        auto it = before.find(name);
        if (it != before.end())
            Check(it->second == value);
    }
    // The other entries seen before are all still there.
    for (const auto& [name, value] : before) {
        if (Edited(name, section, key))
            continue;
        Check(doc.Get(name.first, name.second) == value);
    }

    doc.DeleteKey(section, key);
    Check(!doc.Get(section, key).has_value());
    doc.EraseSection(section);
    for (const auto& s : doc.SectionNames())
        Check(!ProfileDocument::SameName(s, section));
    return 0;
}
