#pragma once

#include <chrono>
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
// back on the main loop, so the code that uses them never touches another thread.
//
// Ending the pool asks the jobs in progress to stop (through stopToken()), drops those not yet started
// and waits at most kShutdownGrace for the running ones: a job stuck in a call that cannot be interrupted
// (a recogniser loading its model) is abandoned, finishes on its own, and its result is dropped. What such
// a job uses must therefore live as long as the process.
class WorkerPool {
 public:
  static constexpr std::chrono::milliseconds kShutdownGrace{200};

  WorkerPool(platform::MainLoop& mainLoop, std::size_t threadCount);
  ~WorkerPool();

  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs `work` on a worker thread, then `onMain` with its result on the main loop, unless the pool
  // has begun to end by then.
  template <class Work, class OnMain>
  void run(Work work, OnMain onMain) {
    using Result = std::invoke_result_t<Work&>;
    submit([state = state_, &mainLoop = mainLoop_, work = std::move(work), onMain = std::move(onMain)]() mutable {
      if constexpr (std::is_void_v<Result>) {
        work();
        state->postUnlessEnded(mainLoop, std::move(onMain));
      } else {
        auto result = std::make_shared<Result>(work());
        state->postUnlessEnded(mainLoop,
                               [onMain = std::move(onMain), result]() mutable { onMain(std::move(*result)); });
      }
    });
  }

  [[nodiscard]] std::size_t threadCount() const { return threads_.size(); }

  // Requested when the pool ends; long jobs check it to give up early.
  [[nodiscard]] std::stop_token stopToken() const { return state_->stopSource.get_token(); }

 private:
  // Shared with the threads, so that one abandoned at the end never touches a pool that is gone.
  struct State {
    void postUnlessEnded(platform::MainLoop& mainLoop, platform::MainLoop::Block block);

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<std::function<void()>> jobs;
    std::size_t running = 0;
    bool stopping = false;
    bool ended = false;
    std::stop_source stopSource;
  };

  void submit(std::function<void()> job);
  static void workLoop(const std::shared_ptr<State>& state);

  platform::MainLoop& mainLoop_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::vector<std::thread> threads_;
};

}  // namespace quillet
