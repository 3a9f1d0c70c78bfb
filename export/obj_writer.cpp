#include "export/obj_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>
#include <unordered_set>
#include <vector>

#include "export/format.h"
#include "export/text_out.h"
#include "export/utf8_path.h"

namespace ulv {
namespace {

// The counts drive the loops; the array sizes only cap them, so that a model
// built by hand with short arrays is never read out of bounds.
std::size_t vertexLimit(const MeshSection& section) {
    return std::min({std::size_t{section.vertexCount}, section.positions.size() / 3,
                     section.normals.size() / 3, section.texCoords.size() / 2});
}

std::size_t triangleLimit(const MeshSection& section) {
    return std::min(std::size_t{section.triangleCount}, section.indices.size() / 3);
}

enum class Pass { positions, normals, texCoords, faces };

// Lines [begin, end) of one section in one pass: the unit of work that either
// thread formats.
struct Block {
    Pass pass;
    MeshSection* section;
    const Transform* transform;
    std::uint32_t base; // OBJ number of the section's first vertex
    std::size_t begin, end;
};

constexpr std::size_t linesPerBlock = 4096;
// No line of a block is longer: "vn" and three numbers of at most
// maxFixed6Length, or "f" and nine numbers of ten digits.
constexpr std::size_t maxBlockLine = 8 + 3 * (maxFixed6Length + 1) + 2;
static_assert(maxBlockLine <= TextOut::maxLine);
constexpr std::size_t blockBytes = linesPerBlock * maxBlockLine;

char* formatVector(char* p, std::string_view prefix, const float* values, std::size_t width,
                   bool negateLast) {
    p = putText(p, prefix);
    for (std::size_t c = 0; c < width; ++c) {
        *p++ = ' ';
        // Negation flips the sign bit only, so a stored 0 becomes -0.
        p = formatFixed6(p, negateLast && c + 1 == width ? -values[c] : values[c]);
    }
    return endLine(p);
}

char* formatFace(char* p, const std::uint32_t* index, std::uint32_t base) {
    *p++ = 'f';
    for (int corner = 0; corner < 3; ++corner) {
        // Wraps as 32-bit unsigned arithmetic does; numbers are not range-checked.
        const std::uint32_t number = index[corner] + base;
        for (int slot = 0; slot < 3; ++slot) {
            *p++ = slot == 0 ? ' ' : '/';
            p = formatUint(p, number);
        }
    }
    return endLine(p);
}

// Formats one line of a block; positions are moved into model space first.
char* formatLine(char* p, const Block& block, std::size_t k) {
    MeshSection& section = *block.section;
    switch (block.pass) {
    case Pass::positions: {
        float* position = section.positions.data() + 3 * k;
        transformPoint(*block.transform, position);
        return formatVector(p, "v", position, 3, false);
    }
    case Pass::normals:
        return formatVector(p, "vn", section.normals.data() + 3 * k, 3, false);
    case Pass::texCoords:
        return formatVector(p, "vt", section.texCoords.data() + 2 * k, 2, true);
    case Pass::faces:
        return formatFace(p, section.indices.data() + 3 * k, block.base);
    }
    return p;
}

// Formats every other block on a second thread, a few blocks ahead of the
// thread that writes them out in order; the text is the same either way.
class BlockHelper {
  public:
    static constexpr std::size_t slots = 4;

    explicit BlockHelper(const std::vector<Block>& blocks) : blocks_(blocks) {
        for (auto& slot : buffers_)
            slot.reset(new char[blockBytes]);
        thread_ = std::thread([this] { run(); });
    }
    ~BlockHelper() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    BlockHelper(const BlockHelper&) = delete;
    BlockHelper& operator=(const BlockHelper&) = delete;

    // The text of the helper's n-th block (block 2n + 1), once it is ready.
    std::string_view take(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return produced_ > n; });
        return {buffers_[n % slots].get(), sizes_[n % slots]};
    }
    // The slot of the helper's n-th block may be reused.
    void release(std::size_t n) {
        {
            std::lock_guard lock(mutex_);
            consumed_ = n + 1;
        }
        changed_.notify_all();
    }

  private:
    void run() {
        for (std::size_t n = 0, b = 1; b < blocks_.size(); ++n, b += 2) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || n < consumed_ + slots; });
                if (stopping_)
                    return;
            }
            const Block& block = blocks_[b];
            char* const start = buffers_[n % slots].get();
            char* p = start;
            for (std::size_t k = block.begin; k < block.end; ++k)
                p = formatLine(p, block, k);
            {
                std::lock_guard lock(mutex_);
                sizes_[n % slots] = static_cast<std::size_t>(p - start);
                produced_ = n + 1;
            }
            changed_.notify_all();
        }
    }

    const std::vector<Block>& blocks_;
    std::unique_ptr<char[]> buffers_[slots];
    std::size_t sizes_[slots] = {};
    std::size_t produced_ = 0; // helper blocks formatted
    std::size_t consumed_ = 0; // helper blocks written out
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

// Splits every section of a pass into blocks, in writing order.
void addBlocks(std::vector<Block>& blocks, Model& model, Pass pass,
               const std::vector<std::uint32_t>& vertexBase) {
    std::size_t index = 0;
    for (Mesh& mesh : model.meshes)
        for (MeshSection& section : mesh.sections) {
            const std::size_t count =
                pass == Pass::faces ? triangleLimit(section) : vertexLimit(section);
            for (std::size_t begin = 0; begin < count; begin += linesPerBlock)
                blocks.push_back({pass, &section, &mesh.transform, vertexBase[index], begin,
                                  std::min(count, begin + linesPerBlock)});
            ++index;
        }
}

// Writes the blocks of one section and pass, the helper's from its buffers.
class BlockWriter {
  public:
    BlockWriter(TextOut& out, const std::vector<Block>& blocks) : out_(out), blocks_(blocks) {
        // Below a few blocks, starting a thread costs more than it saves.
        if (blocks.size() >= 8)
            helper_ = std::make_unique<BlockHelper>(blocks);
    }

    void writeSection(const MeshSection& section, Pass pass) {
        for (; next_ < blocks_.size() && blocks_[next_].section == &section &&
               blocks_[next_].pass == pass;
             ++next_) {
            if (helper_ && next_ % 2 == 1) {
                out_.put(helper_->take(next_ / 2));
                helper_->release(next_ / 2);
                continue;
            }
            const Block& block = blocks_[next_];
            for (std::size_t k = block.begin; k < block.end; ++k)
                out_.commit(formatLine(out_.room(), block, k));
        }
    }

  private:
    TextOut& out_;
    const std::vector<Block>& blocks_;
    std::size_t next_ = 0;
    std::unique_ptr<BlockHelper> helper_;
};

} // namespace

std::string mtlPathFor(const std::string& outputPath) {
    // On Windows a backslash ends a folder name as '/' does, so an extension
    // is never looked for across one.
    return utf8Text(utf8Path(outputPath).replace_extension(".mtl"));
}

bool writeObj(Model model, std::ostream& obj, std::ostream& mtl, const std::string& mtlName) {
    TextOut objOut(obj);
    TextOut mtlOut(mtl);
    objOut.line("# This is a converted version of a ULV .MOD file!");
    objOut.line();
    objOut.put("mtllib ");
    objOut.line(mtlName);
    objOut.line();

    // The vertex numbering is fixed before any text is made.
    std::vector<std::uint32_t> vertexBase;
    std::uint32_t base = 1;
    for (const Mesh& mesh : model.meshes)
        for (const MeshSection& section : mesh.sections) {
            vertexBase.push_back(base);
            base += section.vertexCount;
        }
    std::vector<Block> blocks;
    for (Pass pass : {Pass::positions, Pass::normals, Pass::texCoords, Pass::faces})
        addBlocks(blocks, model, pass, vertexBase);
    BlockWriter writer(objOut, blocks);

    for (Pass pass : {Pass::positions, Pass::normals, Pass::texCoords}) {
        for (const Mesh& mesh : model.meshes)
            for (const MeshSection& section : mesh.sections)
                writer.writeSection(section, pass);
        objOut.line();
    }

    std::unordered_set<std::string> writtenMaterials;
    std::int32_t groupIndex = 0;
    for (const Mesh& mesh : model.meshes) {
        for (const MeshSection& section : mesh.sections) {
            objOut.commit(endLine(formatInt(putText(objOut.room(), "g group"), groupIndex)));
            const std::string name = materialNameOf(section);
            if (!name.empty()) {
                objOut.commit(endLine(putText(putText(objOut.room(), "usemtl "), name)));
                if (writtenMaterials.insert(name).second) {
                    mtlOut.commit(endLine(putText(putText(mtlOut.room(), "newmtl "), name)));
                    char* q = putText(putText(mtlOut.room(), "map_Kd .\\"), name);
                    mtlOut.commit(endLine(putText(q, ".BMP")));
                    mtlOut.line();
                }
            }
            writer.writeSection(section, Pass::faces);
            ++groupIndex;
        }
        objOut.line();
    }
    const bool objOk = objOut.flush();
    const bool mtlOk = mtlOut.flush();
    return objOk && mtlOk;
}

} // namespace ulv
