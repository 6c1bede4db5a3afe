#include "sim/tcmu/JobThread.h"

#include <fcntl.h>
#include <unistd.h>

TJobThread::TJobThread() {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        pipe_[0] = pipe_[1] = -1;
    thread_ = std::thread(&TJobThread::Loop, this);
}

TJobThread::~TJobThread() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    thread_.join();
    close(pipe_[0]);
    close(pipe_[1]);
}

void TJobThread::Push(Work work, Then then) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.emplace_back(std::move(work), std::move(then));
    }
    wake_.notify_one();
}

void TJobThread::Loop() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            return;
        auto job = std::move(queue_.front());
        queue_.pop_front();
        hold.unlock();
        std::string result = job.first();
        hold.lock();
        finished_.emplace_back(std::move(job.second), std::move(result));
        const char done = 1;
        if (write(pipe_[1], &done, 1) < 0) {
            // The pipe holds a byte already: the main thread runs every finished job at once.
        }
    }
}

void TJobThread::RunFinished() {
    char bytes[64];
    while (read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    std::deque<std::pair<Then, std::string>> finished;
    {
        std::lock_guard<std::mutex> hold(lock_);
        finished.swap(finished_);
    }
    for (auto &job : finished)
        job.first(job.second);
}
