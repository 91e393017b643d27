#include "remote/remotesettings.h"

#include "platform/platform.h"
#include "platform/settingsstore.h"
#include "remote/oscallow.h"
#include "settings/persistence.h"
#include "settings/textconv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <array>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Section = QStringLiteral("Remote");
constexpr qsizetype ShortestToken = 22;
constexpr qsizetype LongestToken = 64;
constexpr std::size_t TokenBytes = 16;

QString readToken(const StoredValueReader &reader, const QString &key, const SettingsStore &store)
{
    const QString text = reader.text(Section, key, QString());
    if (!text.isEmpty() && !isToken(text)) {
        throw StoredValueError(store.location(), Section, key, text,
                               QStringLiteral("22 to 64 characters of A-Z, a-z, 0-9, \"-\" and \"_\""));
    }
    return text;
}

void writeUnlessUntouched(SettingsStore &store, const QString &key, const QString &value, const QString &untouched)
{
    if (value != untouched || !store.read(applicationTitle(), Section, key, QString()).isEmpty()) {
        store.write(applicationTitle(), Section, key, value);
    }
}

} // namespace

bool isToken(const QString &text)
{
    if (text.size() < ShortestToken || text.size() > LongestToken) {
        return false;
    }
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-' ||
               u == u'_';
    });
}

QString newToken()
{
    std::array<quint32, TokenBytes / sizeof(quint32)> words = {};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char *>(words.data()), TokenBytes);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

RemoteSettings ReadRemoteSettings(const SettingsStore &store)
{
    const StoredValueReader reader(store);
    RemoteSettings settings;
    settings.enabled = reader.boolean(Section, QStringLiteral("Enabled"), settings.enabled);
    settings.port = reader.integer(Section, QStringLiteral("Port"), settings.port, RemoteSettings::LowestPort,
                                   RemoteSettings::HighestPort);
    settings.viewerToken = readToken(reader, QStringLiteral("ViewerToken"), store);
    settings.controlToken = readToken(reader, QStringLiteral("ControlToken"), store);
    settings.oscEnabled = reader.boolean(Section, QStringLiteral("OscEnabled"), settings.oscEnabled);
    const QString oscPortKey = QStringLiteral("OscPort");
    // A store from before OSC whose HTTP port is OSC's default still starts: OSC's default moves aside.
    const std::int32_t oscDefault = RemoteSettings::defaultOscPortBeside(settings.port);
    settings.oscPort =
        reader.integer(Section, oscPortKey, oscDefault, RemoteSettings::LowestPort, RemoteSettings::HighestPort);
    if (settings.oscPort == settings.port) {
        throw StoredValueError(store.location(), Section, oscPortKey, reader.text(Section, oscPortKey, QString()),
                               QStringLiteral("a whole number from %1 to %2 other than Port (%3)")
                                   .arg(RemoteSettings::LowestPort)
                                   .arg(RemoteSettings::HighestPort)
                                   .arg(settings.port));
    }
    const QString allowKey = QStringLiteral("OscAllow");
    settings.oscAllow = reader.text(Section, allowKey, settings.oscAllow);
    if (QString why; !parseOscAllow(settings.oscAllow, &why)) {
        throw StoredValueError(store.location(), Section, allowKey, settings.oscAllow,
                               QStringLiteral("IPv4 or IPv6 addresses, each with an optional /bits, separated by "
                                              "commas (%1)")
                                   .arg(why));
    }
    return settings;
}

void WriteRemoteSettings(SettingsStore &store, const RemoteSettings &settings)
{
    const QString app = applicationTitle();
    store.write(app, Section, QStringLiteral("Enabled"), StoredText::formatBool(settings.enabled));
    store.write(app, Section, QStringLiteral("Port"), StoredText::formatInt(settings.port));
    store.write(app, Section, QStringLiteral("ViewerToken"), settings.viewerToken);
    store.write(app, Section, QStringLiteral("ControlToken"), settings.controlToken);
    const RemoteSettings defaults;
    writeUnlessUntouched(store, QStringLiteral("OscEnabled"), StoredText::formatBool(settings.oscEnabled),
                         StoredText::formatBool(defaults.oscEnabled));
    writeUnlessUntouched(store, QStringLiteral("OscPort"), StoredText::formatInt(settings.oscPort),
                         StoredText::formatInt(RemoteSettings::defaultOscPortBeside(settings.port)));
    writeUnlessUntouched(store, QStringLiteral("OscAllow"), settings.oscAllow, defaults.oscAllow);
}

bool keepOwnerOnly(const QString &path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    const QByteArray name = QFile::encodeName(path);
    // O_NOFOLLOW is not wanted: a settings file kept as a link elsewhere is the user's choice, and it is the
    // file itself that must be private.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        return false;
    }
    struct stat status = {};
    const bool done = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return done;
}
