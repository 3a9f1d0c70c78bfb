#include "obj/writer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <ostream>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "model/transform.h"
#include "obj/format.h"
#include "obj/pieces.h"
#include "obj/text.h"
#include "platform/threads.h"

namespace ulv {
namespace {

// A section, or a mesh without sections, with where its lines fall in each
// pass of the whole file.
struct Entry {
    MeshSection* section = nullptr; // null for a mesh without sections
    const Transform* transform = nullptr;
    std::uint64_t vertexStart = 0;
    std::uint64_t vertices = 0;
    std::uint64_t faceStart = 0;
    std::uint64_t faces = 0;
    std::uint32_t base = 1; // the OBJ's number of the section's first vertex
    std::int32_t group = 0;
    bool endsMesh = false; // a blank line follows its faces
    std::string material;
};

struct Layout {
    std::vector<Entry> entries;
    std::uint64_t vertices = 0;
    std::uint64_t faces = 0;
    // Per entry, the face pieces that have yet to read its triangles.
    std::unique_ptr<std::atomic<std::uint32_t>[]> faceReaders;
};

enum class Pass { positions, normals, texCoords, faces };

// Lines [begin, end) of one pass. Text at the boundary between two pieces
// (a group's header, a mesh's closing blank line) goes to the later one; the
// pass's last piece also takes what comes at its very end.
struct Piece {
    Pass pass = Pass::positions;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool last = false;
    std::string_view lead; // text before the lines
};

Layout layoutOf(Model& model) {
    Layout layout;
    std::uint32_t base = 1;
    std::int32_t group = 0;
    for (Mesh& mesh : model.meshes) {
        if (mesh.sections.empty()) {
            Entry entry;
            entry.vertexStart = layout.vertices;
            entry.faceStart = layout.faces;
            entry.endsMesh = true;
            layout.entries.push_back(std::move(entry));
            continue;
        }
        for (MeshSection& section : mesh.sections) {
            Entry entry{.section = &section,
                        .transform = &mesh.transform,
                        .vertexStart = layout.vertices,
                        .vertices = vertexLimit(section),
                        .faceStart = layout.faces,
                        .faces = faceLimit(section),
                        .base = base,
                        .group = group++,
                        .endsMesh = &section == &mesh.sections.back(),
                        .material = materialNameOf(section)};
            layout.vertices += entry.vertices;
            layout.faces += entry.faces;
            // Wraps as 32-bit unsigned arithmetic does; numbers are not range-checked.
            base += section.vertexCount;
            layout.entries.push_back(std::move(entry));
        }
    }
    return layout;
}

void addPass(std::vector<Piece>& pieces, Pass pass, std::uint64_t lines, std::uint64_t perPiece,
             std::string_view lead) {
    std::uint64_t begin = 0;
    do {
        const std::uint64_t end = std::min(lines, begin + perPiece);
        pieces.push_back({pass, begin, end, end == lines, begin == 0 ? lead : std::string_view{}});
        begin = end;
    } while (begin < lines);
}

// Sizes known at compile time keep each line's copies and loops inline.
template <std::size_t width, bool negateLast, std::size_t prefixSize>
void writeVectors(TextChain& out, const char (&prefix)[prefixSize], const float* values,
                  std::uint64_t count) {
    for (std::uint64_t k = 0; k < count; ++k, values += width) {
        char* p = out.room();
        std::memcpy(p, prefix, prefixSize - 1);
        p += prefixSize - 1;
        for (std::size_t c = 0; c < width; ++c) {
            *p++ = ' ';
            // Negation flips the sign bit only, so a stored 0 becomes -0.
            const float value = negateLast && c + 1 == width ? -values[c] : values[c];
            p = formatFixed6(p, value);
        }
        out.commit(endLine(p));
    }
}

void writeFaces(TextChain& out, const std::uint32_t* index, std::uint64_t count,
                std::uint32_t base) {
    // Each corner repeats one number three times: formatted once, copied
    // whole; the copies' excess is overwritten by what follows.
    char digits[16] = {};
    for (std::uint64_t t = 0; t < count; ++t, index += 3) {
        char* p = out.room();
        *p++ = 'f';
        for (int corner = 0; corner < 3; ++corner) {
            const std::uint32_t number = index[corner] + base;
            const auto length = static_cast<std::size_t>(formatUint(digits, number) - digits);
            for (const char separator : {' ', '/', '/'}) {
                *p = separator;
                std::memcpy(p + 1, digits, sizeof digits);
                p += 1 + length;
            }
        }
        out.commit(endLine(p));
    }
}

void formatVertices(TextChain& out, Layout& layout, const Piece& piece) {
    auto entry =
        std::partition_point(layout.entries.begin(), layout.entries.end(), [&](const Entry& e) {
            return e.vertexStart + e.vertices <= piece.begin;
        });
    for (; entry != layout.entries.end() && entry->vertexStart < piece.end; ++entry) {
        if (!entry->section)
            continue;
        const std::uint64_t from = std::max(piece.begin, entry->vertexStart) - entry->vertexStart;
        const std::uint64_t to =
            std::min(piece.end, entry->vertexStart + entry->vertices) - entry->vertexStart;
        MeshSection& section = *entry->section;
        switch (piece.pass) {
        case Pass::positions: {
            float* position = section.positions.data() + 3 * from;
            for (std::uint64_t k = from; k < to; ++k)
                transformPoint(*entry->transform, section.positions.data() + 3 * k);
            writeVectors<3, false>(out, "v", position, to - from);
            break;
        }
        case Pass::normals:
            writeVectors<3, false>(out, "vn", section.normals.data() + 3 * from, to - from);
            break;
        case Pass::texCoords:
            writeVectors<2, true>(out, "vt", section.texCoords.data() + 2 * from, to - from);
            break;
        case Pass::faces:
            break;
        }
    }
}

void formatFaces(TextChain& out, Layout& layout, const Piece& piece) {
    const auto here = [&](std::uint64_t line) {
        return line >= piece.begin && (line < piece.end || (piece.last && line == piece.end));
    };
    auto entry =
        std::partition_point(layout.entries.begin(), layout.entries.end(),
                             [&](const Entry& e) { return e.faceStart + e.faces < piece.begin; });
    for (; entry != layout.entries.end() &&
           (entry->faceStart < piece.end || (piece.last && entry->faceStart == piece.end));
         ++entry) {
        if (entry->section && here(entry->faceStart)) {
            out.commit(endLine(formatInt(putText(out.room(), "g group"), entry->group)));
            if (!entry->material.empty())
                out.commit(endLine(putText(putText(out.room(), "usemtl "), entry->material)));
        }
        const std::uint64_t from = std::max(piece.begin, entry->faceStart) - entry->faceStart;
        const std::uint64_t to =
            std::min(piece.end, entry->faceStart + entry->faces) - entry->faceStart;
        if (to > from) {
            writeFaces(out, entry->section->indices.data() + 3 * from, to - from, entry->base);
            // The last piece to read a section's triangles frees them, while
            // the other thread works, rather than after the last write.
            const auto k = static_cast<std::size_t>(entry - layout.entries.begin());
            if (layout.faceReaders[k].fetch_sub(1, std::memory_order_acq_rel) == 1)
                std::vector<std::uint32_t>().swap(entry->section->indices);
        }
        if (entry->endsMesh && here(entry->faceStart + entry->faces))
            out.line();
    }
}

// The pieces in file order, taken by the threads in turn; each thread
// formats its piece, waits until every earlier one is written, then writes.
class Job {
  public:
    Job(Layout& layout, const std::vector<Piece>& pieces, std::ostream& stream)
        : layout_(layout), pieces_(pieces), stream_(stream),
          vertexPiecesLeft_(static_cast<std::size_t>(
              std::count_if(pieces.begin(), pieces.end(),
                            [](const Piece& piece) { return piece.pass != Pass::faces; }))) {}

    void work() {
        try {
            TextChain text;
            for (;;) {
                const std::size_t index = next_.fetch_add(1, std::memory_order_relaxed);
                if (index >= pieces_.size())
                    return;
                format(text, pieces_[index]);
                // Once the last vertex line is formatted, the vertex arrays are
                // freed here, while the other thread formats faces, rather than
                // with the model once everything is written.
                if (pieces_[index].pass != Pass::faces &&
                    vertexPiecesLeft_.fetch_sub(1, std::memory_order_acq_rel) == 1)
                    releaseVertices();
                {
                    std::unique_lock lock(mutex_);
                    turn_.wait(lock, [&] { return written_ == index || stopped_; });
                    if (stopped_)
                        return;
                }
                // Only the thread whose turn it is touches the stream.
                text.writeTo(stream_);
                const bool failed = !stream_;
                {
                    std::lock_guard lock(mutex_);
                    written_ = index + 1;
                    // A failed stream takes nothing more: stop formatting.
                    stopped_ = stopped_ || failed;
                }
                turn_.notify_all();
            }
        } catch (...) {
            {
                std::lock_guard lock(mutex_);
                if (!error_)
                    error_ = std::current_exception();
                stopped_ = true;
            }
            turn_.notify_all();
        }
    }

    // After every thread is done: what one of them threw, if any.
    void rethrow() const {
        if (error_)
            std::rethrow_exception(error_);
    }

  private:
    void releaseVertices() {
        for (Entry& entry : layout_.entries) {
            if (entry.section) {
                std::vector<float>().swap(entry.section->positions);
                std::vector<float>().swap(entry.section->normals);
                std::vector<float>().swap(entry.section->texCoords);
            }
        }
    }

    void format(TextChain& text, const Piece& piece) {
        text.put(piece.lead);
        if (piece.pass == Pass::faces)
            formatFaces(text, layout_, piece);
        else
            formatVertices(text, layout_, piece);
    }

    Layout& layout_;
    const std::vector<Piece>& pieces_;
    std::ostream& stream_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> vertexPiecesLeft_;
    std::mutex mutex_;
    std::condition_variable turn_;
    std::size_t written_ = 0; // pieces written so far
    bool stopped_ = false;
    std::exception_ptr error_;
};

} // namespace

bool writeObjWith(Model model, std::ostream& obj, std::ostream& mtl, const std::string& mtlName,
                  unsigned threads) {
    Layout layout = layoutOf(model);

    TextChain mtlText;
    std::unordered_set<std::string_view> writtenMaterials;
    for (const Entry& entry : layout.entries) {
        const std::string& name = entry.material;
        if (!name.empty() && writtenMaterials.insert(name).second) {
            mtlText.commit(endLine(putText(putText(mtlText.room(), "newmtl "), name)));
            char* q = putText(putText(mtlText.room(), "map_Kd .\\"), name);
            mtlText.commit(endLine(putText(q, ".BMP")));
            mtlText.line();
        }
    }

    std::string nl(newline);
    const std::string header = "# This is a converted version of a ULV .MOD file!" + nl + nl +
                               "mtllib " + mtlName + nl + nl;
    std::vector<Piece> pieces;
    addPass(pieces, Pass::positions, layout.vertices, vertexLinesPerPiece, header);
    addPass(pieces, Pass::normals, layout.vertices, vertexLinesPerPiece, newline);
    addPass(pieces, Pass::texCoords, layout.vertices, vertexLinesPerPiece, newline);
    addPass(pieces, Pass::faces, layout.faces, faceLinesPerPiece, newline);
    layout.faceReaders.reset(new std::atomic<std::uint32_t>[layout.entries.size()]);
    for (std::size_t k = 0; k < layout.entries.size(); ++k) {
        const Entry& entry = layout.entries[k];
        const std::uint64_t readers =
            entry.faces == 0 ? 0
                             : (entry.faceStart + entry.faces - 1) / faceLinesPerPiece -
                                   entry.faceStart / faceLinesPerPiece + 1;
        layout.faceReaders[k].store(static_cast<std::uint32_t>(readers), std::memory_order_relaxed);
    }

    Job job(layout, pieces, obj);
    auto work = [&job] { job.work(); };
    runShared(work, threads > 1 && layout.vertices + layout.faces > vertexLinesPerPiece);
    job.rethrow();

    mtlText.writeTo(mtl);
    if (obj)
        obj.flush();
    if (mtl)
        mtl.flush();
    return obj && mtl;
}

bool writeObj(Model model, std::ostream& obj, std::ostream& mtl, const std::string& mtlName) {
    return writeObjWith(std::move(model), obj, mtl, mtlName,
                        std::max(1u, std::thread::hardware_concurrency()));
}

} // namespace ulv
