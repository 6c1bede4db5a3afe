// One thread that runs the handler's slow configfs work (linking and unlinking LUNs, taking the
// target down) in order, while the main thread goes on serving the rings: the kernel waits for
// the drive's answers inside those calls. Each job's continuation runs back on the main thread.
#ifndef M770B_SIM_TCMU_JOBTHREAD_H
#define M770B_SIM_TCMU_JOBTHREAD_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

class TJobThread {
  public:
    using Work = std::function<std::string()>;             // answers an error text, or ""
    using Then = std::function<void(const std::string &)>; // gets that text

    TJobThread();
    ~TJobThread(); // waits for the job in progress; later ones are dropped
    TJobThread(const TJobThread &) = delete;
    TJobThread &operator=(const TJobThread &) = delete;

    void Push(Work work, Then then);
    // Readable when a job has finished; RunFinished then runs the continuations.
    int Fd() const { return pipe_[0]; }
    void RunFinished();

  private:
    void Loop();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::pair<Work, Then>> queue_;
    std::deque<std::pair<Then, std::string>> finished_;
    bool stopping_ = false;
    int pipe_[2] = {-1, -1};
    std::thread thread_;
};

#endif
