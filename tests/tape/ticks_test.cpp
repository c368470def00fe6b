// The tape output handlers that need no playing graph: the time text, the
// rate tick over the shared counters, and the counters' reset by "Play".

#include <gtest/gtest.h>

#include <memory>

#include "app/mainform.h"
#include "platform/winui/dialogs.h"
#include "support/sandbox.h"
#include "tape/session.h"

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
        EXPECT_EQ(tape::PlayTimeText(c.position_100ns), QString::fromLatin1(c.text))
            << c.position_100ns;
}

class RateTick : public ::testing::Test {
protected:
    void SetUp() override { m_form = std::make_unique<TMainForm>(); }
    void Buffer(int length) { m_form->OutGrabberBuffer(m_form->OutGrabber, 0.0, nullptr, length); }
    QString Rate() const { return m_form->StaticText9->text(); }

    testing::ScopedSettingsFolder m_settings;
    win::ScriptedDialogs m_dialogs;
    std::unique_ptr<TMainForm> m_form;
};

TEST_F(RateTick, ShowsTheAverageBufferInWholeKilobytesTimesTheBuffers) {
    Buffer(10000);
    Buffer(20000);
    Buffer(30000);
    m_form->Timer4->Tick();
    // (60000 / 3) / 1024 = 19 kilobytes a buffer, three buffers.
    EXPECT_EQ(Rate(), QStringLiteral("57 \u041A/sec"));

    // A second without buffers keeps the text; the next second counts anew.
    m_form->Timer4->Tick();
    EXPECT_EQ(Rate(), QStringLiteral("57 \u041A/sec"));
    Buffer(1023);
    m_form->Timer4->Tick();
    EXPECT_EQ(Rate(), QStringLiteral("0 \u041A/sec"));
    EXPECT_TRUE(m_dialogs.unexpected.empty());
}

TEST_F(RateTick, PlayStartsTheCountersAtZero) {
    const QString before = Rate();
    Buffer(4096);
    Buffer(4096);
    m_form->SourceFilename->SetText(QStringLiteral("c:\\not here.avi"));
    m_form->Start_print->click();
    m_form->Timer4->Tick();
    EXPECT_EQ(Rate(), before) << "the buffers before Play were dropped";
    EXPECT_TRUE(m_dialogs.boxes.empty());
}

}  // namespace
}  // namespace ronvix::app
