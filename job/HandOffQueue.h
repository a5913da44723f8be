// SPDX-License-Identifier: GPL-3.0-or-later
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
//
// Drain() is not re-entrant: called from inside a step (a step that runs a
// nested event loop) it runs nothing and returns 0, and the steps queued
// meanwhile run when the outer Drain() goes on. A nested drain that ran
// the last worker's end would join workers still waiting on the outer step.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace rastrace {

// Thrown in a worker whose job was stopped; never shown to the user.
class JobStopped : public std::runtime_error {
public:
    JobStopped() : std::runtime_error("conversion stopped") {}
};

class HandOffQueue {
    struct Item;

public:
    // A step handed over without waiting (Post), to be waited for later
    // (Wait). It belongs to one worker, which must Wait for every posted
    // step before the Ticket goes away.
    class Ticket {
    public:
        Ticket();
        ~Ticket();
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        bool Posted() const { return posted_; }

    private:
        friend class HandOffQueue;
        std::unique_ptr<Item> item_;
        std::function<void()> step_;
        bool posted_ = false;
    };

    // wake is called from worker threads, without the queue's lock held,
    // whenever a step is queued; it must only arrange for Drain() to be
    // called soon on the owner thread (post an event, notify a waiter),
    // and must not throw. It may be empty when the owner blocks in
    // WaitPending() instead.
    explicit HandOffQueue(std::function<void()> wake);
    HandOffQueue(const HandOffQueue&) = delete;
    HandOffQueue& operator=(const HandOffQueue&) = delete;

    // Worker side: runs step on the owner thread and waits for it. Throws
    // what the step threw, or JobStopped when the queue is (or gets) closed
    // before the step was taken. step lives on the caller's stack, so it
    // may capture the caller's locals by reference.
    void Run(const std::function<void()>& step);

    // Worker side: queues step like Run but returns at once, so the worker
    // can go on while the owner runs it. Steps still run in order of
    // arrival. ticket must not be posted already.
    void Post(Ticket& ticket, std::function<void()> step);

    // Worker side: waits for the step posted with ticket and throws what it
    // threw (or JobStopped); afterwards the ticket may be posted again.
    // Does nothing for a ticket that is not posted.
    void Wait(Ticket& ticket);

    // Owner side: runs every queued step; returns how many ran. From
    // inside a step it does nothing and returns 0.
    int Drain();

    // Owner side: true when a step is waiting.
    bool Pending() const;

    // Owner side: blocks until a step is waiting or the queue is closed;
    // for owners without an event loop of their own.
    void WaitPending();

    // Fails all waiting and future Run calls with JobStopped. A step that
    // is running at that moment still completes normally, and its worker
    // returns from Run once it has.
    void Close();

    // Undoes Close() for the next conversion. Only when no worker uses
    // the queue any more.
    void Reopen();

private:
    void Enqueue(Item& item);
    void AwaitItem(Item& item);

    std::function<void()> wake_;
    mutable std::mutex mutex_;
    std::condition_variable pending_;  // signalled on every queued step and on Close
    std::deque<Item*> items_;          // each Item lives on its worker's stack
    bool closed_ = false;
    bool draining_ = false;            // owner thread only: a step is running
};

}  // namespace rastrace
