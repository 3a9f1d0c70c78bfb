// ulvtool: converts a .MOD model file to a Wavefront OBJ file and its MTL library.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <string>

#include "export/obj_writer.h"
#include "model/reader.h"

namespace {

void say(const char* message) { std::cout << message << std::endl; }

} // namespace

namespace ulv {

void printUsage() {
    std::cout << "ULVTOOL Convertor v" << 0 << "." << 1 << std::endl;
    say("Usage:");
    say("   ulvtool filename [output filename]");
    say("where [filename] is a valid Ulvane model file");
}

} // namespace ulv

int main(int argc, char** argv) {
    if (argc < 2) {
        ulv::printUsage();
        return 0;
    }
    std::string inputPath;
    bool inputGiven = false;
    std::string outputPath = "default.obj";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-v") {
            ulv::verbose = true;
        } else if (!inputGiven) {
            inputPath = argument;
            inputGiven = true;
        } else {
            outputPath = argument;
        }
    }
    if (!inputGiven) {
        say("Must specify an input file");
        return 1;
    }

    ulv::Model model;
    try {
        std::error_code error;
        std::ifstream input;
        // A folder opens on some systems but has no bytes to read.
        if (!std::filesystem::is_directory(inputPath, error))
            input.open(inputPath, std::ios::binary);
        if (!input.is_open()) {
            say("Unable to open the requested file");
            return 1;
        }
        model = ulv::readModel(input);
    } catch (const ulv::TextError& e) {
        std::cout << "Exception thrown: " << e.what() << std::endl;
        return 1;
    } catch (const std::bad_alloc&) {
        say("Not enough memory to read the model");
        return 1;
    }

    bool written = false;
    try {
        written = ulv::writeObj(std::move(model), outputPath);
    } catch (const std::bad_alloc&) {
        written = false;
    }
    if (!written) {
        say("Unable to write the output file");
        return 1;
    }
    return 0;
}
