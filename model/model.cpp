#include "model/model.h"

#include <cstring>

namespace ulv {

bool verbose = false;

std::string materialNameOf(const MeshSection& section) {
    const char* name = section.materialName.data();
    const void* nul = std::memchr(name, '\0', section.materialName.size());
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - name)
                                   : section.materialName.size();
    return std::string(name, length);
}

void transformPoint(const Transform& transform, float* point) {
    // The build disables floating-point contraction: a fused multiply-add
    // would change the last bit, which shows in six-decimal output.
    const auto& m = transform.m;
    const double x = point[0];
    const double y = point[1];
    const double z = point[2];
    const double tx = double{m[0]} * x + double{m[3]} * y + double{m[6]} * z + double{m[9]};
    const double ty = double{m[1]} * x + double{m[4]} * y + double{m[7]} * z + double{m[10]};
    const double tz = double{m[2]} * x + double{m[5]} * y + double{m[8]} * z + double{m[11]};
    point[0] = static_cast<float>(tx);
    point[1] = static_cast<float>(ty);
    point[2] = static_cast<float>(tz);
}

} // namespace ulv
