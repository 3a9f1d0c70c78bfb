// The way back from glTF loses nothing: for every model file the reader
// takes, the glTF of the model file made from its glTF is the same glTF
// (a fixed point), and the glTF written over the model as a template gives
// the model back byte for byte. Run over the fuzzing corpus, the hostile
// models and the sample.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "gltf/reader.h"
#include "gltf/to_model.h"
#include "gltf/writer.h"
#include "mod/over.h"
#include "mod/reader.h"
#include "tests/support/gltf_files.h"
#include "tests/support/model_builder.h"
#include "tests/support/sample_model.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

std::string glbOf(const Model& model) {
    std::ostringstream out;
    Notes notes;
    EXPECT_EQ(writeGlb(model, {}, out, notes), GltfResult::ok);
    return out.str();
}

GltfScene sceneOf(const std::string& glb) {
    Notes notes;
    return readGltf(
        reinterpret_cast<const std::uint8_t*>(glb.data()), glb.size(),
        [](const std::string&, std::string& why) {
            why = "none";
            return std::nullopt;
        },
        notes);
}

struct Case {
    std::string name;
    Bytes bytes;
};

std::vector<Case> cases() {
    std::vector<Case> all;
    all.push_back({"sample", encodeModel(sampleModel())});
    for (HostileModel& hostile : hostileModels())
        if (hostile.name != "sections_100000") // the slowest, and no different in kind
            all.push_back({hostile.name, encodeModel(hostile.model)});
    const fs::path corpus = fs::path(ULVTOOL_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / "model";
    for (const auto& entry : fs::directory_iterator(corpus)) {
        std::ifstream in(entry.path(), std::ios::binary);
        all.push_back({entry.path().filename().string(), Bytes((std::istreambuf_iterator<char>(in)),
                                                               std::istreambuf_iterator<char>())});
    }
    return all;
}

TEST(ModRoundTrip, GltfOfTheModelMadeFromGltfIsTheSame) {
    std::size_t read = 0;
    for (const Case& c : cases()) {
        Model model;
        try {
            model = readModel(c.bytes.data(), c.bytes.size(), nullptr);
        } catch (const TextError&) {
            continue;
        }
        ++read;
        SCOPED_TRACE(c.name);
        const std::string a = glbOf(model);
        Notes notes;
        const ModelFromGltf b = modelOf(sceneOf(a), nullptr, notes);
        const Bytes bBytes = encodeModel(b.model);
        const std::string again = glbOf(readModel(bBytes.data(), bBytes.size(), nullptr));
        EXPECT_TRUE(again == a) << "the glTF differs";
        EXPECT_TRUE(notes.empty()) << notes.front();
    }
    EXPECT_GT(read, 100u) << "the corpus should hold many models the reader takes";
}

TEST(ModRoundTrip, GltfOverItsModelGivesTheModelBack) {
    for (const Case& c : cases()) {
        std::optional<TemplateFile> templ = readTemplate(c.bytes);
        if (!templ)
            continue;
        SCOPED_TRACE(c.name);
        const std::string a = glbOf(templ->model);
        Notes notes;
        const ModelFromGltf made = modelOf(sceneOf(a), &templ->model, notes);
        bool betweenKept = false;
        const Bytes written = writeOver(made.model, made.reuse, *templ, betweenKept);
        EXPECT_TRUE(written == c.bytes) << "the model differs";
        EXPECT_TRUE(betweenKept);
        EXPECT_EQ(made.reuse.changed + made.reuse.added + made.reuse.dropped, 0u);
    }
}

} // namespace
} // namespace ulv
