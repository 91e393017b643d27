// The settings file as a user may have edited it: any bytes. Reading never fails and reading one value
// agrees with reading them all. Values of any text saved into a file the program wrote read back as
// written. A damaged file (an open quote swallowing what follows, a line that is no entry) is found and
// named before any save, which the store then refuses; in every other file the saved values read back,
// the removed keys are gone and every other value in the file stays as it was, or the store would commit a
// file that lost them.
#include "fuzzinput.h"
#include "platform/initext.h"

#include <QHash>

#include <algorithm>
#include <map>
#include <vector>

namespace {

QString show(QByteArrayView data)
{
    return QString::fromLatin1(data.toByteArray().toPercentEncoding(" =[]/"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    // The values a save writes: the program's own sections and keys, texts of any kind.
    static const char *const sections[] = {"Stages", "Font", "Sound", "Window"};
    static const char *const keys[] = {"Count", "Description1", "SoundFile2", "Name", "Enabled", "Left", "Bold"};
    std::vector<IniText::Value> values;
    const int count = input.byte() % 4;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t choice = input.byte();
        values.push_back({QLatin1String(sections[choice % 4]), QLatin1String(keys[(choice >> 2) % 7]),
                          input.utf8Until('\x01'), choice >= 0xE0});
    }
    const QByteArray file = input.rest(false).toUtf8();
    const QString shown = show(file);

    const QHash<QString, QString> before = IniText::parse(file);
    // Keys are looked up by their full name ("section/key"); a name may itself contain slashes.
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        FUZZ_CHECK(IniText::findValue(file, QString(), it.key()) == std::optional<QString>(it.value()),
                   it.key() + u' ' + shown);

    // The last of several writes and removals of one key counts.
    std::map<QString, std::optional<QString>> written;
    for (const IniText::Value &value : values)
        written[IniText::fullKey(value.section, value.key)] =
            value.removed ? std::nullopt : std::optional<QString>(value.text);
    const auto kept = std::count_if(written.cbegin(), written.cend(), [](const auto &entry) { return entry.second; });

    const auto readsBack = [&written](const QHash<QString, QString> &parsed) {
        return std::all_of(written.cbegin(), written.cend(), [&parsed](const auto &entry) {
            return entry.second ? parsed.contains(entry.first) && parsed.value(entry.first) == *entry.second
                                : !parsed.contains(entry.first);
        });
    };

    // A file of the program's own making, written afresh and then written over.
    const QByteArray own = IniText::patch(QByteArray(), values);
    FUZZ_CHECK(readsBack(IniText::parse(own)), show(own));
    FUZZ_CHECK(IniText::parse(own).size() == static_cast<qsizetype>(kept), show(own));
    const QByteArray ownAgain = IniText::patch(own, values);
    FUZZ_CHECK(readsBack(IniText::parse(ownAgain)), show(ownAgain));

    const QByteArray patched = IniText::patch(file, values);
    const QHash<QString, QString> after = IniText::parse(patched);
    if (IniText::firstProblem(file))
        return 0; // refused by the store, naming the line
    FUZZ_CHECK(readsBack(after), shown);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (written.count(it.key()) == 0)
            FUZZ_CHECK(after.contains(it.key()) && after.value(it.key()) == it.value(), it.key() + u' ' + shown);
    }
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        FUZZ_CHECK(before.contains(it.key()) || written.count(it.key()) != 0, it.key() + u' ' + show(patched));
    return 0;
}
