// ulvtool: converts a .MOD model file to a Wavefront OBJ file and its MTL
// library, or to glTF 2.0 when the output's name ends in .glb or .gltf.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/help.h"
#include "convert/convert_model.h"
#include "convert/textures.h"
#include "model/model.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/huge_pages.h"
#include "platform/interrupt.h"
#include "platform/utf8_path.h"

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

namespace {

// The arguments after the program's name, as UTF-8 text.
int convert(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        ulv::printUsage();
        return 0;
    }
    // Every argument is a path; these three only when nothing has that name.
    if (const std::string& only = arguments[0];
        arguments.size() == 1 && (only == "--help" || only == "-h" || only == "--version") &&
        !ulv::existsAt(ulv::utf8Path(only))) {
        std::cout << (only == "--version" ? ulv::toolVersion() + "\n" : ulv::toolHelp())
                  << std::flush;
        return 0;
    }
    std::string inputPath;
    bool inputGiven = false;
    std::string outputPath = "default.obj";
    for (const std::string& argument : arguments) {
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

    ulv::ConvertOptions options;
    options.textureFolders = ulv::splitFolderList(ulv::environmentText("ULVTOOL_TEXTURES"));
    const ulv::Conversion result =
        ulv::convertModel(inputPath, outputPath, ulv::verbose ? &std::cout : nullptr, options);
    // Cut short: nothing to say, as for a program that the signal ended.
    if (result.interrupted)
        return ulv::interruptedStatus;
    for (const std::string& note : result.notes)
        say(note.c_str());
    if (!result.failure.empty()) {
        say(result.failure.c_str());
        return 1;
    }
    return 0;
}

} // namespace

#ifdef _WIN32
// The wide arguments: the narrow ones are in the ANSI code page, which cannot
// hold every file name.
int wmain(int argc, wchar_t** argv) {
    ulv::catchInterrupts(ulv::OnInterrupt::end);
    return convert(ulv::utf8Arguments(argc, argv));
}
#else
int main(int argc, char** argv) {
    // Past a file size limit a write must fail and be reported like a full
    // disk, not kill the tool and leave its temporary files behind.
    std::signal(SIGXFSZ, SIG_IGN);
    ulv::catchInterrupts(ulv::OnInterrupt::end);
    ulv::useHugePagesForTheHeap();
    return convert(ulv::utf8Arguments(argc, argv));
}
#endif
