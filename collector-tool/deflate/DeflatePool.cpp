#include "collector-tool/deflate/DeflatePool.h"

#include <algorithm>

namespace tarnhollow::tool {

namespace {

unsigned sharedWorkers = 0;

} // namespace

DeflatePool::DeflatePool(unsigned workers)
{
    if (workers == 0)
        workers = std::max(1u, std::thread::hardware_concurrency());
    // More threads than blocks in flight would only wait, and each holds
    // its own deflate state: memory stays flat on the largest machines.
    workers = std::min(workers, 32u);
    for (unsigned i = 0; i < workers; ++i)
        threads_.emplace_back([this] { work(); });
}

DeflatePool::~DeflatePool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (auto& thread : threads_)
        thread.join();
}

void DeflatePool::submit(std::shared_ptr<Block> block)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(block));
    }
    queued_.notify_one();
}

void DeflatePool::wait(const Block& block)
{
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return block.done; });
}

void DeflatePool::work()
{
    for (;;) {
        std::shared_ptr<Block> block;
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            block = std::move(queue_.front());
            queue_.pop_front();
        }
        deflateBlock(*block);
        {
            std::lock_guard lock(mutex_);
            block->done = true;
        }
        finished_.notify_all();
    }
}

DeflatePool& DeflatePool::shared()
{
    static DeflatePool pool(sharedWorkers);
    return pool;
}

void DeflatePool::setWorkers(unsigned workers) { sharedWorkers = workers; }

} // namespace tarnhollow::tool
