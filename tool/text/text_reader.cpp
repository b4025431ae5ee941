#include "text/text_reader.h"

#include <cerrno>
#include <cstring>

namespace morvane {

TextReader::TextReader(std::FILE *file, size_t bufferBytes) : file_(file), buffer_(bufferBytes + kPadding, ' ') {}

void TextReader::refill()
{
    // Keep the unread tail, then top the buffer up.
    const size_t tail = end_ - pos_;
    discarded_ += pos_;
    if (pos_ != 0 && tail != 0)
        std::memmove(buffer_.data(), buffer_.data() + pos_, tail);
    pos_ = 0;
    end_ = tail;
    while (end_ < window() && !eof_) {
        const size_t got = std::fread(buffer_.data() + end_, 1, window() - end_, file_);
        end_ += got;
        if (got == 0) {
            eof_ = true;
            if (std::ferror(file_))
                error_ = errno != 0 ? errno : EIO;
        }
    }
    std::memset(buffer_.data() + end_, ' ', kPadding);
}

std::string_view TextReader::nextAtWindowEnd()
{
    if (pending_) {
        pending_ = false;
        return last_;
    }
    const char *const data = buffer_.data();
    for (;;) {
        while (pos_ < end_ && isSpace(data[pos_]))
            ++pos_;
        if (pos_ < end_)
            break;
        if (eof_ || tooLong_)
            return last_ = {};
        refill();
    }
    size_t stop = pos_;
    for (;;) {
        while (!isSpace(data[stop]))
            ++stop;
        if (stop < end_ || eof_)
            break;
        if (pos_ == 0 && end_ == window()) {
            tooLong_ = true;  // one token fills the whole window
            pos_ = end_;
            return last_ = {};
        }
        const size_t scanned = stop - pos_;
        refill();
        stop = pos_ + scanned;
    }
    last_ = std::string_view(data + pos_, stop - pos_);
    pos_ = stop;
    return last_;
}

void TextReader::skipLine()
{
    pending_ = false;
    last_ = {};  // a refill below would move what it shows
    const char *const data = buffer_.data();
    for (;;) {
        while (pos_ < end_ && data[pos_] != '\n' && data[pos_] != '\r')
            ++pos_;
        if (pos_ < end_ || eof_)
            return;
        refill();  // nothing is kept: the whole window was this line
    }
}

}  // namespace morvane
