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
#include "convert/outputs.h"
#include "convert/textures.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/utf8_path.h"

namespace {

namespace fs = std::filesystem;

const char* const kFooter =
    R"(Textures are looked up in each model's folder, then in the -t folders, then
in those of the environment variable ULVTOOL_TEXTURES, as for ulvtool.

Exit status:
  0    every model was converted
  1    a model failed, or no model was found
  2    the command line was wrong, or the output folder cannot be written
  130  interrupted (Ctrl-C): the models being converted were given up

Example, every model under game/models as glTF under out/, mirroring the folders:
  ulvbatch -f glb game/models -o out
)";

int usageError(const std::string& message) {
    std::cerr << "ulvbatch: " << message << " (see ulvbatch --help)" << std::endl;
    return 2;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

const char* const kJobs = "-j/--jobs takes a whole number of models to convert at once, "
                          "from 1 to 4096";

// The format -f names, in any case, or null.
const ulv::OutputFormatName* formatNamed(const std::string& name) {
    for (const ulv::OutputFormatName& known : ulv::outputFormats)
        if (lowerCase(name) == known.name)
            return &known;
    return nullptr;
}

// The number -j gives, or nothing for anything but a whole number in range.
std::optional<unsigned> jobsFrom(const std::string& text) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned jobs = static_cast<unsigned>(std::stoul(text));
    if (jobs < 1 || jobs > 4096)
        return std::nullopt;
    return jobs;
}

// What is wrong with the options given, in words for the user; empty if nothing.
std::string optionMistake(const CLI::App& app, const std::string& jobsText,
                          const std::string& format) {
    if (!app.remaining().empty())
        return "unknown option " + app.remaining().front();
    if (app.count("--jobs") > 0 && !jobsFrom(jobsText))
        return jobsText.empty() ? std::string(kJobs) : std::string(kJobs) + ", not " + jobsText;
    if (!formatNamed(format)) {
        std::string names;
        for (const ulv::OutputFormatName& known : ulv::outputFormats)
            names += (names.empty() ? "" : ",") + std::string(known.name);
        return "--format: " + format + " not in {" + names + "}";
    }
    return "";
}

// The arguments after the program's name, as UTF-8 text.
int run(std::vector<std::string> arguments) {
    CLI::App app("Converts the Ulvane models (.MOD files) of whole folders, several at once. "
                 "A folder is searched through, also its sub-folders, for files named *.mod in "
                 "any case (with -f mod, *.glb and *.gltf).",
                 "ulvbatch");
    std::vector<std::string> paths;
    std::string outputFolder;
    std::vector<std::string> textureFolders;
    std::string format = ulv::outputFormats[0].name;
    std::string formatHelp;
    for (const ulv::OutputFormatName& known : ulv::outputFormats)
        formatHelp +=
            (formatHelp.empty() ? "" : "; ") + std::string(known.name) + ": " + known.about;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::string jobsText;
    bool verbose = false;
    bool quiet = false;
    app.add_option("PATH", paths, "Model files, and folders to search for models")->required();
    app.add_option("-o,--output", outputFolder,
                   "Write the outputs under DIR, mirroring each model's place under its PATH; "
                   "without it, each output goes beside its model. OBJ outputs get the "
                   "textures their libraries name copied beside them")
        ->option_text("DIR");
    app.add_option("-f,--format", format,
                   "In any case, " + formatHelp + " (the first is the default)")
        ->option_text("FORMAT");
    // Taken as text, so that a bad or missing value is answered in words of our own.
    app.add_option("-j,--jobs", jobsText,
                   "How many models to convert at once, from 1 to 4096; by default the number "
                   "of cores (" +
                       std::to_string(cores) + ")")
        ->expected(0, 1)
        ->option_text("N");
    app.add_option("-t,--textures", textureFolders,
                   "Also look for textures in DIR, in any case, after each model's own folder; "
                   "may be given more than once, and is searched before ULVTOOL_TEXTURES")
        ->allow_extra_args(false)
        ->option_text("DIR");
    app.add_flag("-v,--verbose", verbose, "Print each model's headers under its name");
    app.add_flag("-q,--quiet", quiet, "No progress line");
    app.set_version_flag("--version", "ulvbatch " ULVTOOL_VERSION);
    app.footer(kFooter);
    // CLI11 takes "/x" for an option on Windows by default; here it is a
    // path from the root of the current drive.
    app.allow_windows_style_options(false);
    // Unknown options are named below rather than hidden behind another error.
    app.allow_extras();
    try {
        // CLI11 takes the arguments last first.
        std::reverse(arguments.begin(), arguments.end());
        app.parse(arguments);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::RequiredError& e) {
        // No PATH: a mistake in an option given says more.
        if (const std::string mistake = optionMistake(app, jobsText, format); !mistake.empty())
            return usageError(mistake);
        return usageError(e.what());
    } catch (const CLI::ParseError& e) {
        if (!app.remaining().empty())
            return usageError("unknown option " + app.remaining().front());
        return usageError(e.what());
    }
    if (const std::string mistake = optionMistake(app, jobsText, format); !mistake.empty())
        return usageError(mistake);
    const unsigned jobs = app.count("--jobs") > 0 ? *jobsFrom(jobsText) : cores;
    const ulv::OutputFormatName& chosen = *formatNamed(format);
    for (const std::string& path : paths) {
        if (!ulv::existsAt(ulv::utf8Path(path)))
            return usageError("no such file or folder: " + path);
    }
    for (const std::string& folder : textureFolders) {
        if (!ulv::existsAt(ulv::utf8Path(folder)))
            return usageError("no such texture folder: " + folder);
    }
    // Checked once, here, rather than failing every model.
    if (!outputFolder.empty()) {
        const std::string why = ulv::makeWritableFolder(ulv::utf8Path(outputFolder));
        if (!why.empty()) {
            std::cerr << "ulvbatch: cannot write into " << outputFolder << ": " << why << std::endl;
            return 2;
        }
    }

    const auto start = std::chrono::steady_clock::now();
    ulv::BatchOptions options;
    if (!outputFolder.empty())
        options.outputFolder = ulv::utf8Path(outputFolder);
    options.extension = std::string(".") + chosen.name;
    options.jobs = jobs;
    options.verbose = verbose;
    options.progress = !quiet && ulv::stderrIsTerminal();
    options.textureFolders = textureFolders;
    for (const std::string& folder : ulv::splitFolderList(ulv::environmentText("ULVTOOL_TEXTURES")))
        options.textureFolders.push_back(folder);
    options.copyTextures = options.outputFolder && chosen.format == ulv::OutputFormat::obj;
    // A model file is made of glTF; every other format of model files.
    ulv::BatchList models =
        ulv::findModels(paths, chosen.format == ulv::OutputFormat::mod ? ulv::BatchInputs::gltf
                                                                       : ulv::BatchInputs::models);
    ulv::findCollisions(models, options.outputFolder, options.extension);
    const ulv::BatchCounts counts = ulv::convertAll(models, options, std::cout);
    const bool cut = ulv::interrupted();
    if (models.models.empty() && !cut)
        std::cout << "No model found" << std::endl;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    char summary[128];
    std::snprintf(summary, sizeof summary, "%zu converted, %zu failed, %s%.2f s", counts.converted,
                  counts.failed, cut ? "interrupted, " : "", took.count());
    std::cout << summary << std::endl;
    if (cut)
        return ulv::interruptedStatus;
    return counts.failed == 0 && counts.converted > 0 ? 0 : 1;
}

} // namespace

#ifdef _WIN32
// The wide arguments: the narrow ones are in the ANSI code page, which cannot
// hold every file name.
int wmain(int argc, wchar_t** argv) {
    ulv::catchInterrupts(ulv::OnInterrupt::report);
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
    ulv::catchInterrupts(ulv::OnInterrupt::report);
    return run(ulv::utf8Arguments(argc, argv));
}
#endif
