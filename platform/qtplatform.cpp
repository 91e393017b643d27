#include "platform/qtplatform.h"

#include <QGuiApplication>

std::optional<QByteArray> chooseQtPlatform(const DisplayEnvironment &environment)
{
    if (!environment.qtPlatform.isEmpty())
        return std::nullopt;
    if (!environment.waylandDisplay.isEmpty() && !environment.x11Display.isEmpty())
        // Wayland stays the fallback should the X11 server inside the session have gone.
        return QByteArrayLiteral("xcb;wayland");
    return std::nullopt;
}

DisplayEnvironment displayEnvironment()
{
    return {qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY")};
}

bool desktopReportsWindowPlacement()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
