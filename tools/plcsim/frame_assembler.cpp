#include "frame_assembler.h"

namespace orv::plcsim {

void FrameAssembler::SetDownloadMode(bool on) {
    if (on != download_)
        discarded_ += buf_.size();
    download_ = on;
    buf_.clear();
}

std::optional<RxFrame> FrameAssembler::Feed(LineChar c, double t) {
    if (!buf_.empty() && t - last_ > kFrameGapSeconds) {
        discarded_ += buf_.size();
        buf_.clear();
    }
    last_ = t;
    return download_ ? FeedPage(c) : FeedStation(c);
}

RxFrame FrameAssembler::Take() {
    RxFrame f;
    f.bytes.reserve(buf_.size());
    for (const LineChar& c : buf_) {
        f.bytes.push_back(c.value);
        f.lineError = f.lineError || c.error;
    }
    buf_.clear();
    return f;
}

std::optional<RxFrame> FrameAssembler::FeedStation(LineChar c) {
    const bool stx = c.value == kStx && !c.error;
    if (buf_.empty()) {
        if (stx)
            buf_.push_back(c);
        else
            ++discarded_;
        return std::nullopt;
    }
    if (stx) {
        discarded_ += buf_.size();
        buf_.clear();
        buf_.push_back(c);
        return std::nullopt;
    }
    buf_.push_back(c);
    if (c.value == kEtx && !c.error)
        return Take();
    if (buf_.size() >= kMaxStationFrame) {
        discarded_ += buf_.size();
        buf_.clear();
    }
    return std::nullopt;
}

std::optional<RxFrame> FrameAssembler::FeedPage(LineChar c) {
    buf_.push_back(c);
    auto fits = [this] {
        return buf_.size() < 2 ||
               (buf_[1].value == 0x0D && (buf_.size() < 3 || buf_[2].value == 0x13));
    };
    while (!fits()) {
        buf_.erase(buf_.begin());
        ++discarded_;
    }
    if (buf_.size() == kPageFrameSize)
        return Take();
    return std::nullopt;
}

} // namespace orv::plcsim
