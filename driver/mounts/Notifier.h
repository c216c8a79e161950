#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace kv::driver::mounts {

/// Takes back what the kernel keeps of a mount's names and attributes. The
/// kernel may hold a folder's lock while it waits for an answer of ours, and
/// a notification waits for that lock: so notifications are sent by a thread
/// of their own, never by a thread that serves requests.
class Notifier {
public:
    /// Every name and item the kernel may keep: (parent, name) pairs and items.
    using Everything = std::function<void(std::vector<std::pair<fuse_ino_t, std::string>>* names,
                                          std::vector<fuse_ino_t>* items)>;

    explicit Notifier(Everything everything);
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    /// Starts sending on `session`; until then requests are dropped.
    void Start(fuse_session* session);
    /// Stops the thread (before the session goes).
    void Stop();

    /// Queues the name `name` in `parent` and the item `ino`.
    void Item(fuse_ino_t parent, const std::string& name, fuse_ino_t ino);
    /// Takes back everything, and returns once it is done (never from a
    /// thread that serves requests).
    void All();
    /// Takes back everything soon, without waiting.
    void AllLater();

private:
    void Run();

    Everything everything_;
    fuse_session* session_ = nullptr;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::pair<std::pair<fuse_ino_t, std::string>, fuse_ino_t>> queue_;
    std::uint64_t allAsked_ = 0;
    std::uint64_t allDone_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kv::driver::mounts
