// The far end of a fuzzed connection, on 127.0.0.1: a listener whose
// thread takes the next connection and runs the conversation the target
// armed it with, so the code under test is reached through its real socket
// transport. After the conversation the peer reads until the client closes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class LoopbackPeer {
public:
    LoopbackPeer(); // aborts if it cannot listen
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer &) = delete;
    LoopbackPeer &operator=(const LoopbackPeer &) = delete;

    uint16_t port() const { return port_; }

    // The next connection runs conversation(fd) on the peer's thread. Call
    // before the client connects; finish() after the client has closed.
    void arm(std::function<void(int fd)> conversation);
    void finish();

    // For protocols with a second connection (HiSLIP's asynchronous
    // channel): the next one, taken from within a conversation, which then
    // closes it. -1 if none came.
    int acceptNext();

    // Helpers for conversations. Both give up after a few seconds, so a
    // client that never sends cannot hang the fuzzer.
    static bool sendAll(int fd, const uint8_t *data, size_t size);
    // Reads until at least n bytes are in buf (or the client closed).
    static size_t readAtLeast(int fd, uint8_t *buf, size_t cap, size_t n);

private:
    void loop();

    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::function<void(int)> conversation_;
    bool armed_ = false;
    bool busy_ = false;
    bool stopping_ = false;
};
