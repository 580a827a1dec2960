// A thread that runs a GLib main loop on a main context of its own, for work that GLib wants
// on one thread with a loop: asynchronous D-Bus calls and signal subscriptions made there
// report back on that thread. post() hands it work from any thread.
//
// The context is the thread's default context while the loop runs, so GIO's asynchronous
// calls made by posted work complete on this thread.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "glib_ptr.h"

namespace kestrane::dbus {

class MainLoopThread {
public:
    // Starts the thread with its loop running.
    MainLoopThread();
    // Quits the loop, runs what is still queued on the context (work posted before, callbacks
    // due), and joins the thread.
    ~MainLoopThread();
    MainLoopThread(const MainLoopThread&) = delete;
    MainLoopThread& operator=(const MainLoopThread&) = delete;

    // Runs work on the thread, after what was posted before it; at once when called on the
    // thread itself.
    void post(std::function<void()> work);
    // Runs work on the thread after what was posted before it, never at once, even when called
    // on the thread itself: for work that must not run inside the caller's own (a callback that
    // may come from the middle of a handler on this thread).
    void postLater(std::function<void()> work);
    // Runs work on the thread once delay has passed (and what was due before has run).
    void postAfter(std::chrono::milliseconds delay, std::function<void()> work);

private:
    void attach(GSource* source, std::function<void()> work);

    glib::MainContextPtr context_;
    glib::MainLoopPtr loop_;
    std::thread thread_;
};

}  // namespace kestrane::dbus
