#include "Scheduler.h"

#include <thread>

namespace vidmora::encoder {

void Scheduler::Run(const std::function<void()>& read, const std::function<bool(Item&)>& write,
                    const std::function<void()>& tick) {
  started_ = Clock::now();
  std::thread writer([&] {
    Clock::time_point lastTick = started_;
    for (;;) {
      Item item;
      const int r = Receive(item, std::chrono::milliseconds(100));
      if (Clock::now() - lastTick >= tick_) {
        tick();
        lastTick = Clock::now();
      }
      if (r < 0) return;
      if (r == 0) continue;
      const bool end = item.kind == Kind::End;
      if (!write(item) || end) return;
    }
  });
  read();
  writer.join();
}

bool Scheduler::Send(Item item) {
  std::unique_lock<std::mutex> lock(mutex_);
  notFull_.wait(lock, [&] { return failed_ || items_.size() < capacity_; });
  if (failed_) return false;
  items_.push_back(std::move(item));
  notEmpty_.notify_one();
  return true;
}

int Scheduler::Receive(Item& item, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!notEmpty_.wait_for(lock, wait, [&] { return failed_ || !items_.empty(); })) return 0;
  if (failed_) return -1;
  item = std::move(items_.front());
  items_.pop_front();
  notFull_.notify_one();
  return 1;
}

bool Scheduler::Fail(Failure failure) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!failed_) {
    failure_ = std::move(failure);
    failed_ = true;
  }
  notEmpty_.notify_all();
  notFull_.notify_all();
  return false;
}

}  // namespace vidmora::encoder
