#include "tests/support/gltf_files.h"

#include <cstring>
#include <limits>

#include "tests/support/model_builder.h"

namespace ulv {
namespace {

std::uint32_t u32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

GlbParts fail(std::string why) {
    GlbParts parts;
    parts.error = std::move(why);
    return parts;
}

// `vertices` vertices along x, the triangles as given.
MeshSection strip(std::string_view material, std::uint32_t vertices,
                  std::vector<std::uint32_t> indices) {
    std::vector<float> positions, normals, texCoords;
    for (std::uint32_t k = 0; k < vertices; ++k) {
        positions.insert(positions.end(), {float(k), float(k % 2), 0});
        normals.insert(normals.end(), {0, 0, 1});
        texCoords.insert(texCoords.end(), {float(k % 2), 0.5f});
    }
    return makeSection(material, positions, normals, texCoords, std::move(indices));
}

} // namespace

GlbParts splitGlb(const std::string& glb) {
    if (glb.size() < 20)
        return fail("shorter than a header and a chunk");
    if (glb.compare(0, 4, "glTF") != 0 || u32(glb, 4) != 2)
        return fail("not glTF version 2");
    if (u32(glb, 8) != glb.size())
        return fail("stated length " + std::to_string(u32(glb, 8)) + ", file " +
                    std::to_string(glb.size()));
    const std::uint32_t jsonLength = u32(glb, 12);
    if (glb.compare(16, 4, "JSON") != 0 || jsonLength % 4 || jsonLength > glb.size() - 20)
        return fail("bad JSON chunk");
    GlbParts parts;
    parts.json = glb.substr(20, jsonLength);
    std::size_t at = 20 + std::size_t{jsonLength};
    if (at < glb.size()) {
        if (glb.size() - at < 8)
            return fail("cut BIN chunk header");
        const std::uint32_t binLength = u32(glb, at);
        if (glb.compare(at + 4, 4, std::string("BIN\0", 4)) != 0 || binLength % 4 ||
            binLength != glb.size() - at - 8)
            return fail("bad BIN chunk");
        parts.bin = glb.substr(at + 8);
    }
    parts.valid = true;
    return parts;
}

std::vector<HostileModel> hostileModels() {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float big = std::numeric_limits<float>::max();
    std::vector<HostileModel> cases;

    cases.push_back({"no_meshes",
                     makeModel({}),
                     {},
                     {R"("scenes":[{"extras":{"ulvane_header":)"},
                     {"nodes", "meshes"}});
    cases.push_back({"mesh_without_sections",
                     makeModel({makeMesh(identityTransform, {})}),
                     {},
                     {R"("nodes":[{"name":"mesh0","extras":{"ulvane_mesh":)"},
                     {"meshes", "buffers"}});
    cases.push_back(
        {"sections_without_vertices_or_triangles",
         makeModel({makeMesh(identityTransform, {strip("a", 0, {0, 1, 2}), strip("b", 3, {}),
                                                 strip("c", 3, {0, 1, 2})})}),
         {"1 triangle left out: a corner past the section's vertices"},
         {R"("materials":[{"name":"c")", R"("count":3,"type":"SCALAR")"},
         {R"("name":"a")", R"("name":"b")"}});
    cases.push_back({"corners_past_the_vertices",
                     makeModel({makeMesh(identityTransform,
                                         {strip("", 3, {0, 1, 2, 0, 1, 3, 3, 4, 5, 2, 1, 0})})}),
                     {"2 triangles left out: a corner past the section's vertices"},
                     {R"("componentType":5125,"count":6,"type":"SCALAR")"},
                     {}});
    cases.push_back({"vertex_number_65535",
                     makeModel({makeMesh(identityTransform,
                                         {strip("", 65536, {65533, 65534, 65535, 0, 1, 65535})})}),
                     {},
                     {R"("componentType":5125,"count":6,"type":"SCALAR")"},
                     {}});
    cases.push_back({"non_finite_floats",
                     makeModel({makeMesh(identityTransform,
                                         {makeSection("", {nan, 1, 2, inf, -inf, 3, big, 5, 6},
                                                      {0, 0, 1, 0, 0, 1, 0, 0, 1},
                                                      {nan, 0.5f, 1, 1, inf, -inf}, {0, 1, 2})})}),
                     {"9 numbers not finite in positions or texture coordinates, written as 0"},
                     {R"("min":[0,0,0],"max":[3.4028234663852886e+38,5,6])"},
                     {}});
    // Doubled, the largest float overflows to infinity.
    cases.push_back({"overflow_in_the_transform",
                     makeModel({makeMesh({{2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0}},
                                         {makeSection("", {big, 1, 2, 0, 0, 0, 1, 1, 1},
                                                      {0, 0, 1, 0, 0, 1, 0, 0, 1},
                                                      {0, 0, 0, 0, 0, 0}, {0, 1, 2})})}),
                     {"1 number not finite in positions or texture coordinates, written as 0"},
                     {R"("min":[0,0,0],"max":[2,2,4])"},
                     {}});
    cases.push_back(
        {"zero_and_non_unit_normals",
         makeModel({makeMesh(
             identityTransform,
             {makeSection("", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 5, 3, 4, 0},
                          {0, 0, 0, 0, 0, 0}, {0, 1, 2}),
              makeSection("", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 5, 3, 4, 0, 1e-30f, 0, 0},
                          {0, 0, 0, 0, 0, 0}, {0, 1, 2})})}),
         {"1 section written without normals: a normal of zero length or not finite"},
         {R"({"attributes":{"POSITION":0,"TEXCOORD_0":1},"indices":2},)"
          R"({"attributes":{"POSITION":3,"NORMAL":4,"TEXCOORD_0":5},"indices":6})"},
         {}});
    cases.push_back(
        {"not_finite_transform",
         makeModel({makeMesh({{nan, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}}, {strip("", 3, {0, 1, 2})})}),
         {"1 section written without normals: a normal of zero length or not finite",
          "3 numbers not finite in positions or texture coordinates, written as 0"},
         {R"("min":[0,0,0],"max":[0,1,0])"},
         {"NORMAL"}});
    {
        std::string name = "q\"b\\s";
        name += std::string("\x01\x1f\x7f\xe9\xff", 5);
        cases.push_back({"names_with_quotes_controls_and_8_bit",
                         makeModel({makeMesh(identityTransform, {strip(name, 3, {0, 1, 2})})}),
                         {},
                         {"\"name\":\"q\\\"b\\\\s\\u0001\\u001f\x7f\xc3\xa9\xc3\xbf\""},
                         {}});
    }
    cases.push_back(
        {"name_of_32_bytes",
         makeModel({makeMesh(identityTransform,
                             {strip("abcdefghijklmnopqrstuvwxyz012345", 3, {0, 1, 2})})}),
         {},
         {R"("name":"abcdefghijklmnopqrstuvwxyz012345")"},
         {}});
    {
        std::vector<MeshSection> sections;
        for (int k = 0; k < 100000; ++k) {
            std::string material = "m";
            material += std::to_string(k % 1000);
            sections.push_back(strip(material, 3, {0, 1, 2}));
        }
        cases.push_back({"sections_100000",
                         makeModel({makeMesh(identityTransform, std::move(sections))}),
                         {},
                         {R"("name":"m999")", R"("indices":399999,"material":999})"},
                         {}});
    }
    return cases;
}

} // namespace ulv
