// What the glTF reader's parts share with its caller: the exception it
// throws and the loader it fetches other files through.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ulv {

// A file that is not valid glTF 2.0, or that requires an extension we do not
// support. The reason is a few words, for "Not a valid glTF file: " + reason.
class GltfError {
  public:
    explicit GltfError(std::string reason) : reason_(std::move(reason)) {}
    const std::string& what() const noexcept { return reason_; }

  private:
    std::string reason_;
};

// Fetches a buffer's or image's external resource by its uri (percent-decoded,
// relative to the .gltf); nullopt and `why` when it cannot be had.
using ResourceLoader = std::function<std::optional<std::vector<std::uint8_t>>(
    const std::string& uri, std::string& why)>;

} // namespace ulv
