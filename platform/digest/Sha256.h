// SHA-256 over streamed content; the system's own crypto library does the work.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace tarnhollow {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void reset();
    void update(const void* data, std::size_t size);
    // Lower-case hex digest; the hasher must be reset before it is used again.
    std::string finishHex();

    static std::string toHex(const unsigned char* bytes, std::size_t size);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tarnhollow
