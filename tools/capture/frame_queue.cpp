#include "tools/capture/capture.h"

namespace capture {

void FrameQueue::push(FramePtr f) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return q_.size() < capacity_; });
    q_.push_back(std::move(f));
    cv_.notify_all();
}

bool FrameQueue::pop(FramePtr& f) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return !q_.empty() || closed_; });
    if (q_.empty()) return false;
    f = std::move(q_.front());
    q_.pop_front();
    cv_.notify_all();
    return true;
}

void FrameQueue::close() {
    std::lock_guard<std::mutex> lock(m_);
    closed_ = true;
    cv_.notify_all();
}

}  // namespace capture
