// Worker threads that deflate blocks, one per core unless told otherwise.
// Blocks finish in any order; whoever submitted them waits for each in the
// order it lays them down, so the output does not depend on the workers.
// How many blocks are in flight is the submitter's to bound.
#pragma once

#include "collector-tool/deflate/Block.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnhollow::tool {

class DeflatePool {
public:
    // workers: 0 for one per core.
    explicit DeflatePool(unsigned workers);
    ~DeflatePool();
    DeflatePool(const DeflatePool&) = delete;
    DeflatePool& operator=(const DeflatePool&) = delete;

    void submit(std::shared_ptr<Block> block);
    // Until block is deflated.
    void wait(const Block& block);
    unsigned workers() const { return static_cast<unsigned>(threads_.size()); }

    // The run's pool, started on first use with setWorkers()'s count.
    static DeflatePool& shared();
    static void setWorkers(unsigned workers);

private:
    void work();

    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Block>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace tarnhollow::tool
