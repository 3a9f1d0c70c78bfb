// Threads that may not be had: a process near its limit, or a sandbox that
// refuses them. Every caller can do the work on its own thread instead, so a
// refusal costs time, never the result.
#pragma once

#include <system_error>
#include <thread>
#include <utility>

namespace ulv {

// `work` running on a new thread, or an empty (not joinable) thread when
// none can be had, in which case `work` was not started.
template <typename Work> std::thread startThread(Work&& work) {
    try {
        return std::thread(std::forward<Work>(work));
    } catch (const std::system_error&) {
        return {};
    }
}

// Runs `work` on this thread and, when `share` is set, on one more that can
// be had; returns once both have returned. `work` takes its own share of
// whatever is to be done, so one thread alone also does it all.
template <typename Work> void runShared(Work& work, bool share) {
    std::thread helper;
    if (share)
        helper = startThread([&work] { work(); });
    work();
    if (helper.joinable())
        helper.join();
}

} // namespace ulv
