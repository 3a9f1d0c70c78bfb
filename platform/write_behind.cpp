#include "platform/write_behind.h"

#include <algorithm>
#include <cstring>

#include "platform/huge_pages.h"
#include "platform/threads.h"

namespace ulv {

WriteBehind::WriteBehind(std::ostream& stream, std::size_t size)
    : stream_(stream), bufferSize_(size) {
    buffers_[0].reset(new char[bufferSize_]);
    adviseHugePages(buffers_[0].get(), bufferSize_);
    cursor_ = buffers_[0].get();
    limit_ = cursor_ + bufferSize_;
}

WriteBehind::~WriteBehind() {
    if (writer_.joinable()) {
        {
            std::unique_lock lock(mutex_);
            waitForWriter(lock);
            stopping_ = true;
        }
        changed_.notify_all();
        writer_.join();
    }
}

void WriteBehind::put(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), bufferSize_);
        char* p = room(n);
        std::memcpy(p, bytes.data(), n);
        commit(p + n);
        bytes.remove_prefix(n);
    }
}

void WriteBehind::waitForWriter(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return pending_ == nullptr; });
}

void WriteBehind::writeInBackground() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return pending_ != nullptr || stopping_; });
        if (!pending_)
            return;
        const char* data = pending_;
        const auto size = static_cast<std::streamsize>(pendingSize_);
        lock.unlock();
        if (stream_)
            stream_.write(data, size);
        lock.lock();
        pending_ = nullptr;
        changed_.notify_all();
    }
}

void WriteBehind::handOff() {
    char* full = buffers_[current_].get();
    const auto size = static_cast<std::size_t>(cursor_ - full);
    if (!writer_.joinable() && !writeHere_) {
        writer_ = startThread([this] { writeInBackground(); });
        if (writer_.joinable()) {
            buffers_[1].reset(new char[bufferSize_]);
            adviseHugePages(buffers_[1].get(), bufferSize_);
        } else {
            // No thread to be had: this one writes each buffer as it fills.
            writeHere_ = true;
        }
    }
    if (writeHere_) {
        if (stream_)
            stream_.write(full, static_cast<std::streamsize>(size));
        cursor_ = full;
        return;
    }
    {
        std::unique_lock lock(mutex_);
        waitForWriter(lock);
        pending_ = full;
        pendingSize_ = size;
    }
    changed_.notify_all();
    current_ ^= 1;
    cursor_ = buffers_[current_].get();
    limit_ = cursor_ + bufferSize_;
}

bool WriteBehind::flush() {
    {
        // The stream is the writer's until its last buffer is out.
        std::unique_lock lock(mutex_);
        waitForWriter(lock);
    }
    char* start = buffers_[current_].get();
    if (cursor_ > start && stream_)
        stream_.write(start, cursor_ - start);
    cursor_ = start;
    if (stream_)
        stream_.flush();
    return static_cast<bool>(stream_);
}

} // namespace ulv
