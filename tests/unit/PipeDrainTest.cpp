#include "platform/posix/PipeDrain.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace tarnhollow::posix {
namespace {

struct Pipe {
    int read = -1, write = -1;
    Pipe()
    {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        read = fds[0];
        write = fds[1];
        fcntl(read, F_SETFL, fcntl(read, F_GETFL) | O_NONBLOCK);
    }
    ~Pipe()
    {
        closeWrite();
        close(read);
    }
    void closeWrite()
    {
        if (write >= 0)
            close(write);
        write = -1;
    }
};

TEST(PipeDrainTest, TellsAQuietPipeFromItsEnd)
{
    Pipe pipe;
    std::string bytes;
    EXPECT_TRUE(drainAvailable(pipe.read, bytes)) << "nothing yet, but the writer is still there";
    EXPECT_EQ(bytes, "");

    ASSERT_EQ(::write(pipe.write, "(-128)", 6), 6);
    pipe.closeWrite();
    EXPECT_FALSE(drainAvailable(pipe.read, bytes)) << "what was left, then the end";
    EXPECT_EQ(bytes, "(-128)");
}

TEST(PipeDrainTest, KeepsEveryByteOfMoreThanThePipeHolds)
{
    // 1 MiB of numbered lines from a writer that must wait whenever the pipe is
    // full: only draining while it writes lets it finish.
    std::string sent;
    for (int line = 0; sent.size() < (1u << 20); ++line)
        sent += "error line " + std::to_string(line) + "\n";

    Pipe pipe;
    fcntl(pipe.write, F_SETFL, fcntl(pipe.write, F_GETFL) | O_NONBLOCK);
    std::thread writer([&] {
        // Gives up when nobody reads for a while, so that a reader that stops
        // too early fails the test instead of hanging it.
        std::size_t done = 0;
        pollfd writable{pipe.write, POLLOUT, 0};
        while (done < sent.size() && poll(&writable, 1, 5'000) > 0) {
            const ssize_t count = ::write(pipe.write, sent.data() + done, sent.size() - done);
            if (count > 0)
                done += static_cast<std::size_t>(count);
        }
        pipe.closeWrite();
    });

    std::string received;
    for (;;) {
        pollfd readable{pipe.read, POLLIN, 0};
        if (poll(&readable, 1, 10'000) <= 0) {
            ADD_FAILURE() << "the pipe stayed quiet";
            break;
        }
        if (!drainAvailable(pipe.read, received))
            break;
    }
    writer.join();
    EXPECT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent) << "bytes lost or out of order";
}

} // namespace
} // namespace tarnhollow::posix
