#include "driver/mounts/Notifier.h"

#include <vector>

namespace kv::driver::mounts {

Notifier::Notifier(Everything everything) : everything_(std::move(everything)) {}

Notifier::~Notifier() {
    Stop();
}

void Notifier::Start(fuse_session* session) {
    session_ = session;
    thread_ = std::thread([this] { Run(); });
}

void Notifier::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    done_.notify_all();
}

void Notifier::Item(fuse_ino_t parent, const std::string& name, fuse_ino_t ino) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || !session_)
            return;
        queue_.push_back({{parent, name}, ino});
    }
    wake_.notify_one();
}

void Notifier::All() {
    std::unique_lock lock(mutex_);
    if (stopping_ || !session_)
        return;
    const std::uint64_t ticket = ++allAsked_;
    wake_.notify_one();
    done_.wait(lock, [&] { return allDone_ >= ticket || stopping_; });
}

void Notifier::AllLater() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || !session_)
            return;
        ++allAsked_;
    }
    wake_.notify_one();
}

void Notifier::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty() || allDone_ < allAsked_; });
        if (stopping_)
            return;
        std::vector<std::pair<fuse_ino_t, std::string>> names;
        std::vector<fuse_ino_t> items;
        const std::uint64_t asked = allAsked_;
        const bool all = allDone_ < asked;
        for (auto& [name, ino] : queue_) {
            names.push_back(std::move(name));
            items.push_back(ino);
        }
        queue_.clear();
        lock.unlock();
        if (all)
            everything_(&names, &items);
        for (const auto& [parent, name] : names) {
            if (parent != 0)  // 0: the item's attributes only
                fuse_lowlevel_notify_inval_entry(session_, parent, name.c_str(), name.size());
        }
        for (const fuse_ino_t ino : items)
            fuse_lowlevel_notify_inval_inode(session_, ino, -1, 0);
        lock.lock();
        if (all) {
            allDone_ = asked;
            done_.notify_all();
        }
    }
}

}  // namespace kv::driver::mounts
