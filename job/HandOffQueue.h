// The hand-off queue between scan workers and the thread that owns a
// conversion (the window's thread, or the thread that drives the command
// line or a test).
//
// A worker calls Run(step): the step is queued, the owner is woken through
// the wake callback, and the worker waits, with no time limit, until the
// owner has run the step. An exception thrown by the step is carried back
// and rethrown in the worker. The owner runs queued steps, oldest first,
// one at a time, in Drain(). Close() fails every waiting and later Run with
// JobStopped, so a stopped job never leaves a worker waiting.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>

namespace rastrace {

// Thrown in a worker whose job was stopped; never shown to the user.
class JobStopped : public std::runtime_error {
public:
    JobStopped() : std::runtime_error("conversion stopped") {}
};

class HandOffQueue {
public:
    // wake is called from worker threads, without the queue's lock held,
    // whenever a step is queued; it must only arrange for Drain() to be
    // called soon on the owner thread (post an event, notify a waiter).
    explicit HandOffQueue(std::function<void()> wake);

    // Worker side: runs step on the owner thread and waits for it.
    void Run(const std::function<void()>& step);

    // Owner side: runs every queued step; returns how many ran.
    int Drain();

    // Owner side: true when a step is waiting.
    bool Pending() const;

    // Fails all waiting and future Run calls with JobStopped.
    void Close();

private:
    struct Item;

    std::function<void()> wake_;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    std::deque<Item*> items_;
    bool closed_ = false;
};

}  // namespace rastrace
