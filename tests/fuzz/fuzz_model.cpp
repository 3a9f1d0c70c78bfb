// libFuzzer target: arbitrary bytes through the ways of reading a model
// (memory, a seekable stream, a stream of unknown length, in small chunks
// and in large ones), then through the writers: OBJ into counting sinks, and
// binary glTF, from the model in memory and from the bytes read twice. Aborts when the readers
// disagree, when a writer fails on a healthy stream, when the OBJ loses or adds lines or is far
// larger than the input could justify, when the GLB framing is broken, or when the two ways to glTF
// give different files.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "convert/read_twice.h"
#include "gltf/writer.h"
#include "mod/reader.h"
#include "mod/section_hook.h"
#include "obj/writer.h"
#include "tests/support/gltf_files.h"
#include "tests/support/model_builder.h"

namespace {

// Swallows everything, counting bytes and newlines.
class CountingBuf : public std::streambuf {
  public:
    std::uint64_t bytes = 0;
    std::uint64_t newlines = 0;

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            ++bytes;
            newlines += traits_type::to_char_type(c) == '\n';
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        bytes += static_cast<std::uint64_t>(n);
        newlines += static_cast<std::uint64_t>(std::count(s, s + n, '\n'));
        return n;
    }
};

// Reads bytes from memory without seeking, as a pipe gives them.
class PipeBuf : public std::streambuf {
  public:
    PipeBuf(const std::uint8_t* data, std::size_t size) {
        char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
        setg(begin, begin, begin + size);
    }
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_model: %s\n", what);
    std::abort();
}

// What a read gave: the encoded model, or the reader's message.
template <typename Read> std::string outcome(Read&& read) {
    try {
        const ulv::Model model = read();
        const ulv::Bytes bytes = ulv::encodeModel(model);
        return "model " + std::string(bytes.begin(), bytes.end());
    } catch (const ulv::TextError& e) {
        return std::string("error ") + e.what();
    }
}

std::uint64_t newlinesIn(const std::string& text) {
    return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The verbose dump runs on one of the reads; its text is thrown away.
    static CountingBuf console;
    static std::streambuf* const realConsole = std::cout.rdbuf(&console);
    (void)realConsole;

    std::optional<ulv::Model> model;
    const std::string fromMemory = outcome([&] {
        model = ulv::readModel(data, size);
        return *model;
    });

    std::istringstream seekable(std::string(reinterpret_cast<const char*>(data), size));
    ulv::verbose = true;
    const std::string fromStream = outcome([&] { return ulv::readModel(seekable); });
    ulv::verbose = false;
    if (fromStream != fromMemory)
        fail("a seekable stream reads differently from memory");

    // Small chunks: every tag and array of an input this size crosses the
    // boundary between two chunks.
    constexpr std::size_t smallChunk = 64;
    std::istringstream chunked(std::string(reinterpret_cast<const char*>(data), size));
    ulv::InputBuffer chunkedInput(chunked, smallChunk);
    if (outcome([&] { return ulv::readModel(chunkedInput, nullptr); }) != fromMemory)
        fail("a seekable stream in small chunks reads differently from memory");

    PipeBuf pipe(data, size);
    std::istream pipeStream(&pipe);
    ulv::InputBuffer pipeInput(pipeStream, smallChunk);
    if (outcome([&] { return ulv::readModel(pipeInput, nullptr); }) != fromMemory)
        fail("a stream of unknown length reads differently from memory");

    std::istringstream twice(std::string(reinterpret_cast<const char*>(data), size));
    std::optional<ulv::SkimmedModel> skimmed;
    try {
        skimmed = ulv::skimModel(twice, nullptr);
    } catch (const ulv::TextError& e) {
        if (std::string("error ") + e.what() != fromMemory)
            fail("skimming fails differently from reading");
    }
    if (!model)
        return 0;
    if (!skimmed)
        fail("skimming fails where reading succeeds");

    // Lines the writer must produce: the header lines, three per vertex plus
    // the three separators, per section its group line, its usemtl line and
    // its faces, one per mesh, and whatever newlines the names carry.
    std::uint64_t objLines = 4 + 3;
    std::uint64_t mtlLines = 0;
    std::vector<std::string> names;
    for (const ulv::Mesh& mesh : model->meshes) {
        objLines += 1;
        for (const ulv::MeshSection& section : mesh.sections) {
            const std::string name = ulv::materialNameOf(section);
            objLines += 3 * std::uint64_t{section.vertexCount} + 1 + section.triangleCount;
            if (name.empty())
                continue;
            objLines += 1 + newlinesIn(name);
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
                mtlLines += 3 + 2 * newlinesIn(name);
            }
        }
    }

    // The same model as binary glTF: framed correctly whatever it holds.
    {
        std::ostringstream glb;
        ulv::Notes notes;
        if (ulv::writeGlb(*model, {}, glb, notes) != ulv::GltfResult::ok)
            fail("writing glTF into a healthy stream was reported as failed");
        if (!ulv::splitGlb(glb.str()).valid)
            fail("the GLB framing is broken");
        std::ostringstream again;
        ulv::Notes againNotes;
        if (ulv::writeGlb(*skimmed, twice, 0, {}, again, againNotes) != ulv::GltfResult::ok)
            fail("glTF from the bytes read twice was reported as failed");
        if (again.str() != glb.str() || againNotes != notes)
            fail("glTF from the bytes read twice differs from the model in memory");
    }

    CountingBuf objBuf, mtlBuf;
    std::ostream obj(&objBuf), mtl(&mtlBuf);
    if (!ulv::writeObj(std::move(*model), obj, mtl, "fuzz.mtl"))
        fail("writing into a healthy stream was reported as failed");
    if (objBuf.newlines != objLines)
        fail("the OBJ has the wrong number of lines");
    if (mtlBuf.newlines != mtlLines)
        fail("the MTL has the wrong number of lines");
    // Every input byte accounts for at most about 13 output bytes (a vertex
    // of 32 bytes gives three lines of at most 392); more means the writer
    // multiplies what it was given.
    if (objBuf.bytes + mtlBuf.bytes > 16 * std::uint64_t{size} + 256)
        fail("the output is out of proportion to the input");
    return 0;
}
