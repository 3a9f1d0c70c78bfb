// tinygltf (Debian's libtinygltf-dev), header-only: gltf/document.cpp compiles
// it into this library, so the static Windows build needs no DLL. It reads the
// JSON into typed records only: it decodes no image and reads no file.
// Its namespace is renamed because the tests also link Debian's libtinygltf.so,
// built with other options, and neither copy may stand in for the other.
#pragma once

// Without its file functions tinygltf 2.7.0 leaves this out, yet its writer,
// compiled in and never called here, needs it.
#include <fstream>

#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#define TINYGLTF_NO_FS
#define tinygltf ulv_tinygltf
#include <tiny_gltf.h>
#undef tinygltf

namespace ulv {
namespace tg = ::ulv_tinygltf;
} // namespace ulv
