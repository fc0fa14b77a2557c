#include "collector-tool/deflate/DeflatePool.h"

#include <zlib.h>

#include <algorithm>

namespace tarnhollow::tool {

namespace {

unsigned sharedThreads = 0;

} // namespace

DeflatePool::DeflatePool(unsigned threads)
{
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    // More threads than blocks in flight would only wait, and each holds
    // its own deflate state: memory stays flat on the largest machines.
    threads = std::min(threads, 32u);
    // The waiter is the last of them (see wait()).
    for (unsigned i = 1; i < threads; ++i)
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
    // Output memory comes from the submitter's heap, where it is freed too,
    // not from a heap of each worker's that would keep it.
    block->output.reserve(compressBound(static_cast<uLong>(block->input.size())) + 16);
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(block));
        wake = idle_ > 0;
    }
    if (wake)
        queued_.notify_one();
}

// Rather than sleep, the waiter deflates what is queued, oldest first,
// which most often is the very block it waits for.
void DeflatePool::wait(const Block& block)
{
    std::unique_lock lock(mutex_);
    while (!block.done) {
        if (queue_.empty()) {
            awaited_ = &block;
            finished_.wait(lock, [&] { return block.done; });
            awaited_ = nullptr;
            break;
        }
        const std::shared_ptr<Block> next = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        deflateBlock(*next);
        lock.lock();
        next->done = true;
    }
}

void DeflatePool::work()
{
    for (;;) {
        std::shared_ptr<Block> block;
        {
            std::unique_lock lock(mutex_);
            ++idle_;
            queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            --idle_;
            if (queue_.empty())
                return;
            block = std::move(queue_.front());
            queue_.pop_front();
        }
        deflateBlock(*block);
        bool awaited = false;
        {
            std::lock_guard lock(mutex_);
            block->done = true;
            awaited = awaited_ == block.get();
        }
        if (awaited)
            finished_.notify_one();
    }
}

DeflatePool& DeflatePool::shared()
{
    static DeflatePool pool(sharedThreads);
    return pool;
}

void DeflatePool::setThreads(unsigned threads) { sharedThreads = threads; }

} // namespace tarnhollow::tool
