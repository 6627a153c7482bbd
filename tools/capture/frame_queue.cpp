// frame_queue.cpp - reused pixel buffers and the queue of frames to the writers.
#include "tools/capture/capture.h"

namespace capture {

PixelPool::Free::~Free() {
    for (uint8_t* b : buffers) delete[] b;
}

std::shared_ptr<uint8_t> PixelPool::take() {
    uint8_t* buffer = nullptr;
    {
        std::lock_guard<std::mutex> lock(free_->m);
        if (!free_->buffers.empty()) {
            buffer = free_->buffers.back();
            free_->buffers.pop_back();
        }
    }
    if (buffer == nullptr) buffer = new uint8_t[kFrameBytes];
    return std::shared_ptr<uint8_t>(buffer, [free = free_](uint8_t* b) {
        std::lock_guard<std::mutex> lock(free->m);
        free->buffers.push_back(b);
    });
}

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
