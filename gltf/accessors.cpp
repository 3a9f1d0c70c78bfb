#include "gltf/accessors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <type_traits>

#include "platform/huge_pages.h"

namespace ulv {
namespace {

constexpr int byteType = 5120, ubyteType = 5121, shortType = 5122, ushortType = 5123,
              uintType = 5125, floatType = 5126;

constexpr std::uint64_t fourGiB = std::uint64_t{1} << 32;

std::string accessorName(int index) { return "accessor " + std::to_string(index); }

std::uint64_t componentSize(int type) {
    switch (type) {
    case byteType:
    case ubyteType:
        return 1;
    case shortType:
    case ushortType:
        return 2;
    case uintType:
    case floatType:
        return 4;
    default:
        return 0;
    }
}

std::uint32_t le16(const std::uint8_t* p) { return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8; }
std::uint32_t le32(const std::uint8_t* p) {
    return le16(p) | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

struct View {
    const std::uint8_t* data;
    std::uint64_t size, stride;
};

View viewAt(const GltfDocument& doc, int index, const std::string& user) {
    const ByteRange bytes = viewBytes(doc, index, user);
    return {bytes.data, bytes.size,
            doc.model.bufferViews[static_cast<std::size_t>(index)].byteStride};
}

// Whether `count` elements of `elementSize` bytes, `stride` apart from
// `offset` on, lie within `size` bytes; no product can overflow.
bool fits(std::uint64_t size, std::uint64_t offset, std::uint64_t count, std::uint64_t elementSize,
          std::uint64_t stride) {
    if (count == 0)
        return offset <= size;
    if (offset > size || size - offset < elementSize)
        return false;
    return count - 1 <= (size - offset - elementSize) / stride;
}

// One element's components, each converted as glTF says: normalized
// integers by their largest value, signed ones no lower than -1.
template <typename Out> void decodeElement(int type, bool normalized, const std::uint8_t* p,
                                           unsigned components, Out* out) {
    for (unsigned c = 0; c < components; ++c) {
        if constexpr (std::is_same_v<Out, std::uint32_t>) {
            out[c] = type == ubyteType    ? p[c]
                     : type == ushortType ? le16(p + 2 * c)
                                          : le32(p + 4 * c);
        } else {
            float value = 0;
            switch (type) {
            case floatType:
                value = std::bit_cast<float>(le32(p + 4 * c));
                break;
            case ubyteType:
                value = normalized ? static_cast<float>(p[c]) / 255.0f : static_cast<float>(p[c]);
                break;
            case byteType: {
                const auto v = static_cast<float>(static_cast<std::int8_t>(p[c]));
                value = normalized ? std::max(v / 127.0f, -1.0f) : v;
                break;
            }
            case ushortType: {
                const auto v = static_cast<float>(le16(p + 2 * c));
                value = normalized ? v / 65535.0f : v;
                break;
            }
            case shortType: {
                const auto v = static_cast<float>(static_cast<std::int16_t>(le16(p + 2 * c)));
                value = normalized ? std::max(v / 32767.0f, -1.0f) : v;
                break;
            }
            default:
                break;
            }
            out[c] = value;
        }
    }
}

template <typename Out> void applySparse(const GltfDocument& doc, int index, unsigned components,
                                         std::uint64_t elementSize, std::vector<Out>& out) {
    const tg::Accessor& accessor = doc.model.accessors[static_cast<std::size_t>(index)];
    const auto& sparse = accessor.sparse;
    const std::string name = accessorName(index);
    if (sparse.count < 0 || static_cast<std::uint64_t>(sparse.count) > accessor.count)
        throw GltfError(name + " has a sparse count past its elements");
    const auto count = static_cast<std::uint64_t>(sparse.count);
    const int indexType = sparse.indices.componentType;
    if (indexType != ubyteType && indexType != ushortType && indexType != uintType)
        throw GltfError(name + " has sparse indices that are not unsigned integers");
    const std::uint64_t indexSize = componentSize(indexType);
    const View indices = viewAt(doc, sparse.indices.bufferView, name + "'s sparse indices");
    if (sparse.indices.byteOffset < 0 ||
        !fits(indices.size, static_cast<std::uint64_t>(sparse.indices.byteOffset), count, indexSize,
              indexSize))
        throw GltfError(name + "'s sparse indices reach past their buffer view");
    const View values = viewAt(doc, sparse.values.bufferView, name + "'s sparse values");
    if (sparse.values.byteOffset < 0 ||
        !fits(values.size, static_cast<std::uint64_t>(sparse.values.byteOffset), count, elementSize,
              elementSize))
        throw GltfError(name + "'s sparse values reach past their buffer view");

    const std::uint8_t* at = indices.data + sparse.indices.byteOffset;
    const std::uint8_t* value = values.data + sparse.values.byteOffset;
    for (std::uint64_t k = 0; k < count; ++k, at += indexSize, value += elementSize) {
        std::uint32_t target = 0;
        decodeElement<std::uint32_t>(indexType, false, at, 1, &target);
        if (target >= accessor.count)
            throw GltfError(name + " has a sparse index past its elements");
        decodeElement(accessor.componentType, accessor.normalized, value, components,
                      out.data() + std::uint64_t{target} * components);
    }
}

// The accessor's elements, after its type was checked: zeros where it has no
// buffer view, then its sparse values.
template <typename Out> std::vector<Out> readElements(const GltfDocument& doc, int index,
                                                      unsigned components, DecodeBudget& budget) {
    const tg::Accessor& accessor = doc.model.accessors[static_cast<std::size_t>(index)];
    const std::string name = accessorName(index);
    const std::uint64_t elementSize = components * componentSize(accessor.componentType);
    const std::uint64_t count = accessor.count;
    if (count > (fourGiB - 1) / elementSize)
        throw GltfError(name + " claims 4 GiB or more");
    std::optional<View> view;
    if (accessor.bufferView != -1) {
        view = viewAt(doc, accessor.bufferView, name);
        if (view->stride == 0)
            view->stride = elementSize;
        if (view->stride < elementSize)
            throw GltfError(name + "'s elements are wider than its buffer view's byteStride");
        if (!fits(view->size, accessor.byteOffset, count, elementSize, view->stride))
            throw GltfError(name + " reaches past its buffer view");
    }
    budget.take(count * components);
    // Packed values of the very type wanted, as most exporters write them:
    // taken as they are.
    constexpr int sameType = std::is_same_v<Out, float> ? floatType : uintType;
    if (view && view->stride == elementSize && accessor.componentType == sameType &&
        !accessor.sparse.isSparse && std::endian::native == std::endian::little) {
        const std::uint8_t* at = view->data + accessor.byteOffset;
        std::vector<Out> packed;
        packed.reserve(count * components);
        adviseHugePages(packed.data(), count * elementSize, true);
        if (reinterpret_cast<std::uintptr_t>(at) % alignof(Out) == 0) {
            // The file's bytes were read into storage of unsigned char, in
            // which values of other types may live (C++20's implicit
            // objects): copied in one pass, the vector not cleared first.
            const Out* values = std::launder(reinterpret_cast<const Out*>(at));
            packed.assign(values, values + count * components);
        } else {
            packed.resize(count * components);
            if (count > 0)
                std::memcpy(packed.data(), at, count * elementSize);
        }
        return packed;
    }
    std::vector<Out> out(count * components);
    if (view) {
        const std::uint8_t* at = view->data + accessor.byteOffset;
        for (std::uint64_t i = 0; i < count; ++i, at += view->stride)
            decodeElement(accessor.componentType, accessor.normalized, at, components,
                          out.data() + i * components);
    }
    if (accessor.sparse.isSparse)
        applySparse(doc, index, components, elementSize, out);
    return out;
}

const char* typeName(Attribute attribute, bool quantized) {
    switch (attribute) {
    case Attribute::position:
        return quantized ? "VEC3 float or integer" : "VEC3 float";
    case Attribute::normal:
        return quantized ? "VEC3 float or normalized integer" : "VEC3 float";
    case Attribute::texCoord:
        return quantized ? "VEC2 float or integer" : "VEC2 float or normalized integer";
    }
    return "";
}

bool allowed(Attribute attribute, int type, bool normalized, bool quantized) {
    if (type == floatType)
        return true;
    // tinygltf lets through any type from 5120 to 5130.
    const bool small =
        type == byteType || type == ubyteType || type == shortType || type == ushortType;
    switch (attribute) {
    case Attribute::position:
        return quantized && small;
    case Attribute::normal:
        return quantized && normalized && (type == byteType || type == shortType);
    case Attribute::texCoord:
        return small && (quantized || (normalized && (type == ubyteType || type == ushortType)));
    }
    return false;
}

} // namespace

DecodeBudget::DecodeBudget(std::uint64_t inputBytes)
    : left_(std::min<std::uint64_t>(inputBytes, std::uint64_t{1} << 48) * 64 + (16u << 20)) {}

void DecodeBudget::take(std::uint64_t numbers) {
    if (numbers > left_ / 4)
        throw GltfError("decoded data would exceed 64 times the file's size");
    left_ -= numbers * 4;
}

ByteRange viewBytes(const GltfDocument& doc, std::int64_t index, const std::string& user) {
    if (index < 0 || static_cast<std::uint64_t>(index) >= doc.model.bufferViews.size())
        throw GltfError(user + " refers to missing buffer view " + std::to_string(index));
    const tg::BufferView& view = doc.model.bufferViews[static_cast<std::size_t>(index)];
    const std::string name = "buffer view " + std::to_string(index);
    if (view.buffer < 0 || static_cast<std::size_t>(view.buffer) >= doc.buffers.size())
        throw GltfError(name + " refers to missing buffer " + std::to_string(view.buffer));
    const ByteRange& buffer = doc.buffers[static_cast<std::size_t>(view.buffer)];
    if (view.byteOffset > buffer.size || view.byteLength > buffer.size - view.byteOffset)
        throw GltfError(name + " reaches past its buffer");
    return {buffer.data + view.byteOffset, view.byteLength};
}

const tg::Accessor& accessorAt(const GltfDocument& doc, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= doc.model.accessors.size())
        throw GltfError(accessorName(index) + " does not exist");
    return doc.model.accessors[static_cast<std::size_t>(index)];
}

std::vector<float> readAttribute(const GltfDocument& doc, int index, Attribute attribute,
                                 const std::string& semantic, DecodeBudget& budget) {
    const tg::Accessor& accessor = accessorAt(doc, index);
    const int components =
        attribute == Attribute::texCoord ? TINYGLTF_TYPE_VEC2 : TINYGLTF_TYPE_VEC3;
    if (accessor.type != components ||
        !allowed(attribute, accessor.componentType, accessor.normalized, doc.quantized))
        throw GltfError(semantic + " " + accessorName(index) + " is not " +
                        typeName(attribute, doc.quantized));
    return readElements<float>(doc, index, static_cast<unsigned>(components), budget);
}

std::vector<std::uint32_t> readIndices(const GltfDocument& doc, int index, DecodeBudget& budget) {
    const tg::Accessor& accessor = accessorAt(doc, index);
    const int type = accessor.componentType;
    if (accessor.type != TINYGLTF_TYPE_SCALAR ||
        (type != ubyteType && type != ushortType && type != uintType))
        throw GltfError("indices " + accessorName(index) + " is not SCALAR unsigned integer");
    return readElements<std::uint32_t>(doc, index, 1, budget);
}

} // namespace ulv
