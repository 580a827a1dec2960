#include "main_loop_thread.h"

#include <algorithm>
#include <memory>

namespace kestrane::dbus {

MainLoopThread::MainLoopThread()
    : context_(g_main_context_new()), loop_(g_main_loop_new(context_.get(), FALSE)) {
    thread_ = std::thread([context = context_.get(), loop = loop_.get()] {
        g_main_context_push_thread_default(context);
        g_main_loop_run(loop);
        while (g_main_context_iteration(context, FALSE)) {
        }
        g_main_context_pop_thread_default(context);
    });
}

MainLoopThread::~MainLoopThread() {
    // Quit through the queue rather than at once: a loop that has not started running yet
    // would start after a direct quit and never end.
    post([loop = loop_.get()] { g_main_loop_quit(loop); });
    thread_.join();
}

void MainLoopThread::post(std::function<void()> work) {
    using Work = std::function<void()>;
    auto job = std::make_unique<Work>(std::move(work));
    g_main_context_invoke_full(
        context_.get(), G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<Work*>(data))();
            return G_SOURCE_REMOVE;
        },
        job.release(), [](gpointer data) { std::unique_ptr<Work> owned(static_cast<Work*>(data)); });
}

void MainLoopThread::postLater(std::function<void()> work) {
    const glib::SourcePtr idle(g_idle_source_new());
    // The priority of post()'s work, so that the two kinds keep the order they were posted in.
    g_source_set_priority(idle.get(), G_PRIORITY_DEFAULT);
    attach(idle.get(), std::move(work));
}

void MainLoopThread::postAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    const glib::SourcePtr timer(g_timeout_source_new(static_cast<guint>(std::max<std::chrono::milliseconds::rep>(delay.count(), 0))));
    attach(timer.get(), std::move(work));
}

void MainLoopThread::attach(GSource* source, std::function<void()> work) {
    using Work = std::function<void()>;
    auto job = std::make_unique<Work>(std::move(work));
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            (*static_cast<Work*>(data))();
            return G_SOURCE_REMOVE;
        },
        job.release(), [](gpointer data) { std::unique_ptr<Work> owned(static_cast<Work*>(data)); });
    g_source_attach(source, context_.get());
}

}  // namespace kestrane::dbus
