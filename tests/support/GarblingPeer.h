#pragma once
// A bad line between a program and braskon-sim: the peer owns a pseudo-terminal
// of its own, points BRASKON_COM<n> at it, forwards every command to the
// simulator's port and the answer back, and garbles a fixed share of the
// answers on the way (a bit flipped, a byte replaced, or the last bytes lost).
// Every exchange is logged with the true answer and what was passed on.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace SimTest {

class GarblingPeer {
public:
    using Bytes = std::vector<uint8_t>;
    struct Exchange {
        Bytes command;
        Bytes truth;   // what the simulator answered
        Bytes sent;    // what the program got
        bool Garbled() const { return truth != sent; }
    };

    // Between COM<comNumber> of the program and the simulator's port at
    // devicePath; `share` of the answers (0..1) are garbled, drawn from `seed`.
    GarblingPeer(int comNumber, const std::string &devicePath, double share, unsigned seed);
    ~GarblingPeer();   // points BRASKON_COM<n> back at devicePath
    GarblingPeer(const GarblingPeer &) = delete;
    GarblingPeer &operator=(const GarblingPeer &) = delete;

    std::vector<Exchange> Log() const;

private:
    void run();
    bool readExactly(int fd, uint8_t *buffer, size_t n, int timeoutMs);
    Bytes garble(const Bytes &truth);

    int comNumber_;
    std::string devicePath_;
    double share_;
    std::mt19937 random_;   // used by the peer's thread only
    int master_ = -1;
    int slaveKeeper_ = -1;
    int device_ = -1;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Exchange> log_;
    std::thread thread_;
};

} // namespace SimTest
