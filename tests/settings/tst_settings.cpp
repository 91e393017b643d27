#include "settings/clocksetting.h"
#include "settings/persistence.h"
#include "settings/textconv.h"
#include "support/fakes.h"

#include <QTest>

#include <bit>
#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(ClockSetting)

// Readable failures: QCOMPARE on two configurations shows where they differ.
char *toString(const ClockSetting &setting)
{
    QString text = QStringLiteral("Count %1, font \"%2\" %3/%4, sound %5")
                       .arg(setting.Count())
                       .arg(setting.Font.Name)
                       .arg(setting.Font.Bold)
                       .arg(setting.Font.Italic)
                       .arg(setting.SoundEnabled);
    for (std::size_t i = 0; i < std::min<std::size_t>(setting.Stages.size(), 8); ++i) {
        const StageSetting &s = setting.Stages[i];
        text += QStringLiteral("; %1 %2 %3 \"%4\" \"%5\"")
                    .arg(s.BackColor)
                    .arg(s.ForeColor)
                    .arg(s.Seconds)
                    .arg(s.SoundFile, s.Description);
    }
    return qstrdup(text.toUtf8().constData());
}

namespace {

const QString folder = QStringLiteral("/opt/kestrim");

// "Section/Key=Value" entries into a store of application "Kestrim".
void fill(MapStore &store, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const qsizetype slash = entry.indexOf(u'/');
        const qsizetype equals = entry.indexOf(u'=');
        store.set(entry.left(slash), entry.mid(slash + 1, equals - slash - 1), entry.mid(equals + 1));
    }
}

std::optional<QString> stored(const char *text)
{
    return QString::fromUtf8(text);
}

ClockSetting defaults()
{
    return DefaultClockSetting(folder);
}

ClockSetting withStages(ClockSetting setting, std::int32_t count)
{
    setting.Stages.resize(static_cast<std::size_t>(count));
    return setting;
}

} // namespace

class SettingsTest final : public QObject
{
    Q_OBJECT

private slots:
    void parseInt_data();
    void parseInt();
    void parseBool_data();
    void parseBool();
    void parseFloat_data();
    void parseFloat();
    void formatFloat_data();
    void formatFloat();
    void formatFloat_readsBackExactlyOverTheWholeRange();
    void formatFloat_wholeNumbersHaveNoPoint();

    void getFolder_data();
    void getFolder();

    void loadEmptyStore_givesDefaultsInProgramFolder_data();
    void loadEmptyStore_givesDefaultsInProgramFolder();
    void loadPartialStore_overlaysDefaults_data();
    void loadPartialStore_overlaysDefaults();
    void loadBadValue_failsNamingTheKey_data();
    void loadBadValue_failsNamingTheKey();
    void storedValueError_messageIsOneReadableLine();
    void saveThenLoad_reproducesEveryMember();
    void saveFewerStages_leavesHigherKeysInPlace();

    void getClockSetting_givesIndependentCopyWithExactBounds_data();
    void getClockSetting_givesIndependentCopyWithExactBounds();
    void setClockSetting_keepsNoLinkToSource();
};

void SettingsTest::parseInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("green") << "65280" << true << 65280;
    QTest::newRow("negative") << "-120" << true << -120;
    QTest::newRow("plus sign") << "+7" << true << 7;
    QTest::newRow("blanks around") << " \t42\t " << true << 42;
    QTest::newRow("leading zeros") << "0000000000000000000000007" << true << 7;
    QTest::newRow("largest") << "2147483647" << true << std::numeric_limits<int>::max();
    QTest::newRow("smallest") << "-2147483648" << true << std::numeric_limits<int>::min();
    QTest::newRow("one past largest") << "2147483648" << false << 0;
    QTest::newRow("one past smallest") << "-2147483649" << false << 0;
    QTest::newRow("huge") << "99999999999999999999999999" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks only") << " \t " << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("two signs") << "--1" << false << 0;
    QTest::newRow("blank after sign") << "- 1" << false << 0;
    QTest::newRow("inner blank") << "1 2" << false << 0;
    QTest::newRow("trailing letters") << "12abc" << false << 0;
    QTest::newRow("hex") << "0x10" << false << 0;
    QTest::newRow("exponent") << "1e3" << false << 0;
    QTest::newRow("fraction") << "1.0" << false << 0;
    QTest::newRow("line break") << "1\n" << false << 0;
    QTest::newRow("arabic-indic digit") << QStringLiteral("\u0661") << false << 0;
    QTest::newRow("full-width digit") << QStringLiteral("\uFF11") << false << 0;
}

void SettingsTest::parseInt()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);

    const std::optional<std::int32_t> parsed = StoredText::parseInt(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(*parsed, value);
        QCOMPARE(StoredText::parseInt(StoredText::formatInt(value)), std::optional<std::int32_t>(value));
    }
}

void SettingsTest::parseBool_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("value");

    QTest::newRow("True") << "True" << true << true;
    QTest::newRow("False") << "False" << true << false;
    QTest::newRow("upper case") << "FALSE" << true << false;
    QTest::newRow("mixed case") << "tRuE" << true << true;
    QTest::newRow("blanks around") << " \ttrue " << true << true;
    QTest::newRow("minus one") << "-1" << true << true;
    QTest::newRow("zero") << "0" << true << false;
    QTest::newRow("other number") << "2" << true << true;
    QTest::newRow("yes") << "yes" << false << false;
    QTest::newRow("prefix") << "t" << false << false;
    QTest::newRow("longer word") << "truee" << false << false;
    QTest::newRow("fraction") << "1.0" << false << false;
    QTest::newRow("empty") << "" << false << false;
}

void SettingsTest::parseBool()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(bool, value);

    const std::optional<bool> parsed = StoredText::parseBool(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(*parsed, value);
        QCOMPARE(StoredText::parseBool(StoredText::formatBool(value)), std::optional<bool>(value));
    }
}

void SettingsTest::parseFloat_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<float>("value");

    const float largest = std::numeric_limits<float>::max();
    QTest::newRow("whole") << "7485" << true << 7485.0f;
    QTest::newRow("negative") << "-120" << true << -120.0f;
    QTest::newRow("fraction") << "0.5" << true << 0.5f;
    QTest::newRow("no integer part") << ".25" << true << 0.25f;
    QTest::newRow("no fraction digits") << "5." << true << 5.0f;
    QTest::newRow("exponent with sign") << "+1.5e+3" << true << 1500.0f;
    QTest::newRow("capital exponent") << "1E-3" << true << 0.001f;
    QTest::newRow("blanks around") << " 2.5\t" << true << 2.5f;
    QTest::newRow("largest float") << "3.4028235e38" << true << largest;
    QTest::newRow("below smallest float") << "1e-50" << true << 0.0f;
    QTest::newRow("far below, long exponent") << "-1e-99999999999999999999" << true << -0.0f;
    QTest::newRow("zero, long exponent") << "0e99999999999999999999" << true << 0.0f;
    QTest::newRow("above largest") << "1e39" << false << 0.0f;
    QTest::newRow("far above, long exponent") << "-1e99999999999999999999" << false << 0.0f;
    QTest::newRow("many digits above largest") << QString(50, u'9') << false << 0.0f;
    QTest::newRow("infinity") << "inf" << false << 0.0f;
    QTest::newRow("not a number") << "nan" << false << 0.0f;
    QTest::newRow("decimal comma") << "1,5" << false << 0.0f;
    QTest::newRow("hex float") << "0x1p3" << false << 0.0f;
    QTest::newRow("point only") << "." << false << 0.0f;
    QTest::newRow("exponent only") << "e5" << false << 0.0f;
    QTest::newRow("exponent without digits") << "1e+" << false << 0.0f;
    QTest::newRow("inner blank") << "1 000" << false << 0.0f;
    QTest::newRow("empty") << "" << false << 0.0f;
}

void SettingsTest::parseFloat()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(float, value);

    const std::optional<float> parsed = StoredText::parseFloat(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        // Bit for bit, so that the sign of a zero counts too.
        QCOMPARE(std::bit_cast<std::uint32_t>(*parsed), std::bit_cast<std::uint32_t>(value));
    }
}

void SettingsTest::formatFloat_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");

    const float largest = std::numeric_limits<float>::max();
    QTest::newRow("whole") << 7485.0f << "7485";
    QTest::newRow("negative whole") << -120.0f << "-120";
    QTest::newRow("half") << 0.5f << "0.5";
    QTest::newRow("a tenth") << 0.1f << "0.1";
    QTest::newRow("a third") << 1.0f / 3 << "0.33333334";
    QTest::newRow("exponent only when shorter") << 1e20f << "1e+20";
    QTest::newRow("2^24") << 16777216.0f << "16777216";
    QTest::newRow("largest") << largest << "3.4028235e+38";
    QTest::newRow("not a number reads as zero") << std::numeric_limits<float>::quiet_NaN() << "0";
    QTest::newRow("infinity reads as largest") << std::numeric_limits<float>::infinity() << "3.4028235e+38";
    QTest::newRow("minus infinity") << -std::numeric_limits<float>::infinity() << "-3.4028235e+38";
}

void SettingsTest::formatFloat()
{
    QFETCH(float, value);
    QFETCH(QString, text);

    QCOMPARE(StoredText::formatFloat(value), text);
    QVERIFY(StoredText::parseFloat(text).has_value());
}

void SettingsTest::formatFloat_readsBackExactlyOverTheWholeRange()
{
    // Every exponent and sign, with mantissas spread across each binade, subnormals included.
    int checked = 0;
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 65521) {
        const float value = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        if (!std::isfinite(value)) {
            continue;
        }
        const QString text = StoredText::formatFloat(value);
        const std::optional<float> back = StoredText::parseFloat(text);
        QVERIFY2(back && std::bit_cast<std::uint32_t>(*back) == bits, qPrintable(text));
        ++checked;
    }
    QVERIFY(checked > 60000);
}

void SettingsTest::formatFloat_wholeNumbersHaveNoPoint()
{
    // Positions and sizes in twips are whole numbers; they must not grow a ".0" or lose digits.
    for (int whole = -300000; whole <= 300000; whole += 37) {
        const QString text = StoredText::formatFloat(static_cast<float>(whole));
        QVERIFY2(!text.contains(u'.'), qPrintable(text));
        QVERIFY2(text.size() <= QString::number(whole).size(), qPrintable(text));
        QCOMPARE(StoredText::parseFloat(text), std::optional<float>(static_cast<float>(whole)));
    }
}

void SettingsTest::getFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");

    QTest::newRow("nested") << "/a/b/c.wav"
                            << "/a/b";
    QTest::newRow("in root") << "/c.wav"
                             << "";
    QTest::newRow("bare name") << "c.wav"
                               << "";
    QTest::newRow("trailing separator") << "/a/b/"
                                        << "/a/b";
    QTest::newRow("relative") << "a/b.wav"
                              << "a";
    QTest::newRow("doubled separator") << "/a//b.wav"
                                       << "/a/";
    QTest::newRow("empty") << ""
                           << "";
}

void SettingsTest::getFolder()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);

    QCOMPARE(GetFolder(path), folder);
}

void SettingsTest::loadEmptyStore_givesDefaultsInProgramFolder_data()
{
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QString>("sound1");
    QTest::addColumn<QString>("sound3");

    QTest::newRow("installed") << "/opt/kestrim"
                               << "/opt/kestrim/Sound1.wav"
                               << "/opt/kestrim/Sound3.wav";
    QTest::newRow("moved") << "/home/ann/bin"
                           << "/home/ann/bin/Sound1.wav"
                           << "/home/ann/bin/Sound3.wav";
    QTest::newRow("trailing separator kept") << "/opt/kestrim/"
                                             << "/opt/kestrim//Sound1.wav"
                                             << "/opt/kestrim//Sound3.wav";
}

void SettingsTest::loadEmptyStore_givesDefaultsInProgramFolder()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, sound1);
    QFETCH(QString, sound3);

    MapStore store;
    // Loading replaces everything the target held before.
    ClockSetting loaded = withStages(defaults(), 9);
    loaded.Font = {QStringLiteral("Courier"), true, true};
    loaded.SoundEnabled = false;
    LoadClockSetting(loaded, store, programFolder);

    QCOMPARE(loaded, DefaultClockSetting(programFolder));
    QCOMPARE(loaded.Count(), 4);
    QCOMPARE(loaded.stage(1).Description, QStringLiteral("Presentation"));
    QCOMPARE(loaded.stage(1).ForeColor, 0xFF00);
    QCOMPARE(loaded.stage(4).BackColor, 0xFF);
    QCOMPARE(loaded.stage(1).SoundFile, sound1);
    QCOMPARE(loaded.stage(3).SoundFile, sound3);
    QCOMPARE(loaded.stage(4).SoundFile, sound3);
    QCOMPARE(loaded.Font, (FontSetting{QStringLiteral("Arial"), false, false}));
    QVERIFY(loaded.SoundEnabled);
    QCOMPARE(store.writes, 0);
}

void SettingsTest::loadPartialStore_overlaysDefaults_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<ClockSetting>("expected");

    QTest::newRow("count 2 drops the last two") << QStringList{"Stages/Count=2"} << withStages(defaults(), 2);

    const ClockSetting six = withStages(defaults(), 6);
    QTest::newRow("count 6 adds empty stages") << QStringList{"Stages/Count=6"} << six;

    ClockSetting questions = six;
    questions.stage(5).Description = QStringLiteral("Questions");
    QTest::newRow("count 6 with Description5")
        << QStringList{"Stages/Count=6", "Stages/Description5=Questions"} << questions;

    ClockSetting longer = defaults();
    longer.stage(3).Seconds = 600;
    QTest::newRow("only Seconds3") << QStringList{"Stages/Seconds3=600"} << longer;

    QTest::newRow("stray stage 7 ignored") << QStringList{"Stages/Count=4", "Stages/BackColor7=255"} << defaults();
    QTest::newRow("count 1 ignores stage 2")
        << QStringList{"Stages/Count= 1 ", "Stages/Description2=Gone"} << withStages(defaults(), 1);

    ClockSetting styled = defaults();
    styled.Font = {QStringLiteral("DejaVu Sans Mono"), true, true};
    styled.SoundEnabled = false;
    QTest::newRow("font and sound") << QStringList{"Font/Name=DejaVu Sans Mono", "Font/Bold=true", "Font/Italic=-1",
                                                   "Sound/Enabled=0"}
                                    << styled;

    ClockSetting edited = defaults();
    edited.stage(1).BackColor = 255;
    edited.stage(1).ForeColor = -1;
    edited.stage(2).SoundFile = QStringLiteral(" C:\\Talks\\bell, loud.wav ");
    edited.stage(2).Description = QString();
    QTest::newRow("numbers with blanks, texts verbatim")
        << QStringList{"Stages/BackColor1= +255\t", "Stages/ForeColor1=-1",
                       "Stages/SoundFile2= C:\\Talks\\bell, loud.wav ", "Stages/Description2="}
        << edited;

    QTest::newRow("largest count") << QStringList{"Stages/Count=32767"} << withStages(defaults(), MaxStageCount);
}

void SettingsTest::loadPartialStore_overlaysDefaults()
{
    QFETCH(QStringList, entries);
    QFETCH(ClockSetting, expected);

    MapStore store;
    fill(store, entries);
    ClockSetting loaded;
    LoadClockSetting(loaded, store, folder);
    QCOMPARE(loaded, expected);
    QCOMPARE(store.writes, 0);
}

void SettingsTest::loadBadValue_failsNamingTheKey_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const QString count = QStringLiteral("a whole number from 1 to 32767");
    const QString whole = QStringLiteral("a whole number from -2147483648 to 2147483647");
    const QString boolean = QStringLiteral("True, False or a whole number");

    QTest::newRow("count not a number") << QStringList{"Stages/Count=abc"} << "Stages"
                                        << "Count"
                                        << "abc" << count;
    QTest::newRow("count 0") << QStringList{"Stages/Count=0"} << "Stages"
                             << "Count"
                             << "0" << count;
    QTest::newRow("count -1") << QStringList{"Stages/Count=-1"} << "Stages"
                              << "Count"
                              << "-1" << count;
    QTest::newRow("count 32768") << QStringList{"Stages/Count=32768"} << "Stages"
                                 << "Count"
                                 << "32768" << count;
    QTest::newRow("count huge") << QStringList{"Stages/Count=99999999999"} << "Stages"
                                << "Count"
                                << "99999999999" << count;
    QTest::newRow("count empty") << QStringList{"Stages/Count="} << "Stages"
                                 << "Count"
                                 << "" << count;
    QTest::newRow("back colour letters") << QStringList{"Stages/BackColor1=12abc"} << "Stages"
                                         << "BackColor1"
                                         << "12abc" << whole;
    QTest::newRow("fore colour hex") << QStringList{"Stages/ForeColor2=0x10"} << "Stages"
                                     << "ForeColor2"
                                     << "0x10" << whole;
    QTest::newRow("seconds empty") << QStringList{"Stages/Seconds4="} << "Stages"
                                   << "Seconds4"
                                   << "" << whole;
    QTest::newRow("seconds past range") << QStringList{"Stages/Seconds3=2147483648"} << "Stages"
                                        << "Seconds3"
                                        << "2147483648" << whole;
    QTest::newRow("added stage") << QStringList{"Stages/Count=5", "Stages/Seconds5=1e3"} << "Stages"
                                 << "Seconds5"
                                 << "1e3" << whole;
    QTest::newRow("bold word") << QStringList{"Font/Bold=yes"} << "Font"
                               << "Bold"
                               << "yes" << boolean;
    QTest::newRow("italic empty") << QStringList{"Font/Italic="} << "Font"
                                  << "Italic"
                                  << "" << boolean;
    QTest::newRow("sound fraction") << QStringList{"Sound/Enabled=1.5"} << "Sound"
                                    << "Enabled"
                                    << "1.5" << boolean;
}

void SettingsTest::loadBadValue_failsNamingTheKey()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(QString, expected);

    MapStore store;
    fill(store, entries);
    ClockSetting loaded;
    try {
        LoadClockSetting(loaded, store, folder);
        QFAIL("the bad value was accepted");
    } catch (const StoredValueError &error) {
        QCOMPARE(error.location(), store.location());
        QCOMPARE(error.section(), section);
        QCOMPARE(error.key(), key);
        QCOMPARE(error.text(), text);
        QCOMPARE(error.expected(), expected);
        const QString message = error.message();
        QCOMPARE(
            message,
            QStringLiteral("%1: [%2] %3 = \"%4\": expected %5").arg(store.location(), section, key, text, expected));
        QCOMPARE(QString::fromUtf8(error.what()), message);
    }
    QCOMPARE(store.writes, 0);
}

void SettingsTest::storedValueError_messageIsOneReadableLine()
{
    const StoredValueError plain(QStringLiteral("Kestrim.conf"), QStringLiteral("Stages"), QStringLiteral("Count"),
                                 QStringLiteral("abc"), QStringLiteral("a whole number from 1 to 32767"));
    QCOMPARE(plain.message(), QStringLiteral("Kestrim.conf: [Stages] Count = \"abc\": expected a whole number "
                                             "from 1 to 32767"));

    // Control characters are shown, not obeyed, and a runaway value does not flood the message box.
    const QString pasted = QStringLiteral("1\n2\t\x01") + QString(5000, u'9');
    const StoredValueError odd(QStringLiteral("Kestrim.conf"), QStringLiteral("Font"), QStringLiteral("Bold"), pasted,
                               QStringLiteral("True, False or a whole number"));
    const QString message = odd.message();
    QVERIFY2(message.startsWith(QStringLiteral("Kestrim.conf: [Font] Bold = \"1\\n2\\t\\x0199")), qPrintable(message));
    QVERIFY(!message.contains(u'\n') && !message.contains(u'\t') && !message.contains(QChar(1)));
    QVERIFY(message.size() < 400);
    QVERIFY(message.contains(QStringLiteral("5005 characters")));
    QVERIFY(message.endsWith(QStringLiteral("expected True, False or a whole number")));
    QCOMPARE(odd.text(), pasted);
}

void SettingsTest::saveThenLoad_reproducesEveryMember()
{
    ClockSetting original = withStages(defaults(), 6);
    original.stage(1).BackColor = std::numeric_limits<std::int32_t>::min();
    original.stage(2).ForeColor = std::numeric_limits<std::int32_t>::max();
    original.stage(3).Seconds = -5;
    original.stage(5) = {0x123456, 0x654321, 3600, QStringLiteral("/home/ann/Bells, \"old\"/ding #1.wav"),
                         QStringLiteral("  Q & A = fun; \\o/  ")};
    original.stage(6).Description = QStringLiteral("Diskussion über Fragen");
    original.Font = {QStringLiteral("Noto Sans"), true, false};
    original.SoundEnabled = false;

    MapStore store;
    SaveClockSetting(original, store);
    QCOMPARE(store.reads, 0);
    QCOMPARE(store.get(QStringLiteral("Stages"), QStringLiteral("Count")), stored("6"));
    QCOMPARE(store.get(QStringLiteral("Stages"), QStringLiteral("BackColor1")), stored("-2147483648"));
    QCOMPARE(store.get(QStringLiteral("Stages"), QStringLiteral("ForeColor4")), stored("0"));
    QCOMPARE(store.get(QStringLiteral("Sound"), QStringLiteral("Enabled")), stored("False"));
    QCOMPARE(store.get(QStringLiteral("Font"), QStringLiteral("Bold")), stored("True"));
    QCOMPARE(store.get(QStringLiteral("Stages"), QStringLiteral("Description5")), original.stage(5).Description);

    ClockSetting loaded;
    LoadClockSetting(loaded, store, QStringLiteral("/somewhere/else"));
    QCOMPARE(loaded, original);
}

void SettingsTest::saveFewerStages_leavesHigherKeysInPlace()
{
    MapStore store;
    fill(store, {"Stages/Count=6", "Stages/Description5=Questions", "Stages/Seconds6=90", "Stages/BackColor7=255"});
    ClockSetting loaded;
    LoadClockSetting(loaded, store, folder);
    QCOMPARE(loaded.Count(), 6);

    SaveClockSetting(withStages(loaded, 4), store);
    QCOMPARE(store.get(QStringLiteral("Stages"), QStringLiteral("Count")), stored("4"));
    QCOMPARE(store.get(QStringLiteral("Stages"), QStringLiteral("Description5")), stored("Questions"));
    QCOMPARE(store.get(QStringLiteral("Stages"), QStringLiteral("Seconds6")), stored("90"));
    QCOMPARE(store.get(QStringLiteral("Stages"), QStringLiteral("BackColor7")), stored("255"));
    QVERIFY(!store.get(QStringLiteral("Stages"), QStringLiteral("Seconds5")).has_value());

    ClockSetting reloaded;
    LoadClockSetting(reloaded, store, folder);
    QCOMPARE(reloaded, withStages(loaded, 4));
}

void SettingsTest::getClockSetting_givesIndependentCopyWithExactBounds_data()
{
    QTest::addColumn<int>("destinationStages");
    QTest::newRow("empty") << 0;
    QTest::newRow("fewer") << 1;
    QTest::newRow("same") << 6;
    QTest::newRow("more") << 40;
}

void SettingsTest::getClockSetting_givesIndependentCopyWithExactBounds()
{
    QFETCH(int, destinationStages);

    const ClockSetting current = withStages(defaults(), 6);
    SettingsModel model(current);
    ClockSetting copy = withStages(ClockSetting{}, destinationStages);
    model.GetClockSetting(copy);
    QCOMPARE(copy.Count(), 6);
    QCOMPARE(copy, current);

    copy.stage(1).Description[0] = u'X';
    copy.stage(2).SoundFile.append(QStringLiteral(".bak"));
    copy.stage(3).ForeColor = 7;
    copy.Font.Name[0] = u'Z';
    copy.Stages.pop_back();
    QCOMPARE(model.CurrentSetting(), current);
}

void SettingsTest::setClockSetting_keepsNoLinkToSource()
{
    SettingsModel model(defaults());
    ClockSetting edited = withStages(defaults(), 5);
    edited.stage(5).Description = QStringLiteral("Questions");
    model.SetClockSetting(edited);
    const ClockSetting applied = edited;

    edited.stage(5).Description[0] = u'q';
    edited.stage(1).Seconds = 1;
    edited.Stages.resize(2);
    QCOMPARE(model.CurrentSetting(), applied);
    QCOMPARE(model.CurrentSetting().Count(), 5);
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
