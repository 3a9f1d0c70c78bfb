// Which blocks of an existing model file, the template, a model written over
// it takes the place of, and which it keeps byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ulv {

struct Reuse {
    static constexpr std::int64_t none = -1;

    struct Place {
        std::int64_t from = none; // the template section whose place it takes
        bool same = false;        // and whose bytes it keeps
    };

    // Per mesh: the template mesh whose place it takes, or none (added).
    std::vector<std::int64_t> meshes;
    // Per mesh, per section.
    std::vector<std::vector<Place>> sections;

    std::size_t kept = 0, changed = 0, added = 0, dropped = 0;
};

} // namespace ulv
