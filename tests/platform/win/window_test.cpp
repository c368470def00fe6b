// Window handles, posted and sent messages across threads, window timers.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/win/window.h"

using namespace ronvix::win;

namespace {
void SpinUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeout_ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}
}  // namespace

TEST(Messages, PostedFromStreamingThreadsArriveOnTheOwnersThreadInOrder) {
    std::vector<LPARAM> received;
    Qt::HANDLE owner_thread = QThread::currentThreadId();
    bool wrong_thread = false;
    MessageWindow window([&](HWND, UINT msg, WPARAM, LPARAM l) -> LRESULT {
        if (QThread::currentThreadId() != owner_thread)
            wrong_thread = true;
        if (msg == 0x8001)
            received.push_back(l);
        return 0;
    });
    std::thread producer([h = window.Handle()] {
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(PostMessage(h, 0x8001, 0, i));
    });
    producer.join();
    SpinUntil([&] { return received.size() == 100; });
    ASSERT_EQ(received.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(received[i], i);
    EXPECT_FALSE(wrong_thread);
}

TEST(Messages, HandlesOfDestroyedWindowsNameNothing) {
    HWND stale = nullptr;
    {
        MessageWindow w([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "Hidden");
        stale = w.Handle();
        EXPECT_TRUE(IsWindow(stale));
        EXPECT_EQ(WindowClassName(stale), "Hidden");
        // A message still queued when the window dies is dropped, not delivered to freed memory.
        EXPECT_TRUE(PostMessage(stale, WM_USER, 0, 0));
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(IsWindow(stale));
    EXPECT_FALSE(PostMessage(stale, WM_USER, 0, 0));
    EXPECT_EQ(SendMessage(stale, WM_USER, 0, 0), 0);
    EXPECT_EQ(WindowObject(nullptr), nullptr);
    // A new window never reuses the stale handle.
    MessageWindow fresh([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    EXPECT_NE(fresh.Handle(), stale);
}

TEST(Messages, SendMessageReturnsTheResultSynchronouslyFromAnyThread) {
    MessageWindow window([](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        return msg == WM_USER ? static_cast<LRESULT>(w) + l : -1;
    });
    EXPECT_EQ(SendMessage(window.Handle(), WM_USER, 40, 2), 42);
    std::atomic<LRESULT> from_thread{0};
    std::thread t([&] { from_thread = SendMessage(window.Handle(), WM_USER, 1, 1); });
    SpinUntil([&] { return from_thread.load() != 0; });
    t.join();
    EXPECT_EQ(from_thread.load(), 2);
}

TEST(Timers, SetTimerPostsTicksUntilKilled) {
    int ticks = 0;
    MessageWindow window([&](HWND, UINT msg, WPARAM id, LPARAM) -> LRESULT {
        if (msg == WM_TIMER && id == 7)
            ++ticks;
        return 0;
    });
    EXPECT_EQ(SetTimer(window.Handle(), 7, 5), 7u);
    SpinUntil([&] { return ticks >= 3; });
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(KillTimer(window.Handle(), 7));
    EXPECT_FALSE(KillTimer(window.Handle(), 7));
    int after = ticks;
    QThread::msleep(30);
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, after);
    EXPECT_EQ(SetTimer(reinterpret_cast<HWND>(0x4), 1, 5), 0u)
        << "no timer for a handle that names nothing";
}
