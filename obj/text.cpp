#include "obj/text.h"

#include <algorithm>
#include <ostream>

#include "platform/huge_pages.h"

namespace ulv {

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
