#include "gltf/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <ostream>

#include "gltf/arrays.h"
#include "model/transform.h"
#include "platform/write_behind.h"

namespace ulv {
namespace {

// Measured quicker than larger buffers: the numbers are moved faster than
// text is formatted, and a buffer then stays in the cache until it is written.
constexpr std::size_t bufferSize = std::size_t{1} << 21;

// Vertices or triangles per piece: a few hundred KiB, warm in the cache
// while they are moved and handed to the writer.
constexpr std::size_t piece = std::size_t{1} << 15;
static_assert(12 * piece <= bufferSize);

// Byte order for glTF's little-endian data on a big-endian host; unused elsewhere.
[[maybe_unused]] std::uint32_t swap32(std::uint32_t v) {
    return v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;
}

// Hands `count` numbers at `values`, the output buffer's room, to the
// writer in glTF's little-endian order. The buffer holds only whole
// numbers, so it stays aligned for them.
template <typename T> void commit(WriteBehind& out, T* values, std::size_t count) {
    if constexpr (std::endian::native != std::endian::little)
        for (std::size_t i = 0; i < count; ++i)
            values[i] = std::bit_cast<T>(swap32(std::bit_cast<std::uint32_t>(values[i])));
    out.commit(reinterpret_cast<char*>(values + count));
}

class ArrayWriter {
  public:
    ArrayWriter(WriteBehind& out, GltfSource& source) : out_(out), source_(source) {}

    bool positions(const Primitive& p) {
        const Transform& transform = source_.model().meshes[p.mesh].transform;
        float lo[3], hi[3];
        std::fill_n(lo, 3, std::numeric_limits<float>::infinity());
        std::fill_n(hi, 3, -std::numeric_limits<float>::infinity());
        for (std::size_t v = 0, n; v < p.vertices; v += n) {
            n = std::min<std::size_t>(piece, p.vertices - v);
            float* values = fetch(p, VertexArray::positions, v, n, 3);
            if (!values)
                return false;
            movePositions(transform, values, n, lo, hi);
            commit(out_, values, 3 * n);
        }
        return std::memcmp(lo, p.min, sizeof lo) == 0 && std::memcmp(hi, p.max, sizeof hi) == 0;
    }

    bool normals(const Primitive& p) {
        const NormalMatrix matrix = normalMatrixOf(source_.model().meshes[p.mesh].transform);
        for (std::size_t v = 0, n; v < p.vertices; v += n) {
            n = std::min<std::size_t>(piece, p.vertices - v);
            float* values = fetch(p, VertexArray::normals, v, n, 3);
            if (!values || !moveNormals(matrix, values, n))
                return false;
            commit(out_, values, 3 * n);
        }
        return true;
    }

    bool texCoords(const Primitive& p) {
        for (std::size_t v = 0, n; v < p.vertices; v += n) {
            n = std::min<std::size_t>(piece, p.vertices - v);
            float* values = fetch(p, VertexArray::texCoords, v, n, 2);
            if (!values)
                return false;
            zeroNonFinite(values, 2 * n);
            commit(out_, values, 2 * n);
        }
        return true;
    }

    bool indices(const Primitive& p) {
        const TriangleRuns& reversed = source_.facts()[p.sectionNumber].reversed;
        std::uint64_t kept = 0;
        for (std::size_t t = 0, n; t < p.allTriangles; t += n) {
            n = std::min<std::size_t>(piece, p.allTriangles - t);
            auto* corners = reinterpret_cast<std::uint32_t*>(out_.room(12 * n));
            if (!source_.triangles(p.sectionNumber, t, n, corners))
                return false;
            const std::size_t count = keepTriangles(corners, n, p.vertices);
            reverseTriangles(corners, count, static_cast<std::uint32_t>(kept), reversed);
            kept += count;
            commit(out_, corners, 3 * count);
        }
        return kept == p.triangles;
    }

  private:
    // `count` vertices' numbers, `width` each, read into the output
    // buffer's room in the host's order; nullptr when they cannot be had.
    float* fetch(const Primitive& p, VertexArray kind, std::uint64_t first, std::size_t count,
                 std::size_t width) {
        auto* values = reinterpret_cast<float*>(out_.room(4 * width * count));
        return source_.vertices(p.sectionNumber, kind, first, count, values) ? values : nullptr;
    }

    WriteBehind& out_;
    GltfSource& source_;
};

} // namespace

bool writeBinary(std::ostream& stream, const Layout& layout, GltfSource& source,
                 const TextureSet& textures) {
    WriteBehind out(stream, bufferSize);
    ArrayWriter arrays(out, source);
    bool ok = true;
    for (const Primitive& p : layout.primitives)
        ok = ok && arrays.positions(p);
    for (const Primitive& p : layout.primitives)
        ok = ok && (!p.hasNormals || arrays.normals(p));
    for (const Primitive& p : layout.primitives)
        ok = ok && arrays.texCoords(p);
    for (const Primitive& p : layout.primitives)
        ok = ok && arrays.indices(p);
    static constexpr char zeros[4] = {};
    for (const std::size_t image : layout.images) {
        const std::vector<std::uint8_t>& png = textures.images[image].png;
        out.put({reinterpret_cast<const char*>(png.data()), png.size()});
        out.put({zeros, (4 - png.size() % 4) % 4});
    }
    return out.flush() && ok;
}

} // namespace ulv
