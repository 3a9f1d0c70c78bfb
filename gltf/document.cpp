// The one file that compiles tinygltf's functions.
#define TINYGLTF_IMPLEMENTATION
#include "gltf/document.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "texture/find.h"

namespace ulv {
namespace {

using nlohmann::json;

// Far deeper than glTF's own objects go (about ten levels), shallow enough
// for tinygltf, which copies extras and extensions by recursion.
constexpr int maxDepth = 64;

constexpr std::uint32_t jsonChunk = 0x4E4F534A;
constexpr std::uint32_t binChunk = 0x004E4942;

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

struct Container {
    std::string_view json;
    std::optional<ByteRange> bin; // a .glb's BIN chunk
    bool glb = false;
};

// The chunks of a .glb, checked in full: tinygltf 2.7.0 lets a BIN chunk's
// stated length run 8 bytes past the file.
Container splitGlb(const std::uint8_t* data, std::size_t size) {
    if (size < 12)
        throw GltfError("the .glb is truncated");
    const std::uint32_t version = le32(data + 4);
    if (version != 2)
        throw GltfError("a .glb of version " + std::to_string(version) + ", not 2");
    const std::uint32_t length = le32(data + 8);
    if (length > size)
        throw GltfError("the .glb is truncated");
    if (length < size)
        throw GltfError("the .glb is longer than its header states");
    Container out;
    out.glb = true;
    bool first = true;
    for (std::size_t at = 12; at < length;) {
        if (length - at < 8)
            throw GltfError("the .glb is truncated");
        const std::uint32_t chunkLength = le32(data + at), type = le32(data + at + 4);
        at += 8;
        if (chunkLength > length - at)
            throw GltfError("the .glb is truncated");
        if (first && type != jsonChunk)
            throw GltfError("the .glb does not start with a JSON chunk");
        if (first)
            out.json = {reinterpret_cast<const char*>(data + at), chunkLength};
        else if (type == binChunk && !out.bin)
            out.bin = ByteRange{data + at, chunkLength};
        // Chunks of other types are for extensions: skipped.
        first = false;
        at += chunkLength;
    }
    if (first)
        throw GltfError("the .glb does not start with a JSON chunk");
    return out;
}

Container split(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        throw GltfError("the file is empty");
    if (size >= 4 && std::memcmp(data, "glTF", 4) == 0)
        return splitGlb(data, size);
    return {{reinterpret_cast<const char*>(data), size}, std::nullopt, false};
}

struct TooDeep {};

json parseJson(std::string_view text) {
    try {
        return json::parse(text.begin(), text.end(),
                           [](int depth, json::parse_event_t event, json&) {
                               if ((event == json::parse_event_t::object_start ||
                                    event == json::parse_event_t::array_start) &&
                                   depth >= maxDepth)
                                   throw TooDeep{};
                               return true;
                           });
    } catch (const TooDeep&) {
        throw GltfError("JSON nested deeper than " + std::to_string(maxDepth) + " levels");
    } catch (const json::parse_error& e) {
        throw GltfError("not JSON (error at byte " + std::to_string(e.byte) + ")");
    } catch (const json::exception&) {
        // nlohmann refuses numbers beyond a double's range.
        throw GltfError("not JSON (a number out of range)");
    }
}

// "M.N" as two numbers; nullopt when it is not of that form.
std::optional<std::pair<std::uint64_t, std::uint64_t>> versionOf(const std::string& text) {
    const std::size_t dot = text.find('.');
    if (dot == 0 || dot == std::string::npos || dot + 1 == text.size() || dot > 9 ||
        text.size() - dot > 10)
        return std::nullopt;
    std::uint64_t parts[2] = {0, 0};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == dot)
            continue;
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        std::uint64_t& part = parts[i > dot];
        part = part * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    return std::pair{parts[0], parts[1]};
}

void checkVersion(const json& root) {
    const auto asset = root.find("asset");
    if (asset == root.end() || !asset->is_object())
        throw GltfError("no asset object");
    const auto version = asset->find("version");
    if (version == asset->end() || !version->is_string())
        throw GltfError("no asset version");
    const std::string& text = version->get_ref<const std::string&>();
    const auto parsed = versionOf(text);
    if (!parsed || parsed->first != 2)
        throw GltfError("glTF " + printable(text.substr(0, 20)) + ", not 2.x");
    const auto minVersion = asset->find("minVersion");
    if (minVersion != asset->end() && minVersion->is_string()) {
        const auto least = versionOf(minVersion->get_ref<const std::string&>());
        if (least && (least->first != 2 || least->second != 0))
            throw GltfError("requires glTF " + std::to_string(least->first) + "." +
                            std::to_string(least->second));
    }
}

// Extensions that change nothing these records hold may be required.
bool supported(const std::string& extension) {
    return extension == "KHR_mesh_quantization" || extension.rfind("KHR_materials_", 0) == 0;
}

// Whether KHR_mesh_quantization is in use.
bool checkExtensions(const json& root) {
    bool quantized = false;
    for (const bool required : {false, true}) {
        const char* list = required ? "extensionsRequired" : "extensionsUsed";
        const auto names = root.find(list);
        if (names == root.end())
            continue;
        if (!names->is_array())
            throw GltfError(std::string(list) + " is not a list of names");
        for (const json& name : *names) {
            if (!name.is_string())
                throw GltfError(std::string(list) + " is not a list of names");
            const std::string& text = name.get_ref<const std::string&>();
            if (text == "KHR_mesh_quantization")
                quantized = true;
            if (required && !supported(text))
                throw GltfError("requires unsupported extension " + printable(text));
        }
    }
    return quantized;
}

// An index or size in the JSON: a non-negative integer, or nullopt.
std::optional<std::uint64_t> unsignedOf(const json& object, const char* key) {
    const auto it = object.find(key);
    // nlohmann keeps negative integers, and only those, as signed.
    if (it == object.end() || !it->is_number_unsigned())
        return std::nullopt;
    return it->get<std::uint64_t>();
}

// Takes an array of objects out of the root, so that tinygltf never sees it.
json takeArray(json& root, const char* key) {
    const auto it = root.find(key);
    if (it == root.end())
        return json::array();
    json out = std::move(*it);
    root.erase(key);
    if (!out.is_array())
        throw GltfError(std::string(key) + " is not an array");
    for (const json& entry : out)
        if (!entry.is_object())
            throw GltfError(std::string(key) + " holds something other than objects");
    return out;
}

std::vector<ImageSource> imagesOf(json& images) {
    std::vector<ImageSource> out;
    for (std::size_t i = 0; i < images.size(); ++i) {
        json& image = images[i];
        ImageSource source;
        const std::string name = "image " + std::to_string(i);
        const auto uri = image.find("uri");
        const bool hasView = image.contains("bufferView");
        if ((uri != image.end()) == hasView)
            throw GltfError(name + " needs either a uri or a bufferView");
        if (uri != image.end()) {
            if (!uri->is_string())
                throw GltfError(name + " has a uri that is not text");
            source.uri = std::move(uri->get_ref<std::string&>());
        } else {
            const auto view = unsignedOf(image, "bufferView");
            if (!view || *view > std::numeric_limits<std::int64_t>::max())
                throw GltfError(name + " has a bufferView that is not an index");
            source.bufferView = static_cast<std::int64_t>(*view);
        }
        const auto mimeType = image.find("mimeType");
        if (mimeType != image.end() && mimeType->is_string())
            source.mimeType = mimeType->get<std::string>();
        out.push_back(std::move(source));
    }
    return out;
}

void loadBuffers(json& buffers, const Container& container, ResourceCache& cache,
                 GltfDocument& doc) {
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        json& buffer = buffers[i];
        const std::string name = "buffer " + std::to_string(i);
        const auto length = unsignedOf(buffer, "byteLength");
        if (!length || *length == 0)
            throw GltfError(name + " has no byteLength");
        const auto uri = buffer.find("uri");
        ByteRange bytes;
        if (uri == buffer.end()) {
            // Only the first buffer of a .glb may be its BIN chunk.
            if (!container.glb || i != 0)
                throw GltfError(name + " has no uri");
            if (!container.bin)
                throw GltfError("buffer 0 has no BIN chunk to refer to");
            bytes = *container.bin;
        } else if (!uri->is_string()) {
            throw GltfError(name + " has a uri that is not text");
        } else if (isDataUri(uri->get_ref<const std::string&>())) {
            std::string why;
            auto decoded = decodeDataUri(uri->get_ref<const std::string&>(), why);
            if (!decoded)
                throw GltfError(name + ": " + why);
            doc.decoded.push_back(std::move(decoded->bytes));
            bytes = {doc.decoded.back().data(), doc.decoded.back().size()};
        } else {
            const std::string file = percentDecode(uri->get_ref<const std::string&>());
            std::string why;
            const std::vector<std::uint8_t>* fetched = cache.fetch(file, why);
            if (!fetched)
                throw GltfError("cannot read " + printable(file) + " (" + why + ")");
            bytes = {fetched->data(), fetched->size()};
        }
        if (bytes.size < *length)
            throw GltfError(name + " is shorter than its byteLength");
        bytes.size = *length;
        doc.buffers.push_back(bytes);
    }
}

// tinygltf's message in a few words: its first line.
std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '.'))
        line.pop_back();
    return line.empty() ? std::string("tinygltf refused the JSON") : printable(line);
}

} // namespace

GltfDocument readDocument(const std::uint8_t* data, std::size_t size, ResourceCache& cache) {
    const Container container = split(data, size);
    json root = parseJson(container.json);
    if (!root.is_object())
        throw GltfError("the JSON is not an object");
    checkVersion(root);

    GltfDocument doc;
    doc.quantized = checkExtensions(root);
    json buffers = takeArray(root, "buffers");
    json images = takeArray(root, "images");
    doc.images = imagesOf(images);
    images = nullptr;
    loadBuffers(buffers, container, cache, doc);
    buffers = nullptr;

    // tinygltf reads the rest from text; numbers are written so that they
    // read back the same.
    std::string text = root.dump(-1, ' ', false, json::error_handler_t::replace);
    root = nullptr;
    if (text.size() > std::numeric_limits<unsigned int>::max())
        throw GltfError("the JSON is over 4 GiB");
    tg::TinyGLTF loader;
    std::string err, warn;
    bool read = false;
    try {
        read = loader.LoadASCIIFromString(&doc.model, &err, &warn, text.data(),
                                          static_cast<unsigned int>(text.size()), "");
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        err = e.what();
    }
    if (!read)
        throw GltfError(firstLine(err));
    return doc;
}

} // namespace ulv
