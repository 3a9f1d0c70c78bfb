#include "gltf/resources.h"

#include <array>

namespace ulv {
namespace {

constexpr std::array<std::int8_t, 256> base64Values() {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    const std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return values;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

} // namespace

bool isDataUri(std::string_view uri) { return startsWithNoCase(uri, "data:"); }

std::optional<DataUri> decodeDataUri(std::string_view uri, std::string& why) {
    const std::size_t comma = uri.find(',');
    if (!isDataUri(uri) || comma == std::string_view::npos) {
        why = "malformed data URI";
        return std::nullopt;
    }
    std::string_view header = uri.substr(5, comma - 5);
    std::string_view text = uri.substr(comma + 1);
    constexpr std::string_view base64Tag = ";base64";
    if (header.size() < base64Tag.size() ||
        !startsWithNoCase(header.substr(header.size() - base64Tag.size()), base64Tag)) {
        why = "data URI not in base64";
        return std::nullopt;
    }
    header.remove_suffix(base64Tag.size());
    DataUri out;
    // The media type, without parameters such as ";charset=...".
    out.mimeType = std::string(header.substr(0, header.find(';')));

    // Up to two '=' may fill the last group of four; without them it may be
    // short, but never a single character.
    std::size_t padding = 0;
    while (padding < 2 && !text.empty() && text.back() == '=') {
        text.remove_suffix(1);
        ++padding;
    }
    if (text.size() % 4 == 1 || (padding > 0 && (text.size() + padding) % 4 != 0)) {
        why = "malformed base64 data";
        return std::nullopt;
    }
    static constexpr std::array<std::int8_t, 256> values = base64Values();
    out.bytes.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        const std::int8_t value = values[static_cast<unsigned char>(c)];
        if (value < 0) {
            why = "malformed base64 data";
            return std::nullopt;
        }
        group = (group << 6 | static_cast<std::uint32_t>(value)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.bytes.push_back(static_cast<std::uint8_t>(group >> bits));
        }
    }
    return out;
}

std::string percentDecode(std::string_view uri) {
    std::string out;
    out.reserve(uri.size());
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size()) {
            const int high = hexValue(uri[i + 1]), low = hexValue(uri[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high << 4 | low);
                i += 2;
                continue;
            }
        }
        out += uri[i];
    }
    return out;
}

const std::vector<std::uint8_t>* ResourceCache::fetch(const std::string& uri, std::string& why) {
    auto [at, added] = entries_.try_emplace(uri);
    Entry& entry = at->second;
    if (added) {
        // A file name ends at its first NUL: the loader would open another file.
        if (uri.find('\0') != std::string::npos)
            entry.why = "a NUL byte in its name";
        else if (load_)
            entry.bytes = load_(uri, entry.why);
        else
            entry.why = "no loader for other files";
        if (entry.bytes)
            fetched_ += entry.bytes->size();
        else if (entry.why.empty())
            entry.why = "cannot be read";
    }
    if (!entry.bytes) {
        why = entry.why;
        return nullptr;
    }
    return &*entry.bytes;
}

} // namespace ulv
