#include "upload/image_progress.h"

void ImageProgress::Announce(std::string_view header, int64_t total)
{
    header_ = header.ends_with('\r') ? header.substr(0, header.size() - 1) : header;
    total_ = total;
    sent_ = 0;
    any_block_sent_ = false;
    last_line_at_.reset();
    last_line_sent_.reset();
}

bool ImageProgress::BlockSent(int64_t count, Clock::time_point now)
{
    sent_ += count;
    any_block_sent_ = true;
    if (last_line_at_ && now - *last_line_at_ < kLineInterval)
        return false;
    last_line_at_ = now;
    last_line_sent_ = sent_;
    return true;
}

bool ImageProgress::Ended()
{
    const bool due = last_line_sent_ != sent_;
    last_line_sent_ = sent_;
    return due;
}
