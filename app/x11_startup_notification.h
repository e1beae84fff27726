// X11 startup notification for a window brought back by a later launch: the launch's startup id
// goes on the window (_NET_STARTUP_ID), whose "_TIME<n>" the window manager uses to let the window
// take focus, and a "remove" message ends the desktop's launch feedback.
#pragma once

#include <QByteArray>
#include <QString>

class QWindow;

namespace norv {

// The "remove: ID=<id>" message, the id quoted as startup notification asks for values.
QByteArray startupRemoveMessage(const QString& startupId);

// Applies `startupId` to `window` on Qt's xcb platform; does nothing elsewhere, for an empty id
// or a window not yet created.
void applyX11StartupId(QWindow* window, const QString& startupId);

}  // namespace norv
