// The stored values behind what glTF holds: glTF's positions are the stored
// ones moved by their mesh's transform, and its normals the stored ones turned
// by the normal matrix and scaled to unit length. Going back, each stored
// value is chosen so that moving it again gives exactly the value glTF holds,
// whenever such a value exists; so a model file made from glTF gives the same
// glTF again.
#pragma once

#include "model/model.h"
#include "model/transform.h"

namespace ulv {

class PositionInverse {
  public:
    explicit PositionInverse(const Transform& transform);

    // A stored position that the transform moves to `target` exactly, as the
    // glTF writer moves positions (numbers that are not finite becoming 0);
    // when none is found, the nearest tried, and false.
    bool storedFor(const float* target, float* stored) const;

    // The value storedFor() tries first, which most often is the one: for
    // checking many at once before searching for the few that are not.
    void firstGuess(const float* target, float* guess) const;

  private:
    // Sets the coordinates not `fixed` to fit the target as well as can be.
    void fitFree(float (&p)[3], const bool (&fixed)[3], const float* target) const;

    Transform transform_;
    double solve_[3][3]{}; // the inverse, or near it where the transform flattens
};

class NormalInverse {
  public:
    explicit NormalInverse(const Transform& transform);

    // A stored normal that the normal matrix turns, once scaled to unit
    // length, into `target` exactly; when none is found, the nearest tried,
    // and false.
    bool storedFor(const float* target, float* stored) const;

    // As PositionInverse::firstGuess(); false when the target turns back
    // into no direction.
    bool firstGuess(const float* target, float* guess) const;

    const NormalMatrix& matrix() const { return matrix_; }

  private:
    NormalMatrix matrix_{};
    double solve_[3][3]{};
};

} // namespace ulv
