// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/HandOffQueue.h"

#include <utility>

namespace rastrace {

// One handed-over step. It belongs to the worker that handed it over (on
// its stack in Run, in its Ticket for Post), so it may only be touched
// under the lock, and the worker lets it go only after the owner has
// marked it done (or Close has marked it stopped).
struct HandOffQueue::Item {
    const std::function<void()>* step = nullptr;
    std::condition_variable finished;  // the worker waits on its own item
    std::exception_ptr error;
    bool done = false;
    bool stopped = false;
};

HandOffQueue::HandOffQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

HandOffQueue::Ticket::Ticket() : item_(std::make_unique<Item>()) {}
HandOffQueue::Ticket::~Ticket() = default;

void HandOffQueue::Enqueue(Item& item) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) throw JobStopped();
        items_.push_back(&item);
    }
    pending_.notify_all();
    if (wake_) wake_();
}

void HandOffQueue::AwaitItem(Item& item) {
    std::unique_lock lock(mutex_);
    item.finished.wait(lock, [&] { return item.done || item.stopped; });
    if (item.stopped) throw JobStopped();
    if (item.error) std::rethrow_exception(item.error);
}

void HandOffQueue::Run(const std::function<void()>& step) {
    Item item;
    item.step = &step;
    Enqueue(item);
    AwaitItem(item);
}

void HandOffQueue::Post(Ticket& ticket, std::function<void()> step) {
    Item& item = *ticket.item_;
    ticket.step_ = std::move(step);
    item.step = &ticket.step_;
    item.error = nullptr;
    item.done = false;
    item.stopped = false;
    Enqueue(item);
    ticket.posted_ = true;
}

void HandOffQueue::Wait(Ticket& ticket) {
    if (!ticket.posted_) return;
    ticket.posted_ = false;
    AwaitItem(*ticket.item_);
}

int HandOffQueue::Drain() {
    if (draining_) return 0;
    draining_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{draining_};
    int ran = 0;
    for (;;) {
        Item* item = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (items_.empty()) break;
            item = items_.front();
            items_.pop_front();
        }
        // Run without the lock: workers must keep queueing meanwhile.
        std::exception_ptr error;
        try {
            (*item->step)();
        } catch (...) {
            error = std::current_exception();
        }
        {
            // Notify under the lock: once the worker sees done it destroys
            // the item, condition variable included.
            std::lock_guard lock(mutex_);
            item->error = std::move(error);
            item->done = true;
            item->finished.notify_one();
        }
        ++ran;
    }
    return ran;
}

bool HandOffQueue::Pending() const {
    std::lock_guard lock(mutex_);
    return !items_.empty();
}

void HandOffQueue::WaitPending() {
    std::unique_lock lock(mutex_);
    pending_.wait(lock, [&] { return !items_.empty() || closed_; });
}

void HandOffQueue::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        for (Item* item : items_) {
            item->stopped = true;
            item->finished.notify_one();
        }
        items_.clear();
    }
    pending_.notify_all();
}

void HandOffQueue::Reopen() {
    std::lock_guard lock(mutex_);
    closed_ = false;
}

}  // namespace rastrace
