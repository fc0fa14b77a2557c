// Threads that deflate blocks, one per core unless told otherwise: worker
// threads, and the submitter itself whenever it waits. Blocks finish in any
// order; the submitter waits for each in the order it lays them down, so
// the output does not depend on the threads. How many blocks are in flight
// is the submitter's to bound.
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
    // threads: how many deflate at once, the waiting submitter included;
    // 0 for one per core.
    explicit DeflatePool(unsigned threads);
    ~DeflatePool();
    DeflatePool(const DeflatePool&) = delete;
    DeflatePool& operator=(const DeflatePool&) = delete;

    void submit(std::shared_ptr<Block> block);
    // Until block is deflated, deflating queued blocks meanwhile.
    void wait(const Block& block);

    // The run's pool, started on first use with setThreads()'s count.
    static DeflatePool& shared();
    static void setThreads(unsigned threads);

private:
    void work();

    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Block>> queue_;
    // Each wake-up costs a context switch: a finished block wakes the
    // submitter only when it is the one waited for, a new block a worker
    // only when one is idle.
    const Block* awaited_ = nullptr;
    unsigned idle_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace tarnhollow::tool
