// What a section's arrays hold, found before anything is written: the JSON
// that comes first in the file states bounds and counts of the data after it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "gltf/arrays.h"
#include "gltf/extras.h"
#include "model/model.h"
#include "model/transform.h"

namespace ulv {

struct SectionFacts {
    std::uint64_t vertices = 0;  // that its arrays hold: the counts, capped by the arrays
    std::uint64_t triangles = 0; // kept or not
    float min[3]{}, max[3]{};    // of the positions moved into model space
    std::uint64_t nonFinite = 0; // numbers in positions and texture coordinates
    std::uint64_t kept = 0;      // triangles whose corners all exist
    bool normalsOk = true;       // every normal has a direction
    TriangleRuns reversed;       // kept triangles written reversed, to wind as their normals say
    // Stored values that going back could not find from what is written
    // (section left 0 here: the writer numbers them).
    std::vector<StoredValue> stored;
};

// The arrays a section is written from, kept for the next section.
struct Scratch {
    std::vector<float> positions, normals;
};

// The facts of one section's arrays.
SectionFacts examineSection(const MeshSection& section, const Transform& transform,
                            const NormalMatrix& normalMatrix, Scratch& scratch);

// The facts of every section of a model in memory, in file order; the
// sections of a large model are shared out over two threads.
std::vector<SectionFacts> examineModel(const Model& model);

// Examines a model's sections as they are read, the large ones on a second
// thread while the reader reads the next. Small sections are examined at
// once: handing them over would cost more than they take.
class Examiner {
  public:
    explicit Examiner(std::vector<SectionFacts>& facts) : facts_(facts) {}
    ~Examiner() { stop(); }
    Examiner(const Examiner&) = delete;
    Examiner& operator=(const Examiner&) = delete;

    // Appends the section's facts; may take its arrays and give it others
    // to read into.
    void take(const Mesh& mesh, MeshSection& section);

    // Waits for the last section handed over.
    void finish();

  private:
    bool started();
    void collect();
    void run();
    void stop();

    std::vector<SectionFacts>& facts_;
    std::thread thread_;
    bool failedToStart_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    // The section handed over, and where its facts go.
    MeshSection section_;
    Transform transform_;
    NormalMatrix matrix_{};
    SectionFacts job_;
    Scratch scratch_, threadScratch_;
    std::size_t index_ = 0;
    bool pending_ = false, done_ = false, stopping_ = false;
};

} // namespace ulv
