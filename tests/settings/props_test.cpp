// Stored property paths, the registry, and the value texts in both
// directions, through an in-memory settings section.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QMap>
#include <QSignalSpy>

#include "controls/filenameedit.h"
#include "framework/component.h"
#include "framework/form.h"
#include "settings/formstorage.h"
#include "settings/propsstorage.h"

namespace ronvix::settings {
namespace {

class TNested : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Size READ Size WRITE SetSize)
    Q_PROPERTY(QString Face READ Face WRITE SetFace)
public:
    using QObject::QObject;
    int Size() const { return m_size; }
    void SetSize(int s) { m_size = s; }
    QString Face() const { return m_face; }
    void SetFace(const QString& f) { m_face = f; }

private:
    int m_size = 8;
    QString m_face = QStringLiteral("Sans");
};

// A component with a property of every kept kind.
class TSample : public fw::TComponent {
    Q_OBJECT
public:
    enum TMode { mdFirst, mdSecond, mdThird };
    Q_ENUM(TMode)
    enum TElement { elAlpha = 1, elBeta = 2, elGamma = 4, elAll = 7 };
    Q_DECLARE_FLAGS(TElements, TElement)
    Q_FLAG(TElements)

private:
    Q_PROPERTY(int Number MEMBER number)
    Q_PROPERTY(qint64 Big MEMBER big)
    Q_PROPERTY(QChar Letter MEMBER letter)
    Q_PROPERTY(TMode Mode MEMBER mode)
    Q_PROPERTY(bool Flag MEMBER flag)
    Q_PROPERTY(TElements Elements READ Elements WRITE SetElements)
    Q_PROPERTY(double Ratio MEMBER ratio)
    Q_PROPERTY(float Gain MEMBER gain)
    Q_PROPERTY(QString Caption MEMBER caption)
    Q_PROPERTY(QStringList Lines MEMBER lines)
    Q_PROPERTY(QVariant Extra MEMBER extra)
    Q_PROPERTY(QColor Colour MEMBER colour)
    Q_PROPERTY(int ReadOnly READ ReadOnly)
    Q_PROPERTY(ronvix::fw::TComponent* Link MEMBER link)
    Q_PROPERTY(ronvix::settings::TNested* Font READ Font)
    Q_PROPERTY(ronvix::settings::TStoredValues* Items READ Items)

public:
    explicit TSample(QObject* owner = nullptr, const QString& name = QStringLiteral("Sample"))
        : fw::TComponent(owner, name), font(new TNested(this)), items(new TStoredValues(this)) {}
    int ReadOnly() const { return 3; }
    TElements Elements() const { return elements; }
    void SetElements(TElements e) { elements = e; }
    TNested* Font() const { return font; }
    TStoredValues* Items() const { return items; }

    int number = 0;
    qint64 big = 0;
    QChar letter = u'a';
    TMode mode = mdFirst;
    bool flag = false;
    TElements elements;
    double ratio = 0;
    float gain = 0;
    QString caption;
    QStringList lines;
    QVariant extra;
    QColor colour = Qt::black;
    fw::TComponent* link = nullptr;
    TNested* font;
    TStoredValues* items;
};
Q_DECLARE_OPERATORS_FOR_FLAGS(TSample::TElements)

// A settings section in memory, keyed without regard to case like the file.
struct MemoryIni {
    QMap<QString, QString> values;  // "section|KEY" -> value
    QStringList erased;

    static QString Id(const QString& s, const QString& k) {
        return s.toUpper() + u'|' + k.toUpper();
    }
    void Attach(TPropsStorage& st) {
        st.OnReadString = [this](const QString& s, const QString& k, const QString& d) {
            return values.value(Id(s, k), d);
        };
        st.OnWriteString = [this](const QString& s, const QString& k, const QString& v) {
            values[Id(s, k)] = v;
        };
        st.OnEraseSection = [this](const QString& s) {
            erased.push_back(s);
            const QString p = s.toUpper() + u'|';
            for (auto it = values.begin(); it != values.end();)
                it = it.key().startsWith(p) ? values.erase(it) : std::next(it);
        };
    }
    QString Get(const QString& s, const QString& k) const { return values.value(Id(s, k)); }
    bool Has(const QString& s, const QString& k) const { return values.contains(Id(s, k)); }
};

class PropsTest : public ::testing::Test {
protected:
    PropsTest() {
        form.setObjectName(QStringLiteral("MainForm"));
        sample = new TSample(&form);
        ini.Attach(storage);
        storage.SetSection(QStringLiteral("TMainForm"));
    }
    void Store(const QStringList& paths) {
        TStoredPropList list;
        list.SetPaths(paths);
        ResolveStoredProps(&form, list, true);
        storage.StorePropertyList(&form, list);
    }
    void Load(const QStringList& paths) {
        TStoredPropList list;
        list.SetPaths(paths);
        ResolveStoredProps(&form, list, true);
        storage.LoadPropertyList(&form, list);
    }
    // Writes `text` under Sample_<prop> and loads that one property.
    void LoadText(const QString& prop, const QString& text) {
        ini.values[MemoryIni::Id(QStringLiteral("TMainForm"), QStringLiteral("Sample_") + prop)] =
            text;
        Load({QStringLiteral("Sample.") + prop});
    }
    QString Stored(const QString& prop) const {
        return ini.Get(QStringLiteral("TMainForm"), QStringLiteral("Sample_") + prop);
    }

    fw::TForm form;
    TSample* sample;
    MemoryIni ini;
    TPropsStorage storage;
};

TEST(PropertyRegistry, AliasesGiveControlsTheStoredNames) {
    QComboBox combo;
    combo.addItems({QStringLiteral("a"), QStringLiteral("b")});
    const TPropInfoList list(&combo);
    const TPropInfo* item_index = list.Find(QStringLiteral("itemindex"));
    ASSERT_NE(item_index, nullptr);
    EXPECT_EQ(item_index->name, QStringLiteral("ItemIndex"));
    EXPECT_EQ(item_index->kind, TPropKind::pkInteger);
    ASSERT_TRUE(item_index->Write(&combo, 1));
    EXPECT_EQ(combo.currentIndex(), 1);

    QCheckBox box;
    const TPropInfoList boxes(&box);
    const TPropInfo* checked = boxes.Find(QStringLiteral("checked"));
    ASSERT_NE(checked, nullptr);
    // The alias hides Qt's own lower-case name: one entry, spelled "Checked".
    EXPECT_EQ(checked->name, QStringLiteral("Checked"));
    EXPECT_EQ(checked->kind, TPropKind::pkEnumeration);
    EXPECT_EQ(boxes.Find(QStringLiteral("objectName")), nullptr);
    for (int i = 1; i < boxes.Count(); ++i)
        EXPECT_LT(CompareText(boxes.Item(i - 1).name, boxes.Item(i).name), 0);

    controls::TFilenameEdit edit;
    const TPropInfoList edits(&edit);
    ASSERT_NE(edits.Find(QStringLiteral("FileName")), nullptr);
    ASSERT_NE(edits.Find(QStringLiteral("Text")), nullptr);
}

TEST(StoredPaths, SplitTrimsAndRejectsMalformed) {
    QString c;
    QString p;
    ASSERT_TRUE(SplitStoredPath(QStringLiteral("  VideoFormats . ItemIndex "), &c, &p));
    EXPECT_EQ(c, QStringLiteral("VideoFormats"));
    EXPECT_EQ(p, QStringLiteral("ItemIndex"));
    ASSERT_TRUE(SplitStoredPath(QStringLiteral("Sample.Font.Size"), &c, &p));
    EXPECT_EQ(p, QStringLiteral("Font.Size"));
    for (const char* bad : {"NoDot", ".ItemIndex", "VideoFormats.", " . ", ""})
        EXPECT_FALSE(SplitStoredPath(QString::fromLatin1(bad), &c, &p)) << bad;
}

TEST_F(PropsTest, ResolutionDropsBadEntriesAndRewritesNames) {
    TStoredPropList list;
    list.SetPaths({QStringLiteral("sample.number"), QStringLiteral("Missing.Number"),
                   QStringLiteral("NoDot"), QStringLiteral(" Sample . Caption ")});
    ResolveStoredProps(&form, list, true);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Component(0), sample);
    EXPECT_EQ(list.Component(1), sample);

    sample->setObjectName(QStringLiteral("Renamed"));
    ResolveStoredProps(&form, list, false);
    EXPECT_EQ(list.Paths(),
              QStringList({QStringLiteral("Renamed.number"), QStringLiteral("Renamed.Caption")}));

    // A destroyed component leaves an unlinked entry, which goes.
    delete sample;
    ResolveStoredProps(&form, list, false);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(PropsTest, KeysUseComponentAndRegistrySpelling) {
    sample->number = 4;
    Store({QStringLiteral("SAMPLE.number"), QStringLiteral("Sample.NoSuchProperty")});
    ASSERT_EQ(ini.values.size(), 1);
    EXPECT_EQ(ini.values.firstKey(), QStringLiteral("TMAINFORM|SAMPLE_NUMBER"));
    EXPECT_EQ(Stored(QStringLiteral("Number")), QStringLiteral("4"));
}

TEST_F(PropsTest, WrittenTextOfEachKind) {
    sample->number = -17;
    sample->big = 9000000000LL;
    sample->letter = u'Z';
    sample->mode = TSample::mdThird;
    sample->flag = true;
    sample->elements = TSample::elGamma | TSample::elAlpha;
    sample->ratio = 1.5;
    sample->gain = 0.1f;
    sample->caption = QStringLiteral("  padded  ");
    sample->extra = 42;
    sample->colour = QColor(0x11, 0x22, 0x33);
    Store({QStringLiteral("Sample.Number"), QStringLiteral("Sample.Big"),
           QStringLiteral("Sample.Letter"), QStringLiteral("Sample.Mode"),
           QStringLiteral("Sample.Flag"), QStringLiteral("Sample.Elements"),
           QStringLiteral("Sample.Ratio"), QStringLiteral("Sample.Gain"),
           QStringLiteral("Sample.Caption"), QStringLiteral("Sample.Extra"),
           QStringLiteral("Sample.Colour")});
    EXPECT_EQ(Stored(QStringLiteral("Number")), QStringLiteral("-17"));
    EXPECT_EQ(Stored(QStringLiteral("Big")), QStringLiteral("9000000000"));
    EXPECT_EQ(Stored(QStringLiteral("Letter")), QStringLiteral("Z"));
    EXPECT_EQ(Stored(QStringLiteral("Mode")), QStringLiteral("mdThird"));
    EXPECT_EQ(Stored(QStringLiteral("Flag")), QStringLiteral("True"));
    EXPECT_EQ(Stored(QStringLiteral("Elements")), QStringLiteral("[elAlpha,elGamma]"));
    EXPECT_EQ(Stored(QStringLiteral("Ratio")), QStringLiteral("1.5"));
    EXPECT_EQ(Stored(QStringLiteral("Gain")), QStringLiteral("0.1"));
    EXPECT_EQ(Stored(QStringLiteral("Caption")), QStringLiteral("padded"));
    EXPECT_EQ(Stored(QStringLiteral("Extra")), QStringLiteral("42"));
    EXPECT_EQ(Stored(QStringLiteral("Colour")), QString::number(0x332211));

    sample->elements = {};
    sample->caption.clear();
    Store({QStringLiteral("Sample.Elements"), QStringLiteral("Sample.Caption")});
    EXPECT_EQ(Stored(QStringLiteral("Elements")), QStringLiteral("[]"));
    // An empty string is still written, so it can replace a stored one.
    EXPECT_TRUE(ini.Has(QStringLiteral("TMainForm"), QStringLiteral("Sample_Caption")));
}

TEST(FloatText, GeneralFormatWithPlatformExponent) {
    EXPECT_EQ(FloatText(1e20, 15), QStringLiteral("1E20"));
    EXPECT_EQ(FloatText(-1.5e-7, 15), QStringLiteral("-1.5E-7"));
    EXPECT_EQ(FloatText(0.1, 15), QStringLiteral("0.1"));
    EXPECT_EQ(FloatText(123456789.0, 7), QStringLiteral("1.234568E8"));
}

TEST_F(PropsTest, BooleansAndEnumerationsReadInAnyCase) {
    LoadText(QStringLiteral("Flag"), QStringLiteral("tRuE"));
    EXPECT_TRUE(sample->flag);
    LoadText(QStringLiteral("Flag"), QStringLiteral("yes"));
    EXPECT_TRUE(sample->flag);
    LoadText(QStringLiteral("Flag"), QStringLiteral("FALSE"));
    EXPECT_FALSE(sample->flag);

    LoadText(QStringLiteral("Mode"), QStringLiteral("MDSECOND"));
    EXPECT_EQ(sample->mode, TSample::mdSecond);
    LoadText(QStringLiteral("Mode"), QStringLiteral("mdFourth"));
    EXPECT_EQ(sample->mode, TSample::mdSecond);
}

TEST_F(PropsTest, SetsTakeExactlyTheKnownWords) {
    sample->elements = TSample::elBeta;
    LoadText(QStringLiteral("Elements"), QStringLiteral("[elAlpha, bogus,  ELGAMMA]"));
    EXPECT_EQ(sample->elements, TSample::elAlpha | TSample::elGamma);
    LoadText(QStringLiteral("Elements"), QStringLiteral("[]"));
    EXPECT_EQ(sample->elements, TSample::TElements());
}

TEST_F(PropsTest, NumbersFromTextThatIsNotANumber) {
    sample->number = 9;
    LoadText(QStringLiteral("Number"), QStringLiteral("abc"));
    EXPECT_EQ(sample->number, 0);
    LoadText(QStringLiteral("Number"), QStringLiteral("0x1F"));
    EXPECT_EQ(sample->number, 31);
    LoadText(QStringLiteral("Number"), QStringLiteral("99999999999"));
    EXPECT_EQ(sample->number, 0);

    sample->ratio = 2.5;
    LoadText(QStringLiteral("Ratio"), QStringLiteral("fast"));
    EXPECT_EQ(sample->ratio, 2.5);
    LoadText(QStringLiteral("Ratio"), QStringLiteral("1E20"));
    EXPECT_EQ(sample->ratio, 1e20);

    LoadText(QStringLiteral("Letter"), QString());
    EXPECT_EQ(sample->letter, QChar(u'a'));
}

TEST_F(PropsTest, AbsentKeysLeaveEveryPropertyUnchanged) {
    sample->number = 12;
    sample->mode = TSample::mdSecond;
    sample->caption = QStringLiteral("kept");
    sample->lines = {QStringLiteral("one")};
    sample->elements = TSample::elBeta;
    Load({QStringLiteral("Sample.Number"), QStringLiteral("Sample.Mode"),
          QStringLiteral("Sample.Caption"), QStringLiteral("Sample.Lines"),
          QStringLiteral("Sample.Elements")});
    EXPECT_EQ(sample->number, 12);
    EXPECT_EQ(sample->mode, TSample::mdSecond);
    EXPECT_EQ(sample->caption, QStringLiteral("kept"));
    EXPECT_EQ(sample->lines, QStringList({QStringLiteral("one")}));
    EXPECT_EQ(sample->elements, TSample::elBeta);
}

TEST_F(PropsTest, StringListsLiveInASubsection) {
    sample->lines = {QStringLiteral(" first "), QStringLiteral("second")};
    Store({QStringLiteral("Sample.Lines")});
    const QString sub = QStringLiteral("TMainForm.Sample_Lines");
    EXPECT_EQ(ini.Get(sub, QStringLiteral("Count")), QStringLiteral("2"));
    EXPECT_EQ(ini.Get(sub, QStringLiteral("Item0")), QStringLiteral(" first "));
    EXPECT_EQ(ini.Get(sub, QStringLiteral("Item1")), QStringLiteral("second"));

    sample->lines.clear();
    Load({QStringLiteral("Sample.Lines")});
    EXPECT_EQ(sample->lines, QStringList({QStringLiteral(" first "), QStringLiteral("second")}));

    // Storing a shorter list erases the old lines first.
    sample->lines = {QStringLiteral("only")};
    Store({QStringLiteral("Sample.Lines")});
    EXPECT_FALSE(ini.Has(sub, QStringLiteral("Item1")));

    // A count beyond reason is cut rather than read without end.
    ini.values[MemoryIni::Id(sub, QStringLiteral("Count"))] = QStringLiteral("2000000000");
    Load({QStringLiteral("Sample.Lines")});
    EXPECT_EQ(sample->lines.size(), TPropsStorage::kMaxSubsectionItems);
}

TEST_F(PropsTest, CollectionsAndNestedObjectsRoundTrip) {
    for (int i = 0; i < 3; ++i) {
        TStoredValue* v = sample->items->Add();
        v->SetName(QStringLiteral("v%1").arg(i));
        v->SetValue(i * 10);
    }
    sample->font->SetSize(14);
    Store({QStringLiteral("Sample.Items"), QStringLiteral("Sample.Font")});
    EXPECT_EQ(ini.Get(QStringLiteral("TMainForm"), QStringLiteral("Sample_Items.Count")),
              QStringLiteral("3"));
    EXPECT_EQ(ini.Get(QStringLiteral("TMainForm.Sample_Items"), QStringLiteral("Item2_Name")),
              QStringLiteral("v2"));
    EXPECT_EQ(ini.Get(QStringLiteral("TMainForm"), QStringLiteral("Sample_FontSize")),
              QStringLiteral("14"));

    // A second component takes the stored name and reads it all back.
    sample->setObjectName(QStringLiteral("Old"));
    TSample other(&form, QStringLiteral("Sample"));
    QSignalSpy changed(other.items, &TCollection::Changed);
    other.items->Add();
    changed.clear();
    Load({QStringLiteral("Sample.Items"), QStringLiteral("Sample.Font")});
    ASSERT_EQ(other.items->Count(), 3);
    EXPECT_EQ(other.items->Value(1)->Name(), QStringLiteral("v1"));
    EXPECT_EQ(other.items->Value(2)->Value().toString(), QStringLiteral("20"));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(other.font->Size(), 14);
}

TEST_F(PropsTest, ComponentReferences) {
    auto* target = new fw::TComponent(&form, QStringLiteral("Target"));
    sample->link = target;
    Store({QStringLiteral("Sample.Link")});
    EXPECT_EQ(Stored(QStringLiteral("Link")), QStringLiteral("Target"));

    fw::TForm elsewhere;
    elsewhere.setObjectName(QStringLiteral("OtherForm"));
    auto* remote = new fw::TComponent(&elsewhere, QStringLiteral("Remote"));
    sample->link = remote;
    Store({QStringLiteral("Sample.Link")});
    EXPECT_EQ(Stored(QStringLiteral("Link")), QStringLiteral("OtherForm.Remote"));
    sample->link = nullptr;
    Store({QStringLiteral("Sample.Link")});
    EXPECT_EQ(Stored(QStringLiteral("Link")), QStringLiteral("(null)"));

    LoadText(QStringLiteral("Link"), QStringLiteral(" otherform . remote "));
    EXPECT_EQ(sample->link, remote);
    LoadText(QStringLiteral("Link"), QStringLiteral("target"));
    EXPECT_EQ(sample->link, target);
    LoadText(QStringLiteral("Link"), QStringLiteral("NoSuchForm.Remote"));
    EXPECT_EQ(sample->link, target);
    LoadText(QStringLiteral("Link"), QStringLiteral("OtherForm.Nothing"));
    EXPECT_EQ(sample->link, nullptr);
    sample->link = target;
    LoadText(QStringLiteral("Link"), QStringLiteral("(NULL)"));
    EXPECT_EQ(sample->link, nullptr);
}

TEST_F(PropsTest, ARejectedValueDoesNotStopTheOthers) {
    auto* edit = new controls::TFilenameEdit(&form);
    edit->setObjectName(QStringLiteral("savedialog"));
    edit->SetText(QStringLiteral("c:\\capture.avi"));
    ini.values[MemoryIni::Id(QStringLiteral("TMainForm"), QStringLiteral("savedialog_FileName"))] =
        QStringLiteral("bad|name.avi");
    ini.values[MemoryIni::Id(QStringLiteral("TMainForm"), QStringLiteral("Sample_Number"))] =
        QStringLiteral("5");
    Load({QStringLiteral("savedialog.FileName"), QStringLiteral("Sample.Number")});
    EXPECT_EQ(edit->Text(), QStringLiteral("c:\\capture.avi"));
    EXPECT_EQ(sample->number, 5);
}

TEST_F(PropsTest, WriterFailureEndsTheSave) {
    int writes = 0;
    storage.OnWriteString = [&](const QString&, const QString&, const QString&) {
        if (++writes == 2)
            throw std::runtime_error("disk");
    };
    EXPECT_THROW(Store({QStringLiteral("Sample.Number"), QStringLiteral("Sample.Mode"),
                        QStringLiteral("Sample.Flag")}),
                 std::runtime_error);
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(storage.Form(), nullptr);
}

}  // namespace
}  // namespace ronvix::settings

#include "props_test.moc"
