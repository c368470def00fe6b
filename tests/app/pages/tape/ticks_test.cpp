// The tape output handlers that need no playing graph: the time text and
// the rate tick over the page's own count of the bytes sent.

#include <gtest/gtest.h>

#include <memory>

#include "app/main_window.h"
#include "platform/winui/dialogs.h"
#include "support/sandbox.h"
#include "workflow/playout_session.h"

namespace ronvix::app {
namespace {

constexpr int64_t kMs_100ns = 10'000;

TEST(PlayTimeText, SplitsTheMillisecondsAsATimeOfDay) {
    struct Case {
        int64_t position_100ns;
        const char* text;
    };
    const Case cases[] = {
        {0, "00:00:00"},
        {999 * kMs_100ns + 9999, "00:00:00"},  // Below a second, to the last 100 ns.
        {59'999 * kMs_100ns, "00:00:59"},
        {3'661'000 * kMs_100ns, "01:01:01"},
        {(24 * 3600 - 1) * 1000 * kMs_100ns, "23:59:59"},
        {24 * 3600 * 1000 * kMs_100ns, "00:00:00"},
        {25 * 3600 * 1000 * kMs_100ns, "01:00:00"},
        {INT64_MAX, "02:48:05"},  // The largest position wraps like any other.
    };
    for (const Case& c : cases)
        EXPECT_EQ(workflow::PlayTimeText(c.position_100ns), QString::fromLatin1(c.text))
            << c.position_100ns;
}

class RateTick : public ::testing::Test {
protected:
    void SetUp() override {
        m_form = std::make_unique<MainWindow>();
        s_now_ms = 1000;
        m_form->playoutSession->now_ms = [] { return s_now_ms; };
        m_form->captureSession->now_ms = [] { return s_now_ms; };
    }
    void Buffer(int length) {
        auto* grabber = m_form->playoutSession->Media().OutGrabber;
        grabber->OnBuffer(grabber, 0.0, nullptr, length);
    }
    QString Rate() const { return m_form->playoutPage->rateField->text(); }

    static inline uint64_t s_now_ms = 0;
    testing::ScopedSettingsFolder m_settings;
    win::ScriptedDialogs m_dialogs;
    std::unique_ptr<MainWindow> m_form;
};

TEST_F(RateTick, ShowsTheBytesSentInTheLastSecondAndZeroWhenNoneWereSent) {
    m_form->playoutSession->RestartRate();
    for (int i = 0; i < 25; ++i)
        Buffer(32 * 1024);
    s_now_ms += 1000;
    m_form->playoutPage->rateTimer->Tick();
    EXPECT_EQ(Rate(), QStringLiteral("800 \u041A/sec"));
    // The same file sends the same a second: the figure stays.
    for (int i = 0; i < 25; ++i)
        Buffer(32 * 1024);
    s_now_ms += 1000;
    m_form->playoutPage->rateTimer->Tick();
    EXPECT_EQ(Rate(), QStringLiteral("800 \u041A/sec"));
    // A second without buffers (the end of the file) is 0, not the last figure.
    s_now_ms += 1000;
    m_form->playoutPage->rateTimer->Tick();
    EXPECT_EQ(Rate(), QStringLiteral("0 \u041A/sec"));
    EXPECT_TRUE(m_dialogs.unexpected.empty());
}

TEST_F(RateTick, EachPageReadsItsOwnCounts) {
    // The capture page's tick neither reads nor resets what the tape page
    // sent, and the tape page's bytes never show on the capture page.
    m_form->playoutSession->RestartRate();
    const QString capture_rate = m_form->capturePage->rateField->text();
    for (int i = 0; i < 10; ++i) {
        Buffer(102400);
        s_now_ms += 100;
        m_form->capturePage->onRateTick();
    }
    EXPECT_EQ(m_form->capturePage->rateField->text(), capture_rate);
    m_form->playoutPage->rateTimer->Tick();
    EXPECT_EQ(Rate(), QStringLiteral("1000 \u041A/sec"));
    EXPECT_TRUE(m_dialogs.boxes.empty());
}

}  // namespace
}  // namespace ronvix::app
