#include "gltf/examine.h"

#include <algorithm>
#include <atomic>
#include <limits>

#include "gltf/arrays.h"
#include "platform/threads.h"

namespace ulv {
namespace {

void resetBounds(SectionFacts& facts) {
    std::fill_n(facts.min, 3, std::numeric_limits<float>::infinity());
    std::fill_n(facts.max, 3, -std::numeric_limits<float>::infinity());
}

// A share of a section's vertices and triangles. Shares are independent, so
// that several threads take a large model.
struct Stretch {
    const MeshSection* section = nullptr;
    const Transform* transform = nullptr;
    const NormalMatrix* normalMatrix = nullptr;
    std::size_t vertices = 0; // of the whole section
    std::size_t vertexBegin = 0, vertexEnd = 0, triangleBegin = 0, triangleEnd = 0;
    SectionFacts facts;
};

// Bounds the moved positions, counts what is not finite and the triangles
// whose corners all exist, and checks that every normal has a direction.
// The arrays stay as they are: the positions are moved a cached piece at a
// time in `scratch`.
void work(Stretch& s, std::vector<float>& scratch) {
    constexpr std::size_t piece = 4096;
    const MeshSection& section = *s.section;
    resetBounds(s.facts);
    s.facts.nonFinite = 0;
    scratch.resize(3 * piece);
    for (std::size_t v = s.vertexBegin, n; v < s.vertexEnd; v += n) {
        n = std::min(piece, s.vertexEnd - v);
        std::copy_n(section.positions.data() + 3 * v, 3 * n, scratch.data());
        s.facts.nonFinite +=
            movePositions(*s.transform, scratch.data(), n, s.facts.min, s.facts.max);
    }
    const std::size_t count = s.vertexEnd - s.vertexBegin;
    s.facts.normalsOk =
        normalsHaveDirection(*s.normalMatrix, section.normals.data() + 3 * s.vertexBegin, count);
    s.facts.nonFinite += countNonFinite(section.texCoords.data() + 2 * s.vertexBegin, 2 * count);
    s.facts.kept = countKept(section.indices.data() + 3 * s.triangleBegin,
                             s.triangleEnd - s.triangleBegin, s.vertices);
}

// The facts of a section whose arrays are empty, or that has no triangles.
SectionFacts emptyFacts(std::size_t vertices, std::size_t triangles) {
    SectionFacts facts;
    resetBounds(facts);
    facts.vertices = vertices;
    facts.triangles = triangles;
    return facts;
}

// One stretch for the whole of a section.
Stretch wholeOf(const MeshSection& section, const Transform& transform, const NormalMatrix& matrix,
                std::size_t vertices, std::size_t triangles) {
    Stretch whole;
    whole.section = &section;
    whole.transform = &transform;
    whole.normalMatrix = &matrix;
    whole.vertices = whole.vertexEnd = vertices;
    whole.triangleEnd = triangles;
    whole.facts = emptyFacts(vertices, triangles);
    return whole;
}

} // namespace

std::vector<SectionFacts> examineModel(const Model& model) {
    // Large sections are cut into stretches of about this many vertices and
    // triangles, each a few MiB of data.
    constexpr std::size_t verticesPerStretch = std::size_t{1} << 16;
    constexpr std::size_t trianglesPerStretch = std::size_t{1} << 17;
    std::vector<Stretch> stretches;
    std::vector<std::size_t> firstStretch; // per section, and one past the last
    std::vector<NormalMatrix> normalMatrices;
    std::vector<SectionFacts> facts;
    normalMatrices.reserve(model.meshes.size());
    std::uint64_t amount = 0;
    for (const Mesh& mesh : model.meshes) {
        const NormalMatrix* normalMatrix =
            &normalMatrices.emplace_back(normalMatrixOf(mesh.transform));
        for (const MeshSection& section : mesh.sections) {
            firstStretch.push_back(stretches.size());
            const std::size_t vertices = vertexLimit(section);
            const std::size_t triangles = faceLimit(section);
            facts.push_back(emptyFacts(vertices, triangles));
            if (vertices == 0 || triangles == 0)
                continue;
            const std::size_t count =
                std::max((vertices + verticesPerStretch - 1) / verticesPerStretch,
                         (triangles + trianglesPerStretch - 1) / trianglesPerStretch);
            for (std::size_t i = 0; i < count; ++i) {
                Stretch& s = stretches.emplace_back(
                    wholeOf(section, mesh.transform, *normalMatrix, vertices, triangles));
                s.vertexBegin = vertices * i / count;
                s.vertexEnd = vertices * (i + 1) / count;
                s.triangleBegin = triangles * i / count;
                s.triangleEnd = triangles * (i + 1) / count;
            }
            amount += vertices + triangles;
        }
    }
    firstStretch.push_back(stretches.size());

    std::atomic<std::size_t> next{0};
    auto run = [&] {
        std::vector<float> scratch;
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < stretches.size();)
            work(stretches[i], scratch);
    };
    runShared(run, amount > (std::uint64_t{1} << 16) && stretches.size() > 1 &&
                       std::thread::hardware_concurrency() > 1);

    for (std::size_t k = 0; k < facts.size(); ++k) {
        SectionFacts& f = facts[k];
        for (std::size_t i = firstStretch[k]; i < firstStretch[k + 1]; ++i) {
            const SectionFacts& s = stretches[i].facts;
            f.kept += s.kept;
            f.nonFinite += s.nonFinite;
            f.normalsOk = f.normalsOk && s.normalsOk;
            for (int d = 0; d < 3; ++d) {
                f.min[d] = std::min(f.min[d], s.min[d]);
                f.max[d] = std::max(f.max[d], s.max[d]);
            }
        }
    }
    return facts;
}

namespace {
constexpr std::size_t handOverSize = std::size_t{1} << 13;
} // namespace

void Examiner::take(const Mesh& mesh, MeshSection& section) {
    const std::size_t vertices = vertexLimit(section), triangles = faceLimit(section);
    SectionFacts& facts = facts_.emplace_back(emptyFacts(vertices, triangles));
    if (vertices == 0 || triangles == 0)
        return;
    if (vertices + triangles < handOverSize || !started()) {
        const NormalMatrix matrix = normalMatrixOf(mesh.transform);
        Stretch whole = wholeOf(section, mesh.transform, matrix, vertices, triangles);
        std::vector<float> scratch;
        work(whole, scratch);
        facts = whole.facts;
        return;
    }
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pending_; });
        collect();
        swapArrays(section, section_);
        transform_ = mesh.transform;
        matrix_ = normalMatrixOf(transform_);
        job_ = emptyFacts(vertices, triangles);
        index_ = facts_.size() - 1;
        pending_ = true;
    }
    changed_.notify_all();
}

void Examiner::finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
    collect();
}

bool Examiner::started() {
    if (!thread_.joinable() && !failedToStart_) {
        if (std::thread::hardware_concurrency() > 1)
            thread_ = startThread([this] { run(); });
        // No thread to be had: sections are examined as they come.
        failedToStart_ = !thread_.joinable();
    }
    return thread_.joinable();
}

// With the lock held: the finished section's facts into their place.
void Examiner::collect() {
    if (!done_)
        return;
    facts_[index_] = job_;
    done_ = false;
}

void Examiner::run() {
    std::vector<float> scratch;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return pending_ || stopping_; });
        if (!pending_)
            return;
        lock.unlock();
        Stretch whole = wholeOf(section_, transform_, matrix_, job_.vertices, job_.triangles);
        work(whole, scratch);
        job_ = whole.facts;
        lock.lock();
        pending_ = false;
        done_ = true;
        changed_.notify_all();
    }
}

void Examiner::stop() {
    if (!thread_.joinable())
        return;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pending_; });
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

} // namespace ulv
