// The form storage against real settings files in a temporary folder:
// entry encoding, the placement keys and their restore rules, the handler
// chain, and write failures.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QFileInfo>
#include <QProcess>

#include "framework/exceptions.h"
#include "platform/winui/dialogs.h"
#include "settings/formstorage.h"
#include "settings_test_util.h"

namespace ronvix::settings {
namespace {

using testing::AttachStorage;
using testing::ConfigHome;
using testing::RawValue;
using testing::TMainForm;
using testing::TTestStorage;

class FormStorageTest : public ::testing::Test {
protected:
    // Shows and closes a form, as a user session does.
    static void Session(TMainForm& form) {
        form.show();
        form.close();
    }
    std::optional<QString> Raw(const QString& key) const { return RawValue(home.Bytes(), key); }

    ConfigHome home;
    // Any error report a handler shows lands here instead of on screen.
    win::ScriptedDialogs dialogs;
};

TEST_F(FormStorageTest, QuotedTextsGetOneMorePairAndReadBackUnchanged) {
    TMainForm form;
    TTestStorage* storage = AttachStorage(&form);
    const QString double_quoted = QStringLiteral("\"xyz\"");
    const QString single_quoted = QStringLiteral("'xyz'");
    storage->WriteStrValue(QStringLiteral("Double"), double_quoted);
    storage->WriteStrValue(QStringLiteral("Single"), single_quoted);
    storage->WriteStrValue(QStringLiteral("Half"), QStringLiteral("\"xyz"));
    EXPECT_EQ(Raw(QStringLiteral("Double")), QStringLiteral("\"\"xyz\"\""));
    EXPECT_EQ(Raw(QStringLiteral("Double"))->size(), 7);
    EXPECT_EQ(Raw(QStringLiteral("Single")), QStringLiteral("\"'xyz'\""));
    EXPECT_EQ(Raw(QStringLiteral("Half")), QStringLiteral("\"xyz"));
    EXPECT_EQ(storage->ReadStrValue(QStringLiteral("double"), {}), double_quoted);
    EXPECT_EQ(storage->ReadStrValue(QStringLiteral("Single"), {}), single_quoted);
    EXPECT_EQ(storage->ReadStrValue(QStringLiteral("Absent"), QStringLiteral("def")),
              QStringLiteral("def"));
}

TEST_F(FormStorageTest, ReadIntValue) {
    home.Write(
        "[TMainForm]\nVideoFormats_ItemIndex=abc\nAudioFormats_ItemIndex=0x1F\n"
        "ComboBox1_ItemIndex= 3 \nNegative=-7\nHuge=99999999999\n");
    TMainForm form;
    TTestStorage* storage = AttachStorage(&form);
    EXPECT_EQ(storage->ReadIntValue(QStringLiteral("videoformats_itemindex"), -1), -1);
    EXPECT_EQ(storage->ReadIntValue(QStringLiteral("audioformats_itemindex"), -1), 31);
    EXPECT_EQ(storage->ReadIntValue(QStringLiteral("absent"), -1), -1);
    EXPECT_EQ(storage->ReadIntValue(QStringLiteral("ComboBox1_ItemIndex"), -1), 3);
    EXPECT_EQ(storage->ReadIntValue(QStringLiteral("Negative"), 0), -7);
    EXPECT_EQ(storage->ReadIntValue(QStringLiteral("Huge"), -1), -1);
    EXPECT_FALSE(storage->ProfileOpen());

    storage->WriteIntValue(QStringLiteral("videoformats_itemindex"), 4);
    EXPECT_EQ(storage->ReadIntValue(QStringLiteral("VideoFormats_ItemIndex"), -1), 4);
}

TEST_F(FormStorageTest, FirstRunKeepsDesignAndCloseWritesEveryKey) {
    TMainForm form;
    AttachStorage(&form);
    form.show();
    EXPECT_EQ(form.pos(), QPoint(50, 40));
    EXPECT_EQ(form.ComboBox1->currentIndex(), 1);
    EXPECT_EQ(form.savedialog->Text(), QStringLiteral("c:\\capture.avi"));
    // The frame the window system draws is part of the stored rectangle.
    const QSize frame = form.frameGeometry().size();
    const int border = form.frameGeometry().bottom() - form.geometry().bottom();
    const std::string norm = QStringLiteral("50,40,%1,%2")
                                 .arg(50 + frame.width())
                                 .arg(40 + frame.height())
                                 .toStdString();
    const std::string minmax = QStringLiteral("-1,-1,%1,%1").arg(-border).toStdString();
    form.close();

    const QByteArray file = home.Bytes();
    EXPECT_TRUE(file.startsWith("[TMainForm]"));
    const std::pair<const char*, const char*> expected[] = {
        {"FormVersion", "0"},
        {"Flags", "0"},
        {"ShowCmd", "1"},
        {"PixelsPerInch", "96"},
        {"MinMaxPos(800x600)", minmax.c_str()},
        {"MinMaxPos", minmax.c_str()},
        {"NormPos(800x600)", norm.c_str()},
        {"NormPos", norm.c_str()},
        {"Visible", "0"},
        {"AudioCapFilters_ItemIndex", "-1"},
        {"VideoCapFilters_ItemIndex", "-1"},
        {"savedialog_FileName", "c:\\capture.avi"},
        {"VideoFormats_ItemIndex", "-1"},
        {"AudioFormats_ItemIndex", "-1"},
        {"AudioDestFilters_ItemIndex", "-1"},
        {"VideoOutFilters_ItemIndex", "-1"},
        {"OverCheck_Checked", "False"},
        {"SourceFilename_Text", ""},
        {"ComboBox1_ItemIndex", "1"},
    };
    qsizetype last = 0;
    for (const auto& [key, value] : expected) {
        // In this order, the screen-specific keys before the plain ones.
        const qsizetype at = file.indexOf(QByteArray("\n") + key + "=");
        EXPECT_GT(at, last) << key;
        last = std::max(last, at);
        EXPECT_EQ(Raw(QString::fromLatin1(key)), QString::fromLatin1(value)) << key;
    }
    EXPECT_FALSE(file.contains("ActiveControl"));
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(FormStorageTest, VisibleIsOneOnlyWhenSavedAtDestruction) {
    {
        TMainForm form;
        AttachStorage(&form);
        form.show();
    }
    EXPECT_EQ(Raw(QStringLiteral("Visible")), QStringLiteral("1"));
    {
        TMainForm form;
        AttachStorage(&form);
        Session(form);
        EXPECT_EQ(Raw(QStringLiteral("Visible")), QStringLiteral("0"));
        // Destruction after a save since the last restore writes nothing.
        home.Write("[TMainForm]\nVisible=7\n");
    }
    EXPECT_EQ(Raw(QStringLiteral("Visible")), QStringLiteral("7"));
}

TEST_F(FormStorageTest, ANeverShownFormIsNeverSaved) {
    {
        TMainForm form;
        AttachStorage(&form);
        form.close();
    }
    EXPECT_FALSE(home.Exists());
}

TEST_F(FormStorageTest, RoundTripOfTheStoredControls) {
    {
        TMainForm form;
        form.FillLists();
        AttachStorage(&form);
        form.show();
        form.VideoCapFilters->setCurrentIndex(2);
        form.AudioCapFilters->setCurrentIndex(4);
        form.VideoFormats->setCurrentIndex(3);
        form.OverCheck->setChecked(true);
        form.savedialog->SetText(QStringLiteral("\"/tmp/my capture.avi\""));
        form.SourceFilename->SetText(QStringLiteral("\"/tmp/a b.avi\""));
        form.ComboBox1->setCurrentIndex(3);
        form.close();
    }
    EXPECT_EQ(Raw(QStringLiteral("savedialog_FileName")), QStringLiteral("/tmp/my capture.avi"));
    EXPECT_EQ(Raw(QStringLiteral("SourceFilename_Text")), QStringLiteral("\"\"/tmp/a b.avi\"\""));

    TMainForm form;
    form.FillLists();
    AttachStorage(&form);
    form.show();
    EXPECT_EQ(form.VideoCapFilters->currentIndex(), 2);
    EXPECT_EQ(form.AudioCapFilters->currentIndex(), 4);
    EXPECT_EQ(form.VideoFormats->currentIndex(), 3);
    EXPECT_EQ(form.AudioFormats->currentIndex(), 0);
    EXPECT_TRUE(form.OverCheck->isChecked());
    EXPECT_EQ(form.savedialog->FileName(), QStringLiteral("/tmp/my capture.avi"));
    EXPECT_EQ(form.SourceFilename->Text(), QStringLiteral("\"/tmp/a b.avi\""));
    EXPECT_EQ(form.ComboBox1->currentIndex(), 3);
}

TEST_F(FormStorageTest, StoredSelectionNeedsItemsAndLettersGiveZero) {
    home.Write("[TMainForm]\nVideoFormats_ItemIndex=2\nVideoCapFilters_ItemIndex=abc\n");
    TMainForm form;
    // Only the device lists are filled; the format lists are still empty.
    for (int i = 0; i < 3; ++i)
        form.VideoCapFilters->addItem(QString::number(i));
    form.VideoCapFilters->setCurrentIndex(2);
    AttachStorage(&form);
    form.show();
    EXPECT_EQ(form.VideoFormats->currentIndex(), -1);
    EXPECT_EQ(form.VideoCapFilters->currentIndex(), 0);
}

TEST_F(FormStorageTest, HandlersAreKeptChainedAndGivenBack) {
    // Declared before the form: its destruction still calls the handlers.
    QStringList calls;
    bool allow_close = false;
    TMainForm form;
    form.FillLists();
    form.OnShow = [&](QObject*) {
        calls << QStringLiteral("show %1").arg(form.VideoCapFilters->currentIndex());
    };
    form.OnCloseQuery = [&](QObject*, bool& can_close) {
        calls << QStringLiteral("closequery");
        can_close = allow_close;
    };
    form.OnDestroy = [&](QObject*) { calls << QStringLiteral("destroy"); };
    home.Write("[TMainForm]\nVideoCapFilters_ItemIndex=3\n");
    TTestStorage* storage = AttachStorage(&form);

    form.show();
    form.close();
    EXPECT_EQ(calls, QStringList({QStringLiteral("show 3"), QStringLiteral("closequery")}));
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(storage->Saved());
    EXPECT_FALSE(RawValue(home.Bytes(), QStringLiteral("FormVersion")));

    allow_close = true;
    form.close();
    EXPECT_TRUE(storage->Saved());
    EXPECT_EQ(Raw(QStringLiteral("VideoCapFilters_ItemIndex")), QStringLiteral("3"));

    // A storage that goes first gives the form its own handlers back.
    delete storage;
    calls.clear();
    form.OnShow(&form);
    bool can_close = true;
    form.OnCloseQuery(&form, can_close);
    form.OnDestroy(&form);
    EXPECT_EQ(calls, QStringList({QStringLiteral("show 3"), QStringLiteral("closequery"),
                                  QStringLiteral("destroy")}));
}

TEST_F(FormStorageTest, NormPosFallsBackToThePlainKey) {
    home.Write(
        "[TMainForm]\nNormPos(1280x1024)=300,200,1000,745\nNormPos=120,90,820,635\n"
        "MinMaxPos(1280x1024)=1,2,3,4\n");
    TMainForm form;
    TTestStorage* storage = AttachStorage(&form);
    storage->screen = {QSize(1024, 768), 96, QRect(0, 0, 1024, 768)};
    form.show();
    EXPECT_EQ(form.pos(), QPoint(120, 90));

    home.Write("[TMainForm]\nNormPos(1024x768)=30,20,730,565\nNormPos=120,90,820,635\n");
    storage->RestoreFormState();
    EXPECT_EQ(form.pos(), QPoint(30, 20));

    // With neither position present the window stays where it is.
    home.Write("[TMainForm]\nNormPos(1280x1024)=300,200,1000,745\nFlags=0\n");
    storage->RestoreFormState();
    EXPECT_EQ(form.pos(), QPoint(30, 20));
}

TEST_F(FormStorageTest, WorkspaceCoordinatesFollowTheWorkArea) {
    home.Write("[TMainForm]\nNormPos=10,20,710,565\n");
    TMainForm form;
    TTestStorage* storage = AttachStorage(&form);
    storage->screen = {QSize(800, 600), 96, QRect(0, 30, 800, 570)};
    form.show();
    EXPECT_EQ(form.pos(), QPoint(10, 50));
    const QSize frame = form.frameGeometry().size();
    form.close();
    EXPECT_EQ(Raw(QStringLiteral("NormPos")),
              QStringLiteral("10,20,%1,%2").arg(10 + frame.width()).arg(20 + frame.height()));
}

TEST_F(FormStorageTest, ChangedPixelsPerInchKeepsPositionButNotState) {
    home.Write("[TMainForm]\nNormPos=10,20,710,565\nPixelsPerInch=120\nShowCmd=3\n");
    TMainForm form(TMainForm::Border::Sizeable);
    AttachStorage(&form);
    form.show();
    EXPECT_TRUE(form.isMaximized());
    EXPECT_EQ(form.normalGeometry().topLeft(), QPoint(50, 40));
}

TEST_F(FormStorageTest, FixedBorderKeepsDesignedSizeAndDropsCentring) {
    home.Write("[TMainForm]\nNormPos=10,20,310,220\n");
    TMainForm fixed;
    SetFormPosition(&fixed, TPosition::poDesktopCenter);
    AttachStorage(&fixed);
    fixed.show();
    EXPECT_EQ(fixed.pos(), QPoint(10, 20));
    EXPECT_EQ(fixed.size(), QSize(700, 545));
    EXPECT_EQ(FormPosition(&fixed), TPosition::poDesigned);

    TMainForm sizeable(TMainForm::Border::Sizeable);
    AttachStorage(&sizeable);
    sizeable.show();
    EXPECT_EQ(sizeable.frameGeometry(), QRect(10, 20, 300, 200));

    // A rectangle with no width is not applied, and the rule stays.
    home.Write("[TMainForm]\nNormPos=400,20,400,220\n");
    TMainForm empty(TMainForm::Border::Sizeable);
    SetFormPosition(&empty, TPosition::poScreenCenter);
    AttachStorage(&empty);
    empty.show();
    EXPECT_EQ(empty.pos(), QPoint(50, 40));
    EXPECT_EQ(FormPosition(&empty), TPosition::poScreenCenter);
}

TEST_F(FormStorageTest, ShowCmdTwoRestoresMinimized) {
    home.Write("[TMainForm]\nShowCmd=2\n");
    TMainForm form;
    AttachStorage(&form);
    form.show();
    EXPECT_TRUE(form.isMinimized());
    form.close();
    EXPECT_EQ(Raw(QStringLiteral("ShowCmd")), QStringLiteral("2"));

    home.Write("[TMainForm]\nShowCmd=junk\n");
    TMainForm other;
    AttachStorage(&other);
    other.show();
    EXPECT_FALSE(other.isMinimized());
    EXPECT_FALSE(other.isMaximized());
}

TEST_F(FormStorageTest, OlderFormVersionSkipsRestoreButNotTheSave) {
    home.Write("[TMainForm]\nFormVersion=-1\nNormPos=10,20,710,565\nComboBox1_ItemIndex=3\n");
    TMainForm form;
    TTestStorage* storage = AttachStorage(&form);
    form.show();
    EXPECT_EQ(form.pos(), QPoint(50, 40));
    EXPECT_EQ(form.ComboBox1->currentIndex(), 1);
    EXPECT_TRUE(storage->Restored());
    form.close();
    EXPECT_EQ(Raw(QStringLiteral("FormVersion")), QStringLiteral("0"));
    EXPECT_EQ(Raw(QStringLiteral("ComboBox1_ItemIndex")), QStringLiteral("1"));
}

TEST_F(FormStorageTest, StoredPropsFollowTheirComponents) {
    TMainForm form;
    TTestStorage* storage = AttachStorage(
        &form, {QStringLiteral(" overcheck . checked "), QStringLiteral("Gone.Checked"),
                QStringLiteral("NoDot"), QStringLiteral("VideoFormats.ItemIndex")});
    EXPECT_EQ(storage->StoredProps().size(), 2);
    delete form.OverCheck;
    EXPECT_EQ(storage->StoredProps(), QStringList({QStringLiteral("VideoFormats.ItemIndex")}));
}

TEST_F(FormStorageTest, StoredValuesAreKeptUnderTheirNames) {
    {
        TMainForm form;
        TTestStorage* storage = AttachStorage(&form, {});
        TStoredValue* v = storage->StoredValues()->Add();
        v->SetName(QStringLiteral("LastFolder"));
        v->OnSave = [](TStoredValue& value) { value.SetValue(QStringLiteral("'/tmp/x'")); };
        Session(form);
    }
    EXPECT_EQ(Raw(QStringLiteral("LastFolder")), QStringLiteral("\"'/tmp/x'\""));

    TMainForm form;
    TTestStorage* storage = AttachStorage(&form, {});
    TStoredValue* v = storage->StoredValues()->Add();
    v->SetName(QStringLiteral("lastfolder"));
    QString restored;
    v->OnRestore = [&](TStoredValue& value) { restored = value.Value().toString(); };
    form.show();
    EXPECT_EQ(restored, QStringLiteral("'/tmp/x'"));
}

// The settings folder cannot be created: its parent is a regular file, which
// stops root as well.
TEST_F(FormStorageTest, UnwritableFolderReportsAndClosingGoesOn) {
    QFile blocker(home.Folder() + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    testing::ScopedEnv env("XDG_CONFIG_HOME", blocker.fileName() + QStringLiteral("/cfg"));

    TMainForm form;
    TTestStorage* storage = AttachStorage(&form);
    form.show();
    try {
        storage->SaveFormState();
        ADD_FAILURE() << "the save reported success";
    } catch (const fw::Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ZELK.ini"));
    }
    EXPECT_FALSE(storage->ProfileOpen());
    EXPECT_FALSE(storage->Saved());

    form.close();
    EXPECT_FALSE(form.isVisible());
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Unable to write to ZELK.ini."));
}

// A settings file its user made read-only is kept byte for byte, and the
// user hears of it once, root included.
TEST_F(FormStorageTest, AReadOnlyFileIsKeptAndReportedOnce) {
    {
        TMainForm form;
        AttachStorage(&form);
        Session(form);
    }
    const QByteArray before = home.Bytes();
    ASSERT_EQ(chmod(home.IniPath().toUtf8().constData(), 0444), 0);
    {
        TMainForm form;
        AttachStorage(&form);
        form.show();
        form.ComboBox1->setCurrentIndex(3);
        form.move(20, 30);
        form.close();
    }
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Unable to write to ZELK.ini."));
    EXPECT_EQ(home.Bytes(), before);
    EXPECT_EQ(QFileInfo(home.IniPath()).permissions() & QFile::WriteOwner, 0);
}

// A value the file cannot hold (a line break, here through the name the
// command line put into the edit) is left out; every other key is written
// and the user is told once, naming it.
TEST_F(FormStorageTest, ALineBreakLeavesOutOnlyItsKey) {
    {
        TMainForm form;
        AttachStorage(&form);
        form.show();
        form.SourceFilename->SetText(QStringLiteral("/tmp/old.avi"));
        form.close();
    }
    {
        TMainForm form;
        AttachStorage(&form);
        form.show();
        form.SourceFilename->SetText(QStringLiteral("/tmp/a\nb.avi"));
        form.ComboBox1->setCurrentIndex(2);
        form.OverCheck->setChecked(true);
        form.close();
    }
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text,
              QStringLiteral("Unable to write SourceFilename_Text to ZELK.ini: its value holds a "
                             "line break, which a settings file cannot keep."));
    EXPECT_EQ(Raw(QStringLiteral("SourceFilename_Text")), QStringLiteral("/tmp/old.avi"));
    EXPECT_EQ(Raw(QStringLiteral("ComboBox1_ItemIndex")), QStringLiteral("2"));
    EXPECT_EQ(Raw(QStringLiteral("OverCheck_Checked")), QStringLiteral("True"));
    EXPECT_FALSE(home.Bytes().contains("b.avi"));
}

// Counts, per file name, the opens and the renames onto that name in a
// folder while it is watched.
class FolderWatch {
public:
    explicit FolderWatch(const QString& folder) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(m_fd, folder.toUtf8().constData(), IN_OPEN | IN_MOVED_TO);
    }
    ~FolderWatch() { close(m_fd); }
    struct Counts {
        int opens = 0;
        int replaces = 0;
    };
    // What happened to `name` since the last call.
    Counts Take(const char* name) {
        Counts counts;
        alignas(inotify_event) char buffer[65536];
        for (ssize_t n; (n = read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                if (e->len > 0 && std::strcmp(e->name, name) == 0) {
                    counts.opens += (e->mask & IN_OPEN) != 0;
                    counts.replaces += (e->mask & IN_MOVED_TO) != 0;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return counts;
    }

private:
    int m_fd;
};

// A restore reads the file once, however many keys it asks (the show
// handler's own reads included); a save replaces it once with every key.
TEST_F(FormStorageTest, OneReadPerShowAndOneReplacePerSave) {
    {
        TMainForm form;
        AttachStorage(&form);
        Session(form);
    }
    FolderWatch watch(home.Folder() + QStringLiteral("/ronvix"));
    TMainForm form;
    form.FillLists();
    TTestStorage* storage = AttachStorage(&form);
    form.show();
    storage->ReadIntValue(QStringLiteral("videoformats_itemindex"), -1);
    storage->ReadIntValue(QStringLiteral("audioformats_itemindex"), -1);
    const auto shown = watch.Take("ZELK.ini");
    EXPECT_LE(shown.opens, 1);
    EXPECT_EQ(shown.replaces, 0);

    form.VideoFormats->setCurrentIndex(2);
    form.ComboBox1->setCurrentIndex(0);
    form.move(10, 10);
    form.close();
    const auto saved = watch.Take("ZELK.ini");
    EXPECT_LE(saved.opens, 1);
    EXPECT_EQ(saved.replaces, 1);
    EXPECT_EQ(Raw(QStringLiteral("VideoFormats_ItemIndex")), QStringLiteral("2"));
    EXPECT_EQ(Raw(QStringLiteral("ComboBox1_ItemIndex")), QStringLiteral("0"));
}

// A file carried over in another encoding keeps its bytes where the program
// changes nothing; a value read and written back unchanged keeps them too;
// what the program writes new is UTF-8.
TEST_F(FormStorageTest, BytesThatAreNotUtf8Survive) {
    const QByteArray video = "\xC2\xE8\xE4\xE5\xEE";  // Windows-1251
    const QByteArray file = "; " + video + "\n[TMainForm]\nsavedialog_FileName=/tmp/" + video +
                            ".avi\nSourceFilename_Text=" + video + " 2\nNote=" + video + "\n[" +
                            video + "]\n" + video + "=" + video + "\n";
    home.Write(file);
    {
        TMainForm form;
        TTestStorage* storage = AttachStorage(&form);
        form.show();
        const QString note = storage->ReadStrValue(QStringLiteral("Note"), {});
        EXPECT_EQ(note.size(), 5);
        storage->WriteStrValue(QStringLiteral("Copy"), note);
        storage->WriteStrValue(QStringLiteral("New"), QStringLiteral("Видео"));
        form.close();
    }
    const QByteArray after = home.Bytes();
    for (const QByteArray& line : file.split('\n'))
        EXPECT_TRUE(after.contains(line + "\n")) << line.toStdString();
    EXPECT_TRUE(after.contains("\nCopy=" + video + "\n"));
    EXPECT_TRUE(after.contains("\nNew=\xD0\x92\xD0\xB8\xD0\xB4\xD0\xB5\xD0\xBE\n"));
}

// A window placed on a monitor that is gone comes onto the primary screen
// with its size; one on another screen that is there stays. Numbers at the
// ends of the integer range (UBSan watches the asan build) still leave the
// window on a screen, no larger than the screens, and save back sanely.
TEST_F(FormStorageTest, WindowsComeOntoAScreenWhateverTheNumbers) {
    // Expected left and top: kAny for anywhere on a screen, kFlush for
    // against the primary screen's right or bottom edge.
    constexpr int kAny = -1;
    constexpr int kFlush = -2;
    struct Case {
        const char* norm;
        const char* minmax;
        int left;
        int top;
    };
    const Case cases[] = {
        {"5000,4000,5700,4545", nullptr, kFlush, kFlush},
        {"-3000,20,-2300,565", nullptr, 0, 20},
        {"900,100,1600,645", nullptr, 900, 100},  // on the second screen
        {"-2147483648,10,-2147482948,555", nullptr, 0, 10},
        {"-2147483648,-2147483648,2147483647,2147483647", "2147483647,2147483647,-1,-1", kAny,
         kAny},
        {"2147483000,0,2147483647,545", "-2147483648,-2147483648,2147483647,2147483647", kAny,
         kAny},
        {"10,2147483600,710,2147483647", nullptr, kAny, kAny},
    };
    const QRect primary(0, 0, 800, 600);
    const QRect second(800, 0, 1024, 768);
    for (const auto border : {TMainForm::Border::Single, TMainForm::Border::Sizeable}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.norm);
            QByteArray text = QByteArray("[TMainForm]\nNormPos=") + c.norm + "\n";
            if (c.minmax)
                text += QByteArray("MinMaxPos=") + c.minmax + "\n";
            home.Write(text);
            TMainForm form(border);
            TTestStorage* storage = AttachStorage(&form);
            storage->screen.screens = {primary, second};
            form.show();
            const QRect frame = form.frameGeometry();
            EXPECT_TRUE(frame.intersects(primary) || frame.intersects(second));
            EXPECT_LE(frame.width(), primary.united(second).width());
            EXPECT_LE(frame.height(), primary.united(second).height());
            if (c.left != kAny) {
                EXPECT_EQ(c.left == kFlush ? frame.right() + 1 : frame.left(),
                          c.left == kFlush ? primary.width() : c.left);
                EXPECT_EQ(c.top == kFlush ? frame.bottom() + 1 : frame.top(),
                          c.top == kFlush ? primary.height() : c.top);
                // Sizeable: the stored size; fixed: the designed one.
                if (border == TMainForm::Border::Sizeable)
                    EXPECT_EQ(frame.size(), QSize(700, 545));
                else
                    EXPECT_EQ(form.size(), QSize(700, 545));
            }
            form.close();
            for (const auto& word : PositionWords(*Raw(QStringLiteral("NormPos"))))
                EXPECT_TRUE(word && std::abs(*word) < 100000);
        }
    }
}

// Runs in a private mount namespace: the settings folder is a tmpfs that is
// remounted read-only after the first session, so the second save fails
// (root included) and the first file must survive byte for byte.
void ReadOnlyMountBody() {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string mount_point = dir.path().toStdString();
    ASSERT_EQ(mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=1m"), 0) << errno;
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{mount_point};
    testing::ScopedEnv env("XDG_CONFIG_HOME", dir.path());
    const QString ini = dir.path() + QStringLiteral("/ronvix/ZELK.ini");
    {
        TMainForm form;
        AttachStorage(&form);
        form.show();
        form.ComboBox1->setCurrentIndex(2);
        form.close();
    }
    QFile before_file(ini);
    ASSERT_TRUE(before_file.open(QIODevice::ReadOnly));
    const QByteArray before = before_file.readAll();
    before_file.close();
    ASSERT_TRUE(before.contains("ComboBox1_ItemIndex=2"));
    ASSERT_EQ(mount(nullptr, mount_point.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
        << errno;

    win::ScriptedDialogs dialogs;
    {
        TMainForm form;
        AttachStorage(&form);
        form.show();
        EXPECT_EQ(form.ComboBox1->currentIndex(), 2);
        form.ComboBox1->setCurrentIndex(0);
        form.move(5, 5);
        form.close();
    }
    // Closing fails to save and says so; destruction does not try again.
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Unable to write to ZELK.ini."));
    QFile after(ini);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
}

TEST(FormStorageFailure, ReadOnlySettingsFolderKeepsTheOldFile) {
    if (qEnvironmentVariableIsSet("RONVIX_SETTINGS_RO_CHILD")) {
        ReadOnlyMountBody();
        return;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RONVIX_SETTINGS_RO_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    // -r maps the caller to root in a new user namespace, so this works
    // without privileges; as root it is a plain private mount namespace.
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-rm"), QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget(),
                 QStringLiteral("--gtest_filter=FormStorageFailure.*")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAll());
    if (geteuid() != 0 && output.contains(QStringLiteral("unshare failed")))
        GTEST_SKIP() << "user namespaces are disabled for this user: " << output.toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
}

}  // namespace
}  // namespace ronvix::settings
