#include "app/x11_startup_notification.h"

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace norv {

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The message, its terminating NUL included, in 20-byte client messages to the root window:
// the first typed _NET_STARTUP_INFO_BEGIN, the rest _NET_STARTUP_INFO.
void broadcast(xcb_connection_t* c, xcb_window_t root, xcb_window_t from, const QByteArray& message) {
    const xcb_atom_t begin = internAtom(c, "_NET_STARTUP_INFO_BEGIN"), more = internAtom(c, "_NET_STARTUP_INFO");
    if (begin == XCB_ATOM_NONE || more == XCB_ATOM_NONE) return;
    const qsizetype total = message.size() + 1;
    for (qsizetype offset = 0; offset < total; offset += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = from;
        event.type = offset == 0 ? begin : more;
        const qsizetype length = std::min<qsizetype>(20, message.size() - offset);
        if (length > 0) std::memcpy(event.data.data8, message.constData() + offset, size_t(length));
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char*>(&event));
    }
}

}  // namespace

QByteArray startupRemoveMessage(const QString& startupId) {
    QByteArray quoted;
    for (const char c : startupId.toLatin1()) {
        if (c == '"' || c == '\\' || c == ' ') quoted += '\\';
        quoted += c;
    }
    return "remove: ID=" + quoted;
}

void applyX11StartupId(QWindow* window, const QString& startupId) {
    if (startupId.isEmpty() || !window || !window->handle()) return;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t property = internAtom(c, "_NET_STARTUP_ID"), utf8 = internAtom(c, "UTF8_STRING");
    if (property == XCB_ATOM_NONE || utf8 == XCB_ATOM_NONE) return;
    const QByteArray value = startupId.toLatin1();
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, property, utf8, 8, uint32_t(value.size()), value.constData());
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    broadcast(c, root, id, startupRemoveMessage(startupId));
    xcb_flush(c);
}

}  // namespace norv
