#include "batch/convert_all.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "batch/progress.h"
#include "convert/convert_model.h"
#include "convert/copy_textures.h"
#include "platform/interrupt.h"
#include "platform/threads.h"
#include "platform/utf8_path.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

enum : std::uint8_t { pending, converted, failed, givenUp };

enum class Outcome { converted, failed, interrupted };

// Converts one model; `text` gets what is to be printed about it, `missing`
// the textures found nowhere.
Outcome convertOne(const BatchList& list, std::size_t index, const BatchOptions& options,
                   TextureCopies& copies, std::string& text, std::vector<std::string>& missing) {
    const BatchModel& model = list.models[index];
    const std::string name = list.nameOf(model);
    if (options.verbose)
        text = name + ":\n";
    const auto fail = [&](const std::string& message) {
        text += name + ": " + message + "\n";
        return Outcome::failed;
    };
    if (isUnreadableFolder(model))
        return fail("Unable to read the folder");
    if (model.collidesWith != noModel)
        return fail("Same output as " + list.nameOf(list.models[model.collidesWith]));
    const fs::path output = outputFor(list, model, options.outputFolder, options.extension);
    ConvertOptions convert;
    convert.textureFolders = options.textureFolders;
    convert.missingApart = true;
    convert.copies = options.copyTextures ? &copies : nullptr;
    convert.makeFolder = options.outputFolder.has_value();
    std::ostringstream dump;
    Conversion result = convertModel(utf8Text(list.pathOf(model)), utf8Text(output),
                                     options.verbose ? &dump : nullptr, convert);
    if (result.interrupted)
        return Outcome::interrupted;
    text += dump.str();
    for (const std::string& note : result.notes)
        text += name + ": " + note + "\n";
    missing = std::move(result.missingTextures);
    return result.failure.empty() ? Outcome::converted : fail(result.failure);
}

struct Shared {
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<std::uint8_t> state;
    // What is to be printed about models finished but not yet reported.
    std::unordered_map<std::size_t, std::string> texts;
    std::uintmax_t bytesDone = 0;
    std::atomic<std::size_t> next{0};
    // Textures found nowhere, with the number of models that wanted each.
    std::map<std::string, std::size_t> missing;
    TextureCopies copies;
};

void work(const BatchList& list, const BatchOptions& options, Shared& shared) {
    const std::deque<BatchModel>& models = list.models;
    // No model is started once an interrupt has come.
    for (std::size_t i; !interrupted() && (i = shared.next++) < models.size();) {
        std::string text;
        std::vector<std::string> missing;
        Outcome outcome = Outcome::failed;
        std::uintmax_t size = 0;
        if (options.progress && !isUnreadableFolder(models[i])) {
            std::error_code error;
            size = fs::file_size(list.pathOf(models[i]), error);
            if (error)
                size = 0;
        }
        try {
            outcome = convertOne(list, i, options, shared.copies, text, missing);
        } catch (const std::bad_alloc&) {
            text = list.nameOf(models[i]) + ": Not enough memory to read the model\n";
        }
        const std::lock_guard<std::mutex> lock(shared.mutex);
        shared.state[i] = outcome == Outcome::converted ? converted
                          : outcome == Outcome::failed  ? failed
                                                        : givenUp;
        if (!text.empty() && outcome != Outcome::interrupted)
            shared.texts.emplace(i, std::move(text));
        for (const std::string& name : missing)
            ++shared.missing[name];
        shared.bytesDone += size;
        shared.finished.notify_one();
    }
}

} // namespace

BatchCounts convertAll(const BatchList& list, const BatchOptions& options, std::ostream& out) {
    const std::deque<BatchModel>& models = list.models;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Shared shared;
    shared.state.assign(models.size(), pending);

    const std::size_t count = std::min<std::size_t>(std::max(1u, options.jobs), models.size());
    std::vector<std::thread> workers;
    workers.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        std::thread worker = startThread([&] { work(list, options, shared); });
        if (!worker.joinable())
            break; // the threads that did start share the work
        workers.push_back(std::move(worker));
    }
    if (workers.empty())
        work(list, options, shared);

    // This thread reports, in order, each model once it and all before it
    // are done, and redraws the progress line in between.
    BatchCounts counts;
    ProgressLine progress;
    constexpr auto redraw = std::chrono::milliseconds(100);
    Clock::time_point drawn = start - redraw;
    std::string text;
    const auto show = [&](std::size_t done, std::uintmax_t bytesDone, Clock::duration elapsed) {
        progress.show(progressText(done, models.size(), bytesDone, elapsed,
                                   list.nameOf(models[done]), ProgressLine::columns()));
    };
    if (options.progress && !models.empty())
        show(0, 0, {});
    std::size_t reported = 0;
    // Takes what is to be printed about the models done from `reported` on:
    // up to the first not done, or after an interrupt all that are done.
    const auto take = [&](bool all) {
        text.clear();
        for (; reported < models.size(); ++reported) {
            const std::uint8_t state = shared.state[reported];
            if (state == pending || state == givenUp) {
                if (!all)
                    break;
                continue;
            }
            ++(state == converted ? counts.converted : counts.failed);
            const auto found = shared.texts.find(reported);
            if (found != shared.texts.end()) {
                text += found->second;
                shared.texts.erase(found);
            }
        }
    };
    const auto print = [&] {
        if (text.empty())
            return;
        if (options.progress)
            progress.clear();
        out << text << std::flush;
    };
    std::unique_lock<std::mutex> lock(shared.mutex);
    while (reported < models.size() && !interrupted()) {
        shared.finished.wait_for(
            lock, redraw, [&] { return shared.state[reported] != pending || interrupted(); });
        take(false);
        const std::uintmax_t bytesDone = shared.bytesDone;
        lock.unlock();
        print();
        const Clock::time_point now = Clock::now();
        if (options.progress && reported < models.size() &&
            (now - drawn >= redraw || !text.empty())) {
            show(reported, bytesDone, now - start);
            drawn = now;
        }
        lock.lock();
    }
    lock.unlock();
    for (std::thread& worker : workers)
        worker.join();
    // Interrupted: whatever finished is reported, in order, before giving up.
    take(true);
    print();
    progress.clear();
    for (const auto& [name, wanting] : shared.missing)
        out << "Texture " << name << " not found: wanted by " << wanting
            << (wanting == 1 ? " model" : " models") << "\n";
    out << std::flush;
    return counts;
}

} // namespace ulv
