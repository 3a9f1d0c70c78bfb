// Where a glTF file's buffers and images come from besides the file itself:
// data URIs, and other files fetched once each through the caller's loader.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gltf/reader_base.h"

namespace ulv {

struct DataUri {
    std::string mimeType; // as the URI states it; may be empty
    std::vector<std::uint8_t> bytes;
};

bool isDataUri(std::string_view uri);

// The bytes of a base64 data URI; nullopt and `why` when it is malformed.
std::optional<DataUri> decodeDataUri(std::string_view uri, std::string& why);

// %XX escapes decoded; anything else, '+' included, is kept as it is.
std::string percentDecode(std::string_view uri);

// Fetches each uri once through the loader, and counts what it fetched.
class ResourceCache {
  public:
    explicit ResourceCache(const ResourceLoader& load) : load_(load) {}

    // The file's bytes, or nullptr and `why`. The pointer stays valid as long
    // as the cache.
    const std::vector<std::uint8_t>* fetch(const std::string& uri, std::string& why);

    std::uint64_t bytesFetched() const { return fetched_; }

  private:
    struct Entry {
        std::optional<std::vector<std::uint8_t>> bytes;
        std::string why;
    };
    const ResourceLoader& load_;
    std::map<std::string, Entry> entries_;
    std::uint64_t fetched_ = 0;
};

} // namespace ulv
