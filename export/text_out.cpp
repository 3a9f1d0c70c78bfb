#include "export/text_out.h"

#include <algorithm>
#include <system_error>

#include "model/huge_pages.h"

namespace ulv {

TextOut::TextOut(std::ostream& stream, std::size_t size) : stream_(stream), bufferSize_(size) {
    buffers_[0].reset(new char[bufferSize_]);
    adviseHugePages(buffers_[0].get(), bufferSize_);
    cursor_ = buffers_[0].get();
    limit_ = cursor_ + bufferSize_;
}

TextOut::~TextOut() {
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

void TextOut::put(std::string_view text) {
    while (!text.empty()) {
        char* p = room();
        const std::size_t n = std::min(text.size(), maxLine);
        std::memcpy(p, text.data(), n);
        commit(p + n);
        text.remove_prefix(n);
    }
}

void TextOut::line(std::string_view text) {
    put(text);
    commit(endLine(room()));
}

void TextOut::waitForWriter(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return pending_ == nullptr; });
}

void TextOut::writeInBackground() {
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

void TextOut::handOff() {
    char* full = buffers_[current_].get();
    const auto size = static_cast<std::size_t>(cursor_ - full);
    if (!writer_.joinable() && !writeHere_) {
        try {
            writer_ = std::thread([this] { writeInBackground(); });
            buffers_[1].reset(new char[bufferSize_]);
            adviseHugePages(buffers_[1].get(), bufferSize_);
        } catch (const std::system_error&) {
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

bool TextOut::flush() {
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

void TextChain::put(std::string_view text) {
    while (!text.empty()) {
        char* p = room();
        const std::size_t n = std::min(text.size(), maxLine);
        std::memcpy(p, text.data(), n);
        commit(p + n);
        text.remove_prefix(n);
    }
}

void TextChain::line(std::string_view text) {
    put(text);
    commit(endLine(room()));
}

void TextChain::nextBlock() {
    if (cursor_)
        used_.push_back(static_cast<std::size_t>(cursor_ - blocks_[used_.size()].get()));
    if (used_.size() == blocks_.size()) {
        blocks_.emplace_back(new char[blockSize]);
        adviseHugePages(blocks_.back().get(), blockSize);
    }
    cursor_ = blocks_[used_.size()].get();
    limit_ = cursor_ + blockSize;
}

void TextChain::writeTo(std::ostream& stream) {
    if (!cursor_)
        return;
    for (std::size_t k = 0; k < used_.size() && stream; ++k)
        stream.write(blocks_[k].get(), static_cast<std::streamsize>(used_[k]));
    char* last = blocks_[used_.size()].get();
    if (cursor_ > last && stream)
        stream.write(last, cursor_ - last);
    used_.clear();
    cursor_ = blocks_[0].get();
    limit_ = cursor_ + blockSize;
}

} // namespace ulv
