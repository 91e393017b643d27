#include "platform/x11desktop.h"

#include <QGuiApplication>
#include <QHash>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace {

constexpr xcb_window_t NoWindow = 0;
constexpr xcb_atom_t NoAtom = 0;

xcb_connection_t *connection()
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

struct Free
{
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, Free>;

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    // An atom lasts as long as the connection, which is Qt's for the whole run: one round trip to the
    // server for each name, not one each time the active window moves.
    static QHash<QByteArray, xcb_atom_t> known;
    if (const auto found = known.constFind(QByteArray(name)); found != known.cend())
        return *found;
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    if (!reply)
        return NoAtom;
    known.insert(QByteArray(name), reply->atom);
    return reply->atom;
}

xcb_window_t rootWindow(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

// A property of 32-bit items (atoms, windows); empty when it is missing or of another kind.
QList<std::uint32_t> items(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 4096), nullptr));
    if (!reply || reply->format != 32 || reply->type != type)
        return {};
    const auto *data = static_cast<const std::uint32_t *>(xcb_get_property_value(reply.get()));
    return QList<std::uint32_t>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

std::optional<QRect> rootGeometry(xcb_connection_t *c, xcb_window_t window)
{
    const Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry)
        return std::nullopt;
    const Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, geometry->root, 0, 0), nullptr));
    if (!origin)
        return std::nullopt;
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

} // namespace

void X11Desktop::markCompanion(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window || window->isVisible())
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skip[] = {atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    // The property itself, as the window is not mapped yet: Qt adds its own states to those it finds there
    // when it maps the window.
    QList<std::uint32_t> states = items(c, id, state, XCB_ATOM_ATOM);
    for (const xcb_atom_t wanted : skip) {
        if (!states.contains(wanted))
            states.append(wanted);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(states.size()), states.constData());
    xcb_flush(c);
}

void X11Desktop::setInputArea(QWindow *window, const QRect &area)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    const QRect native(area.topLeft() * window->devicePixelRatio(), area.size() * window->devicePixelRatio());
    const xcb_rectangle_t rectangle{static_cast<std::int16_t>(native.x()), static_cast<std::int16_t>(native.y()),
                                    static_cast<std::uint16_t>(native.width()),
                                    static_cast<std::uint16_t>(native.height())};
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         static_cast<xcb_window_t>(window->winId()), 0, 0, 1, &rectangle);
    xcb_flush(c);
}

std::optional<X11Desktop::FullScreenWindow> X11Desktop::activeFullScreenWindow(const QList<WId> &own, WId main)
{
    xcb_connection_t *c = connection();
    if (!c)
        return std::nullopt;
    const xcb_window_t root = rootWindow(c);
    const QList<std::uint32_t> active = items(c, root, atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (active.isEmpty() || active.front() == NoWindow || own.contains(active.front()))
        return std::nullopt;
    if (!items(c, active.front(), atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM)
             .contains(atom(c, "_NET_WM_STATE_FULLSCREEN")))
        return std::nullopt;
    const std::optional<QRect> geometry = rootGeometry(c, active.front());
    if (!geometry)
        return std::nullopt;
    // Bottom to top: is the main window above the full-screen one, as a desktop that honours keep-above
    // over full screen (GNOME's) stacks it?
    const QList<std::uint32_t> stacking = items(c, root, atom(c, "_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    const qsizetype at = stacking.indexOf(active.front());
    const qsizetype mainAt = stacking.indexOf(static_cast<std::uint32_t>(main));
    return FullScreenWindow{*geometry, at >= 0 && mainAt > at};
}

ActiveWindowWatch::ActiveWindowWatch(QObject *parent)
    : QObject(parent)
{}

ActiveWindowWatch::~ActiveWindowWatch()
{
    setWatching(false);
}

void ActiveWindowWatch::setWatching(bool on)
{
    xcb_connection_t *c = connection();
    if (on == watching_ || !c)
        return;
    watching_ = on;
    if (!on) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        follow(NoWindow);
        return;
    }
    root_ = rootWindow(c);
    activeAtom_ = atom(c, "_NET_ACTIVE_WINDOW");
    stackingAtom_ = atom(c, "_NET_CLIENT_LIST_STACKING");
    stateAtom_ = atom(c, "_NET_WM_STATE");
    // Qt listens to the root window too: add to its event mask, never replace it.
    const Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root_), nullptr));
    const std::uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &mask);
    QCoreApplication::instance()->installNativeEventFilter(this);
    const QList<std::uint32_t> active = items(c, root_, activeAtom_, XCB_ATOM_WINDOW);
    follow(active.isEmpty() ? NoWindow : active.front());
}

// Listens to the state and place of the active window while it is another program's: Kestrim's own
// windows have Qt's event mask, which must not be touched.
void ActiveWindowWatch::follow(std::uint32_t window)
{
    xcb_connection_t *c = connection();
    if (!c || window == followed_)
        return;
    bool own = false;
    for (const QWindow *mine : QGuiApplication::allWindows())
        own = own || (mine->handle() && mine->winId() == window);
    // Checked requests: a window that is already gone answers with an error here, not in Qt's log.
    const auto select = [c](xcb_window_t w, std::uint32_t mask) {
        std::free(xcb_request_check(c, xcb_change_window_attributes_checked(c, w, XCB_CW_EVENT_MASK, &mask)));
    };
    if (followed_ != NoWindow)
        select(followed_, XCB_EVENT_MASK_NO_EVENT);
    followed_ = own ? NoWindow : window;
    if (followed_ != NoWindow)
        select(followed_, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
}

bool ActiveWindowWatch::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & 0x7F) {
    case XCB_PROPERTY_NOTIFY: {
        const auto *property = static_cast<const xcb_property_notify_event_t *>(message);
        if (property->window == root_ && property->atom == activeAtom_) {
            const QList<std::uint32_t> active = items(connection(), root_, activeAtom_, XCB_ATOM_WINDOW);
            follow(active.isEmpty() ? NoWindow : active.front());
            emit changed();
        } else if ((property->window == root_ && property->atom == stackingAtom_) ||
                   (property->window == followed_ && property->atom == stateAtom_)) {
            emit changed();
        }
        break;
    }
    case XCB_CONFIGURE_NOTIFY:
        if (static_cast<const xcb_configure_notify_event_t *>(message)->window == followed_)
            emit changed();
        break;
    default:
        break;
    }
    return false;
}
