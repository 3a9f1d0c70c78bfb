#include "mod/input.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <istream>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ulv {

InputBuffer::InputBuffer(const std::uint8_t* data, std::size_t size)
    : begin_(data), cur_(data), end_(data + size) {}

InputBuffer::InputBuffer(std::istream& stream, std::size_t chunkSize)
    : chunkSize_(chunkSize), stream_(&stream) {
    // The length bounds every allocation from a stored count; a pipe has none.
    const std::istream::pos_type start = stream.tellg();
    if (start != std::istream::pos_type(-1) && stream.seekg(0, std::ios::end)) {
        const std::istream::pos_type last = stream.tellg();
        if (last != std::istream::pos_type(-1) && last >= start)
            streamLeft_ = static_cast<std::uint64_t>(last - start);
        stream.seekg(start);
    }
    if (!stream) {
        stream.clear();
        streamLeft_.reset();
    }
}

std::optional<std::uint64_t> InputBuffer::remaining() const {
    const auto buffered = static_cast<std::uint64_t>(end_ - cur_);
    if (!stream_)
        return buffered;
    if (!streamLeft_)
        return std::nullopt;
    return buffered + *streamLeft_;
}

std::uint64_t InputBuffer::position() const {
    const auto buffered = static_cast<std::uint64_t>(end_ - cur_);
    return stream_ ? pulled_ - buffered : static_cast<std::uint64_t>(cur_ - begin_);
}

bool InputBuffer::refill() {
    if (!stream_ || !*stream_)
        return false;
    if (storage_.empty())
        storage_.resize(chunkSize_);
    const auto kept = static_cast<std::size_t>(end_ - cur_);
    if (kept == storage_.size())
        return false;
    if (kept > 0)
        std::memmove(storage_.data(), cur_, kept);
    auto* room = reinterpret_cast<char*>(storage_.data() + kept);
    stream_->read(room, static_cast<std::streamsize>(storage_.size() - kept));
    const auto got = static_cast<std::size_t>(stream_->gcount());
    pulled_ += got;
    if (streamLeft_)
        *streamLeft_ -= std::min<std::uint64_t>(*streamLeft_, got);
    cur_ = storage_.data();
    end_ = cur_ + kept + got;
    return got > 0;
}

bool InputBuffer::read(void* out, std::size_t size) {
    auto* dst = static_cast<char*>(out);
    const std::size_t first = std::min(size, static_cast<std::size_t>(end_ - cur_));
    if (first > 0)
        std::memcpy(dst, cur_, first);
    cur_ += first;
    dst += first;
    size -= first;
    if (size == 0)
        return true;
    if (!stream_ || !*stream_)
        return false;
    if (size >= directSize()) {
        stream_->read(dst, static_cast<std::streamsize>(size));
        const auto got = static_cast<std::size_t>(stream_->gcount());
        pulled_ += got;
        if (streamLeft_)
            *streamLeft_ -= std::min<std::uint64_t>(*streamLeft_, got);
        return got == size;
    }
    while (size > 0) {
        if (cur_ == end_ && !refill())
            return false;
        const std::size_t part = std::min(size, static_cast<std::size_t>(end_ - cur_));
        std::memcpy(dst, cur_, part);
        cur_ += part;
        dst += part;
        size -= part;
    }
    return true;
}

const std::uint8_t* InputBuffer::take(std::size_t size) {
    while (static_cast<std::size_t>(end_ - cur_) < size)
        if (!refill())
            return nullptr;
    const std::uint8_t* bytes = cur_;
    cur_ += size;
    return bytes;
}

namespace {

// The first place in [p, end) where all four tag bytes start, or nullptr.
// Checks sixteen places at a time: the speed does not depend on how often the
// first tag byte shows up in the data.
const std::uint8_t* findFirst(const std::uint8_t* p, const std::uint8_t* end,
                              const std::uint8_t (&tag)[4]) {
#if defined(__SSE2__)
    const __m128i t0 = _mm_set1_epi8(static_cast<char>(tag[0]));
    const __m128i t1 = _mm_set1_epi8(static_cast<char>(tag[1]));
    const __m128i t2 = _mm_set1_epi8(static_cast<char>(tag[2]));
    const __m128i t3 = _mm_set1_epi8(static_cast<char>(tag[3]));
    for (; end - p >= 19; p += 16) {
        const auto at = [p](int offset) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset));
        };
        const __m128i hit =
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(at(0), t0), _mm_cmpeq_epi8(at(1), t1)),
                          _mm_and_si128(_mm_cmpeq_epi8(at(2), t2), _mm_cmpeq_epi8(at(3), t3)));
        if (const int mask = _mm_movemask_epi8(hit))
            return p + std::countr_zero(static_cast<unsigned>(mask));
    }
#endif
    std::uint32_t word;
    std::memcpy(&word, tag, 4);
    for (; end - p >= 4; ++p) {
        std::uint32_t here;
        std::memcpy(&here, p, 4);
        if (here == word)
            return p;
    }
    return nullptr;
}

} // namespace

bool findTag(InputBuffer& input, std::uint32_t tagValue) {
    const std::uint8_t tag[4] = {
        static_cast<std::uint8_t>(tagValue),
        static_cast<std::uint8_t>(tagValue >> 8),
        static_cast<std::uint8_t>(tagValue >> 16),
        static_cast<std::uint8_t>(tagValue >> 24),
    };
    for (;;) {
        if (const std::uint8_t* found = findFirst(input.cur_, input.end_, tag)) {
            input.cur_ = found + 4;
            return true;
        }
        // No match starts before the last three bytes; keep them, since a tag
        // may begin there and end in the next chunk.
        if (input.end_ - input.cur_ > 3)
            input.cur_ = input.end_ - 3;
        if (!input.refill())
            return false;
    }
}

} // namespace ulv
