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
#include "platform/threads.h"
#include "platform/utf8_path.h"

namespace ulv {
namespace {

namespace fs = std::filesystem;

enum : std::uint8_t { pending, converted, failed };

// Converts one model; `text` gets what is to be printed about it.
bool convertOne(const BatchList& list, std::size_t index, const BatchOptions& options,
                std::string& text) {
    const BatchModel& model = list.models[index];
    const std::string name = list.nameOf(model);
    if (options.verbose)
        text = name + ":\n";
    const auto fail = [&](const std::string& message) {
        text += name + ": " + message + "\n";
        return false;
    };
    if (isUnreadableFolder(model))
        return fail("Unable to read the folder");
    if (model.collidesWith != noModel)
        return fail("Same output as " + list.nameOf(list.models[model.collidesWith]));
    const fs::path output = outputFor(list, model, options.outputFolder, options.extension);
    if (options.outputFolder && output.has_parent_path()) {
        std::error_code error;
        fs::create_directories(output.parent_path(), error);
        if (error)
            return fail("Unable to write the output file");
    }
    std::ostringstream dump;
    const Conversion result = convertModel(utf8Text(list.pathOf(model)), utf8Text(output),
                                           options.verbose ? &dump : nullptr);
    text += dump.str();
    for (const std::string& note : result.notes)
        text += name + ": " + note + "\n";
    return result.failure.empty() || fail(result.failure);
}

struct Shared {
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<std::uint8_t> state;
    // What is to be printed about models finished but not yet reported.
    std::unordered_map<std::size_t, std::string> texts;
    std::uintmax_t bytesDone = 0;
    std::atomic<std::size_t> next{0};
};

void work(const BatchList& list, const BatchOptions& options, Shared& shared) {
    const std::deque<BatchModel>& models = list.models;
    for (std::size_t i; (i = shared.next++) < models.size();) {
        std::string text;
        bool ok = false;
        std::uintmax_t size = 0;
        if (options.progress && !isUnreadableFolder(models[i])) {
            std::error_code error;
            size = fs::file_size(list.pathOf(models[i]), error);
            if (error)
                size = 0;
        }
        try {
            ok = convertOne(list, i, options, text);
        } catch (const std::bad_alloc&) {
            text = list.nameOf(models[i]) + ": Not enough memory to read the model\n";
        }
        const std::lock_guard<std::mutex> lock(shared.mutex);
        shared.state[i] = ok ? converted : failed;
        if (!text.empty())
            shared.texts.emplace(i, std::move(text));
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
    if (options.progress && !models.empty())
        progress.show(progressText(0, models.size(), 0, {}, list.nameOf(models[0])));
    std::unique_lock<std::mutex> lock(shared.mutex);
    for (std::size_t reported = 0; reported < models.size();) {
        shared.finished.wait_for(lock, redraw, [&] { return shared.state[reported] != pending; });
        text.clear();
        for (; reported < models.size() && shared.state[reported] != pending; ++reported) {
            ++(shared.state[reported] == converted ? counts.converted : counts.failed);
            const auto found = shared.texts.find(reported);
            if (found != shared.texts.end()) {
                text += found->second;
                shared.texts.erase(found);
            }
        }
        const std::uintmax_t bytesDone = shared.bytesDone;
        lock.unlock();
        if (!text.empty()) {
            if (options.progress)
                progress.clear();
            out << text << std::flush;
        }
        const Clock::time_point now = Clock::now();
        if (options.progress && reported < models.size() &&
            (now - drawn >= redraw || !text.empty())) {
            progress.show(progressText(reported, models.size(), bytesDone, now - start,
                                       list.nameOf(models[reported])));
            drawn = now;
        }
        lock.lock();
    }
    lock.unlock();
    for (std::thread& worker : workers)
        worker.join();
    progress.clear();
    return counts;
}

} // namespace ulv
