// ulvbatch: converts every model of whole folders in one run, several at once.
#ifdef _WIN32
#include <windows.h>
#endif

#include <CLI/CLI.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "batch/convert_all.h"
#include "batch/models.h"
#include "batch/progress.h"
#include "cli/arguments.h"
#include "platform/utf8_path.h"

namespace {

namespace fs = std::filesystem;

const char* const kFooter = R"(Exit status:
  0  every model was converted
  1  a model failed, or no model was found
  2  the command line was wrong

Example, every model under game/models as glTF under out/, mirroring the folders:
  ulvbatch -f glb game/models -o out
)";

int usageError(const std::string& message) {
    std::cerr << "ulvbatch: " << message << " (see ulvbatch --help)" << std::endl;
    return 2;
}

// The arguments after the program's name, as UTF-8 text.
int run(std::vector<std::string> arguments) {
    CLI::App app("Converts the Ulvane models (.MOD files) of whole folders, several at once. "
                 "A folder is searched through, also its sub-folders, for files named *.mod in "
                 "any case.",
                 "ulvbatch");
    std::vector<std::string> paths;
    std::string outputFolder;
    std::string format = "obj";
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool verbose = false;
    bool quiet = false;
    app.add_option("PATH", paths, "Model files, and folders to search for models")->required();
    app.add_option("-o,--output", outputFolder,
                   "Write the outputs under DIR, mirroring each model's place under its PATH; "
                   "without it, each output goes beside its model")
        ->option_text("DIR");
    app.add_option("-f,--format", format,
                   "obj (the default; with an .mtl beside it), glb, or gltf (with a .bin)")
        ->check(CLI::IsMember({"obj", "glb", "gltf"}))
        ->option_text("FORMAT");
    app.add_option("-j,--jobs", jobs,
                   "How many models to convert at once; by default the number of cores (" +
                       std::to_string(jobs) + ")")
        ->check(CLI::Range(1u, 4096u))
        ->option_text("N");
    app.add_flag("-v,--verbose", verbose, "Print each model's headers under its name");
    app.add_flag("-q,--quiet", quiet, "No progress line");
    app.set_version_flag("--version", "ulvbatch " ULVTOOL_VERSION);
    app.footer(kFooter);
    // CLI11 takes "/x" for an option on Windows by default; here it is a
    // path from the root of the current drive.
    app.allow_windows_style_options(false);
    try {
        // CLI11 takes the arguments last first.
        std::reverse(arguments.begin(), arguments.end());
        app.parse(arguments);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }
    for (const std::string& path : paths) {
        std::error_code error;
        if (!fs::exists(ulv::utf8Path(path), error))
            return usageError("no such file or folder: " + path);
    }

    const auto start = std::chrono::steady_clock::now();
    ulv::BatchOptions options;
    if (!outputFolder.empty())
        options.outputFolder = ulv::utf8Path(outputFolder);
    options.extension = "." + format;
    options.jobs = jobs;
    options.verbose = verbose;
    options.progress = !quiet && ulv::stderrIsTerminal();
    ulv::BatchList models = ulv::findModels(paths);
    ulv::findCollisions(models, options.outputFolder, options.extension);
    const ulv::BatchCounts counts = ulv::convertAll(models, options, std::cout);
    if (models.models.empty())
        std::cout << "No model found" << std::endl;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    char summary[128];
    std::snprintf(summary, sizeof summary, "%zu converted, %zu failed, %.2f s", counts.converted,
                  counts.failed, took.count());
    std::cout << summary << std::endl;
    return counts.failed == 0 && counts.converted > 0 ? 0 : 1;
}

} // namespace

#ifdef _WIN32
// The wide arguments: the narrow ones are in the ANSI code page, which cannot
// hold every file name.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments = ulv::utf8Arguments(argc, argv);
    // Names are printed in UTF-8; a console shows them right only when told so.
    const UINT codePage = ::GetConsoleOutputCP();
    ::SetConsoleOutputCP(CP_UTF8);
    const int status = run(std::move(arguments));
    ::SetConsoleOutputCP(codePage);
    return status;
}
#else
int main(int argc, char** argv) {
    // Past a file size limit a write must fail and be reported like a full
    // disk, not end the run and leave temporary files behind.
    std::signal(SIGXFSZ, SIG_IGN);
    return run(ulv::utf8Arguments(argc, argv));
}
#endif
