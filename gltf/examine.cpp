#include "gltf/examine.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>

#include "gltf/inverse.h"
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

// Whether a number is at the edge of what floats hold, or beyond it: not 0,
// and below 2^-40 or from 2^40 up, or not finite. Read off its exponent, so
// that whole arrays are checked quickly.
bool extreme(float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value) & 0x7FFFFFFFu;
    const std::uint32_t exponent = bits >> 23;
    return bits != 0 && (exponent < 127 - 40 || exponent >= 127 + 40);
}

// A transform whose inverse loses what floats can tell apart: numbers that
// are not finite, or very large or small, or a part that flattens space.
bool unusual(const Transform& transform) {
    for (const float v : transform.m)
        if (extreme(v))
            return true;
    double a[3][3], bound = 1, det = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            a[i][j] = transform.m[static_cast<std::size_t>(3 * j + i)];
        bound *= std::sqrt(a[i][0] * a[i][0] + a[i][1] * a[i][1] + a[i][2] * a[i][2]);
    }
    det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
          a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
          a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    return !(std::abs(det) > 1e-6 * bound);
}

// For positions or normals that going back may not find from what is
// written, the values themselves, where it indeed does not. Only unusual
// transforms and values are tried: elsewhere the way back finds them.
// Whether any of `count` numbers is extreme; one pass without branches.
bool anyExtreme(const float* values, std::size_t count) {
    bool any = false;
    for (std::size_t i = 0; i < count; ++i)
        any |= extreme(values[i]);
    return any;
}

void keepUnfound(const MeshSection& section, const Transform& transform, const Scratch& scratch,
                 bool normalsOk, SectionFacts& facts) {
    const std::size_t vertices = facts.vertices;
    const bool all = unusual(transform);
    if (!all && !anyExtreme(section.positions.data(), 3 * vertices) &&
        !(normalsOk && anyExtreme(section.normals.data(), 3 * vertices)))
        return;
    std::optional<PositionInverse> positions;
    std::optional<NormalInverse> normals;
    for (std::size_t v = 0; v < vertices; ++v) {
        for (const bool normal : {false, true}) {
            if (normal && !normalsOk)
                continue;
            const float* stored = (normal ? section.normals : section.positions).data() + 3 * v;
            if (!all && !extreme(stored[0]) && !extreme(stored[1]) && !extreme(stored[2]))
                continue;
            const float* written = (normal ? scratch.normals : scratch.positions).data() + 3 * v;
            float found[3];
            bool same;
            if (normal) {
                if (!normals)
                    normals.emplace(transform);
                same = normals->storedFor(written, found);
            } else {
                if (!positions)
                    positions.emplace(transform);
                same = positions->storedFor(written, found);
            }
            if (!same) {
                StoredValue& kept = facts.stored.emplace_back();
                kept.vertex = static_cast<std::uint32_t>(v);
                kept.normal = normal;
                std::copy_n(stored, 3, kept.value);
            }
        }
    }
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
    keepUnfound(section, transform, scratch, facts.normalsOk, facts);
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
        if (pending_) {
            // The thread is still on the last one: this one is examined
            // here, so that both cores examine rather than one waiting.
            lock.unlock();
            facts =
                examineSection(section, mesh.transform, normalMatrixOf(mesh.transform), scratch_);
            return;
        }
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
