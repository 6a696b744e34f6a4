#pragma once
// Scratch buffers shared by the blocks of one parallel loop. A block leases a buffer and
// gives it back when it ends, so the blocks after the first on each thread reuse memory
// already touched instead of faulting in and clearing fresh pages, which for the few
// hundred rows a band of a large plane needs costs more than the work on them. A buffer
// keeps what the last block wrote: a block must write what it reads.
#include <mutex>
#include <utility>
#include <vector>

template <class T>
class ScratchPool {
 public:
  class Lease {
   public:
    explicit Lease(ScratchPool& pool) : pool_(pool), buffer_(pool.take()) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() { pool_.give(std::move(buffer_)); }
    std::vector<T>& operator*() { return buffer_; }
    std::vector<T>* operator->() { return &buffer_; }

   private:
    ScratchPool& pool_;
    std::vector<T> buffer_;
  };

 private:
  std::vector<T> take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (free_.empty()) return {};
    std::vector<T> buffer = std::move(free_.back());
    free_.pop_back();
    return buffer;
  }
  void give(std::vector<T>&& buffer) {
    const std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::move(buffer));
  }

  std::mutex mutex_;
  std::vector<std::vector<T>> free_;
};
