#include "settings_test_util.h"

#include <gtest/gtest.h>
#include <QDir>

#include "framework/application.h"

namespace ronvix::settings::testing {

namespace {

// The application's main window is the first form it creates (the splash
// in the program). A stand-in created before every test keeps the forms of
// the tests from taking that role.
class SplashEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        m_splash = new fw::TForm();
        m_splash->setObjectName(QStringLiteral("Form1"));
    }
    void TearDown() override { delete m_splash; }

private:
    fw::TForm* m_splash = nullptr;
};

[[maybe_unused]] auto* const g_splash = ::testing::AddGlobalTestEnvironment(new SplashEnvironment);

QComboBox* Combo(QWidget* parent, const char* name) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    return c;
}

}  // namespace

void ConfigHome::Write(const QByteArray& text, const QString& name) const {
    QDir().mkpath(m_dir.path() + QStringLiteral("/ronvix"));
    QFile f(IniPath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

std::optional<QString> RawValue(const QByteArray& file, const QString& key) {
    for (const QByteArray& line : file.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && QString::fromUtf8(line.left(eq)).trimmed() == key)
            return QString::fromUtf8(line.mid(eq + 1)).trimmed();
    }
    return std::nullopt;
}

TMainForm::TMainForm(Border border) {
    TabSheet2 = new QWidget(this);
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    AudioCapFilters = Combo(TabSheet2, "AudioCapFilters");
    VideoCapFilters = Combo(TabSheet2, "VideoCapFilters");
    VideoFormats = Combo(TabSheet2, "VideoFormats");
    AudioFormats = Combo(TabSheet2, "AudioFormats");
    AudioDestFilters = Combo(TabSheet2, "AudioDestFilters");
    VideoOutFilters = Combo(TabSheet2, "VideoOutFilters");
    ComboBox1 = Combo(TabSheet2, "ComboBox1");
    ComboBox1->addItems({QStringLiteral("Realtime"), QStringLiteral("High"),
                         QStringLiteral("Normal"), QStringLiteral("Idle")});
    ComboBox1->setCurrentIndex(1);
    savedialog = new controls::TFilenameEdit(this);
    savedialog->setObjectName(QStringLiteral("savedialog"));
    savedialog->SetText(QStringLiteral("c:\\capture.avi"));
    SourceFilename = new controls::TFilenameEdit(this);
    SourceFilename->setObjectName(QStringLiteral("SourceFilename"));
    OverCheck = new QCheckBox(QStringLiteral("Overwrite"), this);
    OverCheck->setObjectName(QStringLiteral("OverCheck"));
    setObjectName(QStringLiteral("MainForm"));
    if (border == Border::Single)
        setFixedSize(700, 545);
    else
        resize(700, 545);
    move(50, 40);
}

void TMainForm::FillLists(int items) {
    for (QComboBox* c : {AudioCapFilters, VideoCapFilters, VideoFormats, AudioFormats,
                         AudioDestFilters, VideoOutFilters})
        for (int i = 0; i < items; ++i)
            c->addItem(QStringLiteral("%1 %2").arg(c->objectName()).arg(i));
}

QStringList MainWindowStoredProps() {
    return {
        QStringLiteral("AudioCapFilters.ItemIndex"), QStringLiteral("VideoCapFilters.ItemIndex"),
        QStringLiteral("savedialog.FileName"),       QStringLiteral("VideoFormats.ItemIndex"),
        QStringLiteral("AudioFormats.ItemIndex"),    QStringLiteral("AudioDestFilters.ItemIndex"),
        QStringLiteral("VideoOutFilters.ItemIndex"), QStringLiteral("OverCheck.Checked"),
        QStringLiteral("SourceFilename.Text"),       QStringLiteral("ComboBox1.ItemIndex")};
}

TTestStorage* AttachStorage(fw::TForm* form, const QStringList& props) {
    auto* storage = new TTestStorage(form, QStringLiteral("FormStorage1"));
    storage->SetIniFileName(QStringLiteral("ZELK.ini"));
    storage->SetStoredProps(props);
    storage->Loaded();
    return storage;
}

}  // namespace ronvix::settings::testing
