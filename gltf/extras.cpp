#include "gltf/extras.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace ulv {
namespace {

constexpr char hexDigits[] = "0123456789abcdef";

void putHex(std::string& out, std::uint64_t value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += hexDigits[value >> shift & 15];
}

void putBytes(std::string& out, const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        putHex(out, static_cast<unsigned char>(bytes[i]), 2);
}

// The parts of `text` between `separator`s.
std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

// A number of exactly `digits` hexadecimal digits.
bool hexOf(std::string_view text, std::size_t digits, std::uint64_t& value) {
    if (text.size() != digits)
        return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

template <typename T> bool wordOf(std::string_view text, T& out) {
    std::uint64_t value = 0;
    if (!hexOf(text, 2 * sizeof(T), value))
        return false;
    out = static_cast<T>(value);
    return true;
}

// Bytes, two digits each; at most `room` of them.
bool bytesOf(std::string_view text, char* out, std::size_t room, std::size_t& count) {
    if (text.size() % 2 != 0 || text.size() / 2 > room)
        return false;
    count = text.size() / 2;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t byte = 0;
        if (!wordOf(text.substr(2 * i, 2), byte))
            return false;
        out[i] = static_cast<char>(byte);
    }
    return true;
}

bool decimalOf(std::string_view text, std::uint32_t& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// Base64 without padding, in the alphabet safe in names and URLs: no
// character of it separates anything here.
constexpr char digits64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// "b" and six triangles a character, the first in the lowest bit.
std::string bitsOf(const TriangleRuns& runs, std::uint32_t triangles) {
    std::vector<std::uint8_t> sextets((std::size_t{triangles} + 5) / 6, 0);
    for (const auto& [first, last] : runs)
        for (std::uint64_t t = first; t <= last; ++t)
            sextets[t / 6] = static_cast<std::uint8_t>(sextets[t / 6] | 1u << (t % 6));
    std::string out = "b";
    for (const std::uint8_t sextet : sextets)
        out += digits64[sextet];
    return out;
}

bool runsOfBits(std::string_view text, std::uint32_t triangles, TriangleRuns& runs) {
    if (text.size() != (std::size_t{triangles} + 5) / 6)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* at = std::strchr(digits64, text[i]);
        if (!at || text[i] == '\0')
            return false;
        const auto sextet = static_cast<unsigned>(at - digits64);
        for (unsigned b = 0; b < 6; ++b) {
            if (!(sextet >> b & 1u))
                continue;
            const auto t = static_cast<std::uint32_t>(6 * i + b);
            if (t >= triangles)
                return false;
            if (!runs.empty() && runs.back().second + 1 == t)
                runs.back().second = t;
            else
                runs.emplace_back(t, t);
        }
    }
    return !runs.empty();
}

} // namespace

std::string headerExtras(const Model& model) {
    std::string out;
    putBytes(out, model.tag.data(), model.tag.size());
    for (const auto& [value, digits] : {std::pair<std::uint64_t, int>{model.minorVersion, 2},
                                        {model.majorVersion, 2},
                                        {model.opaqueShort, 4},
                                        {model.size, 8}}) {
        out += ' ';
        putHex(out, value, digits);
    }
    for (const std::uint32_t word : model.opaqueWords) {
        out += ' ';
        putHex(out, word, 8);
    }
    for (const std::uint32_t word : model.versionExtension) {
        out += ' ';
        putHex(out, word, 8);
    }
    return out;
}

bool readHeaderExtras(std::string_view text, Model& model) {
    const std::vector<std::string_view> parts = split(text, ' ');
    if (parts.size() != 13)
        return false;
    Model fields;
    std::size_t count = 0;
    bool ok = bytesOf(parts[0], fields.tag.data(), fields.tag.size(), count) &&
              count == fields.tag.size() && wordOf(parts[1], fields.minorVersion) &&
              wordOf(parts[2], fields.majorVersion) && wordOf(parts[3], fields.opaqueShort) &&
              wordOf(parts[4], fields.size);
    for (std::size_t i = 0; i < 2; ++i)
        ok = ok && wordOf(parts[5 + i], fields.opaqueWords[i]);
    for (std::size_t i = 0; i < 6; ++i)
        ok = ok && wordOf(parts[7 + i], fields.versionExtension[i]);
    if (!ok)
        return false;
    model.tag = fields.tag;
    model.minorVersion = fields.minorVersion;
    model.majorVersion = fields.majorVersion;
    model.opaqueShort = fields.opaqueShort;
    model.size = fields.size;
    model.opaqueWords = fields.opaqueWords;
    model.versionExtension = fields.versionExtension;
    return true;
}

std::string meshExtras(const Mesh& mesh) {
    std::string out;
    for (const float value : mesh.transform.m) {
        if (!out.empty())
            out += ' ';
        putHex(out, std::bit_cast<std::uint32_t>(value), 8);
    }
    for (const std::uint32_t word : mesh.opaqueWords) {
        out += ' ';
        putHex(out, word, 8);
    }
    return out;
}

bool readMeshExtras(std::string_view text, Mesh& mesh) {
    const std::vector<std::string_view> parts = split(text, ' ');
    if (parts.size() != 18)
        return false;
    Transform transform;
    std::array<std::uint32_t, 6> words{};
    for (std::size_t i = 0; i < 12; ++i) {
        std::uint32_t bits = 0;
        if (!wordOf(parts[i], bits))
            return false;
        transform.m[i] = std::bit_cast<float>(bits);
    }
    for (std::size_t i = 0; i < 6; ++i)
        if (!wordOf(parts[12 + i], words[i]))
            return false;
    mesh.transform = transform;
    mesh.opaqueWords = words;
    return true;
}

std::string sectionExtras(const std::vector<SectionEntry>& entries) {
    std::string out;
    for (const SectionEntry& entry : entries) {
        if (!out.empty())
            out += ' ';
        if (!entry.primitive)
            out += '~';
        const MeshSection& s = entry.fields;
        putBytes(out, s.materialName.data(), s.materialName.size());
        for (const std::uint32_t word : {s.opaqueWord1, s.faceCount, s.lodCount, s.opaqueWord2}) {
            out += '.';
            putHex(out, word, 8);
        }
        if (entry.reversed.empty())
            continue;
        out += '/' + std::to_string(entry.triangles) + ':';
        std::string runs;
        for (std::size_t i = 0; i < entry.reversed.size(); ++i) {
            const auto [first, last] = entry.reversed[i];
            if (i)
                runs += ',';
            runs += std::to_string(first);
            if (last != first)
                runs += '-' + std::to_string(last);
        }
        // Scattered runs are shorter as one bit a triangle; a short list
        // stays readable.
        const std::size_t bits = 1 + (std::size_t{entry.triangles} + 5) / 6;
        out += runs.size() <= bits + 16 ? runs : bitsOf(entry.reversed, entry.triangles);
    }
    return out;
}

std::optional<std::vector<SectionEntry>> readSectionExtras(std::string_view text) {
    std::vector<SectionEntry> entries;
    if (text.empty())
        return entries;
    for (std::string_view part : split(text, ' ')) {
        SectionEntry& entry = entries.emplace_back();
        if (!part.empty() && part.front() == '~') {
            entry.primitive = false;
            part.remove_prefix(1);
        }
        const std::size_t slash = part.find('/');
        const std::vector<std::string_view> fields = split(part.substr(0, slash), '.');
        MeshSection& s = entry.fields;
        std::size_t count = 0;
        if (fields.size() != 5 ||
            !bytesOf(fields[0], s.materialName.data(), s.materialName.size(), count) ||
            count != s.materialName.size() || !wordOf(fields[1], s.opaqueWord1) ||
            !wordOf(fields[2], s.faceCount) || !wordOf(fields[3], s.lodCount) ||
            !wordOf(fields[4], s.opaqueWord2))
            return std::nullopt;
        s.tag = MGRP_TAG;
        if (slash == std::string_view::npos)
            continue;
        const std::string_view after = part.substr(slash + 1);
        const std::size_t colon = after.find(':');
        if (colon == std::string_view::npos || !decimalOf(after.substr(0, colon), entry.triangles))
            return std::nullopt;
        const std::string_view listed = after.substr(colon + 1);
        if (!listed.empty() && listed.front() == 'b') {
            if (!runsOfBits(listed.substr(1), entry.triangles, entry.reversed))
                return std::nullopt;
            continue;
        }
        for (const std::string_view run : split(listed, ',')) {
            const std::size_t dash = run.find('-');
            std::uint32_t first = 0, last = 0;
            if (!decimalOf(run.substr(0, dash), first))
                return std::nullopt;
            last = first;
            if (dash != std::string_view::npos && !decimalOf(run.substr(dash + 1), last))
                return std::nullopt;
            // In order, apart and among the triangles, as written; anything
            // else is not ours.
            if (last < first || last >= entry.triangles ||
                (!entry.reversed.empty() && first <= entry.reversed.back().second))
                return std::nullopt;
            entry.reversed.emplace_back(first, last);
        }
    }
    return entries;
}

std::string storedExtras(const std::vector<StoredValue>& values) {
    std::string out;
    for (const StoredValue& v : values) {
        if (!out.empty())
            out += ' ';
        out += (v.normal ? 'n' : 'p') + std::to_string(v.section) + '.' + std::to_string(v.vertex);
        for (const float f : v.value) {
            out += '.';
            putHex(out, std::bit_cast<std::uint32_t>(f), 8);
        }
    }
    return out;
}

std::optional<std::vector<StoredValue>> readStoredExtras(std::string_view text) {
    std::vector<StoredValue> values;
    if (text.empty())
        return values;
    for (std::string_view part : split(text, ' ')) {
        StoredValue& v = values.emplace_back();
        if (part.empty() || (part.front() != 'p' && part.front() != 'n'))
            return std::nullopt;
        v.normal = part.front() == 'n';
        const std::vector<std::string_view> fields = split(part.substr(1), '.');
        if (fields.size() != 5 || !decimalOf(fields[0], v.section) ||
            !decimalOf(fields[1], v.vertex))
            return std::nullopt;
        for (std::size_t i = 0; i < 3; ++i) {
            std::uint32_t bits = 0;
            if (!wordOf(fields[2 + i], bits))
                return std::nullopt;
            v.value[i] = std::bit_cast<float>(bits);
        }
    }
    return values;
}

std::string nameExtras(const std::string& name) {
    std::string out;
    putBytes(out, name.data(), name.size());
    return out;
}

std::optional<std::string> readNameExtras(std::string_view text) {
    char bytes[32];
    std::size_t count = 0;
    if (!bytesOf(text, bytes, sizeof bytes, count))
        return std::nullopt;
    return std::string(bytes, count);
}

} // namespace ulv
