#pragma once

#include <QString>

#include <cstdint>

class SettingsStore;

// Sharing the clock on the network, kept in section "Remote". Off unless the user switched it on.
struct RemoteSettings
{
    static constexpr std::int32_t DefaultPort = 4680;
    static constexpr std::int32_t LowestPort = 1024;
    static constexpr std::int32_t HighestPort = 65535;

    static constexpr std::int32_t DefaultOscPort = 4681;
    // OSC's port when none is stored: never the HTTP port.
    static constexpr std::int32_t defaultOscPortBeside(std::int32_t httpPort)
    {
        return httpPort == DefaultOscPort ? DefaultOscPort + 1 : DefaultOscPort;
    }

    bool enabled = false;
    std::int32_t port = DefaultPort;
    // Empty until sharing is first switched on; then kept, so a printed QR code works the next day.
    QString viewerToken;
    QString controlToken;
    // OSC commands on UDP, off unless switched on. `oscAllow` is the text of the allow list as stored
    // (remote/oscallow.h), empty for this machine only.
    bool oscEnabled = false;
    std::int32_t oscPort = DefaultOscPort;
    QString oscAllow;

    friend bool operator==(const RemoteSettings &, const RemoteSettings &) = default;
};

// A token: 22 to 64 characters of A-Z, a-z, 0-9, "-" and "_" (base64url without padding).
bool isToken(const QString &text);
// 16 bytes (128 bits) from the system's random generator, as 22 characters of base64url.
QString newToken();

// Missing keys keep the defaults. Throws StoredValueError for a value it cannot use: "Enabled" or
// "OscEnabled" not a truth value, "Port" or "OscPort" outside 1024..65535, "OscPort" equal to "Port", a token
// that is neither empty nor of the form above, an "OscAllow" that is not a list of addresses.
RemoteSettings ReadRemoteSettings(const SettingsStore &store);
// The OSC keys are written only once they differ from their defaults (or are in the store already), so that
// the file of someone who never used OSC stays as it was.
void WriteRemoteSettings(SettingsStore &store, const RemoteSettings &settings);

// The settings file holds secrets once it holds a token: readable and writable by its owner only. Makes
// `path` so (creating it empty when missing, so that the first save already writes into a private file);
// the store's atomic replace keeps the mode of the file it replaces. Returns false when it could not.
bool keepOwnerOnly(const QString &path);
