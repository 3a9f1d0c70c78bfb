#include "gltf/examine.h"

#include <algorithm>
#include <atomic>
#include <limits>

#include "platform/threads.h"

namespace ulv {
namespace {

void resetBounds(SectionFacts& facts) {
    std::fill_n(facts.min, 3, std::numeric_limits<float>::infinity());
    std::fill_n(facts.max, 3, -std::numeric_limits<float>::infinity());
}

// The facts of a section before its arrays are looked at.
SectionFacts emptyFacts(std::size_t vertices, std::size_t triangles) {
    SectionFacts facts;
    resetBounds(facts);
    facts.vertices = vertices;
    facts.triangles = triangles;
    return facts;
}

} // namespace

SectionFacts examineSection(const MeshSection& section, const Transform& transform,
                            const NormalMatrix& normalMatrix, Scratch& scratch) {
    const std::size_t vertices = vertexLimit(section), triangles = faceLimit(section);
    SectionFacts facts = emptyFacts(vertices, triangles);
    if (vertices == 0 || triangles == 0)
        return facts;
    // The positions and normals as they are written, which is what decides
    // which way each triangle is to wind; the section's own arrays stay.
    scratch.positions.assign(section.positions.begin(),
                             section.positions.begin() + static_cast<std::ptrdiff_t>(3 * vertices));
    facts.nonFinite =
        movePositions(transform, scratch.positions.data(), vertices, facts.min, facts.max);
    scratch.normals.assign(section.normals.begin(),
                           section.normals.begin() + static_cast<std::ptrdiff_t>(3 * vertices));
    facts.normalsOk = moveNormals(normalMatrix, scratch.normals.data(), vertices);
    facts.nonFinite += countNonFinite(section.texCoords.data(), 2 * vertices);
    facts.kept = countKept(section.indices.data(), triangles, vertices);
    // Without normals, viewers make flat ones from the winding as stored.
    if (facts.normalsOk)
        findAgainst(section.indices.data(), triangles, vertices, scratch.positions.data(),
                    scratch.normals.data(), 0, facts.reversed);
    return facts;
}

std::vector<SectionFacts> examineModel(const Model& model) {
    struct Job {
        const MeshSection* section;
        const Transform* transform;
        const NormalMatrix* normalMatrix;
    };
    std::vector<NormalMatrix> normalMatrices;
    normalMatrices.reserve(model.meshes.size());
    std::vector<Job> jobs;
    std::uint64_t amount = 0;
    for (const Mesh& mesh : model.meshes) {
        const NormalMatrix& matrix = normalMatrices.emplace_back(normalMatrixOf(mesh.transform));
        for (const MeshSection& section : mesh.sections) {
            jobs.push_back({&section, &mesh.transform, &matrix});
            amount += vertexLimit(section) + faceLimit(section);
        }
    }
    std::vector<SectionFacts> facts(jobs.size());
    std::atomic<std::size_t> next{0};
    auto run = [&] {
        Scratch scratch;
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < jobs.size();)
            facts[i] = examineSection(*jobs[i].section, *jobs[i].transform, *jobs[i].normalMatrix,
                                      scratch);
    };
    runShared(run, amount > (std::uint64_t{1} << 16) && jobs.size() > 1 &&
                       std::thread::hardware_concurrency() > 1);
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
        facts = examineSection(section, mesh.transform, normalMatrixOf(mesh.transform), scratch_);
        return;
    }
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pending_; });
        collect();
        swapArrays(section, section_);
        section_.vertexCount = section.vertexCount;
        section_.triangleCount = section.triangleCount;
        transform_ = mesh.transform;
        matrix_ = normalMatrixOf(transform_);
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
    facts_[index_] = std::move(job_);
    done_ = false;
}

void Examiner::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return pending_ || stopping_; });
        if (!pending_)
            return;
        lock.unlock();
        job_ = examineSection(section_, transform_, matrix_, threadScratch_);
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
