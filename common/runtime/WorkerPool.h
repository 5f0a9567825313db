#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/MainLoop.h"

namespace quillet {

// A few threads for blocking CPU work (decoding, files); network requests never wait here. Results come
// back on the main loop, so the code that uses them never touches another thread. Ending the pool asks
// the jobs in progress to stop (through stopToken()) and drops those not yet started.
class WorkerPool {
 public:
  WorkerPool(platform::MainLoop& mainLoop, std::size_t threadCount);
  ~WorkerPool();

  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs `work` on a worker thread, then `onMain` with its result on the main loop.
  template <class Work, class OnMain>
  void run(Work work, OnMain onMain) {
    using Result = std::invoke_result_t<Work&>;
    submit([this, work = std::move(work), onMain = std::move(onMain)]() mutable {
      if constexpr (std::is_void_v<Result>) {
        work();
        mainLoop_.post(std::move(onMain));
      } else {
        auto result = std::make_shared<Result>(work());
        mainLoop_.post([onMain = std::move(onMain), result]() mutable { onMain(std::move(*result)); });
      }
    });
  }

  // Runs `job` on a worker thread; it reports back by itself if it needs to.
  void submit(std::function<void()> job);

  [[nodiscard]] std::size_t threadCount() const { return threads_.size(); }

  // Requested when the pool ends; long jobs check it to give up early.
  [[nodiscard]] std::stop_token stopToken() const { return stopSource_.get_token(); }

 private:
  void workLoop();

  platform::MainLoop& mainLoop_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::stop_source stopSource_;
  std::vector<std::thread> threads_;
};

}  // namespace quillet
