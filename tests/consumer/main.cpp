// Converts a model through the installed library: consumer IN.mod OUT.obj
// Reads through a stream, then writes both files with writeObj, and also
// through streams, to check the two ways agree; then the same for glTF,
// OUT with the extension .glb, textures taken from IN's folder.
#include <fstream>
#include <iostream>
#include <sstream>

#include "convert/outputs.h"
#include "convert/textures.h"
#include "convert/write_files.h"
#include "gltf/writer.h"
#include "mod/reader.h"
#include "obj/writer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: consumer IN.mod OUT.obj\n";
        return 2;
    }
    ulv::Model model;
    try {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) {
            std::cerr << "cannot open " << argv[1] << "\n";
            return 1;
        }
        model = ulv::readModel(in);
    } catch (const ulv::TextError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    std::size_t sections = 0;
    for (const ulv::Mesh& mesh : model.meshes)
        sections += mesh.sections.size();
    std::cout << model.meshes.size() << " meshes, " << sections << " sections\n";

    if (!ulv::writeObj(model, argv[2])) {
        std::cerr << "cannot write " << argv[2] << "\n";
        return 1;
    }
    std::ostringstream obj, mtl;
    const std::string mtlPath = ulv::mtlPathFor(argv[2]);
    const std::string mtlName = mtlPath.substr(mtlPath.find_last_of('/') + 1);
    if (!ulv::writeObj(model, obj, mtl, mtlName))
        return 1;
    std::ifstream objFile(argv[2], std::ios::binary), mtlFile(mtlPath, std::ios::binary);
    std::ostringstream objRead, mtlRead;
    objRead << objFile.rdbuf();
    mtlRead << mtlFile.rdbuf();
    if (objRead.str() != obj.str() || mtlRead.str() != mtl.str()) {
        std::cerr << "the files differ from the streamed text\n";
        return 1;
    }

    std::string folder = argv[1];
    folder = folder.find('/') == std::string::npos ? "." : folder.substr(0, folder.rfind('/'));
    std::string glbPath = argv[2];
    glbPath = glbPath.substr(0, glbPath.rfind('.')) + ".glb";
    ulv::Notes notes;
    if (ulv::writeGltf(model, glbPath, folder, notes) != ulv::GltfResult::ok) {
        std::cerr << "cannot write " << glbPath << "\n";
        return 1;
    }
    for (const std::string& note : notes)
        std::cout << note << "\n";
    std::ostringstream glb;
    const ulv::TextureSet textures = ulv::loadTextures(model, folder, notes);
    if (ulv::writeGlb(model, textures, glb, notes) != ulv::GltfResult::ok)
        return 1;
    std::ifstream glbFile(glbPath, std::ios::binary);
    std::ostringstream glbRead;
    glbRead << glbFile.rdbuf();
    if (glbRead.str() != glb.str()) {
        std::cerr << "the .glb differs from the streamed bytes\n";
        return 1;
    }
    return 0;
}
