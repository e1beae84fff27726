// Shared by the whole-program tests that need a desktop as users have one: an X server (Xvfb,
// no window manager) or weston's headless Wayland compositor, a private session bus with an
// unlocked Secret Service, and a stand-in tray host (tests/fixtures/stand_in_tray_host). Every
// wait is bounded; every process ends with its owner.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <xcb/xcb.h>

namespace norv::e2e {

inline bool waitUntil(const std::function<bool()>& done, int boundMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > boundMs) return false;
        QThread::msleep(20);
    }
    return true;
}

// A process that ends with its owner: terminated, then killed if it lingers.
class OwnedProcess : public QProcess {
public:
    ~OwnedProcess() override {
        if (state() == QProcess::NotRunning) return;
        terminate();
        if (!waitForFinished(3000)) {
            kill();
            waitForFinished(3000);
        }
    }
    // Reads standard output until a line holds `text`, within the bound.
    bool waitForOutput(const QByteArray& text, int boundMs) {
        return waitUntil(
            [&] {
                waitForReadyRead(50);
                output += readAllStandardOutput();
                return output.contains(text) || state() == QProcess::NotRunning;
            },
            boundMs) &&
               output.contains(text);
    }
    QByteArray output;
};

class DesktopSession {
public:
    // The private bus, its Secret Service and the folder of the session's sockets.
    DesktopSession() {
        runtime_ = dir_.filePath(QStringLiteral("run"));
        QDir().mkpath(runtime_);
        QFile::setPermissions(runtime_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        busAddress_ = QStringLiteral("unix:path=") + dir_.filePath(QStringLiteral("bus"));
        bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--nopidfile"),
                                                   QStringLiteral("--address=") + busAddress_});
        if (!waitUntil([&] { return QFile::exists(dir_.filePath(QStringLiteral("bus"))); }, 5000)) return;
        // As the test command's own session does: a fixed password makes and unlocks a keyring.
        QProcess keyring;
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir_.filePath(QStringLiteral("keyring")));
        keyring.setProcessEnvironment(env);
        // The daemon it leaves behind keeps what it inherits: no pipe of ours.
        keyring.setStandardOutputFile(QProcess::nullDevice());
        keyring.setStandardErrorFile(QProcess::nullDevice());
        keyring.start(QStringLiteral("gnome-keyring-daemon"), {QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
        keyring.write("norv-test\n");
        keyring.closeWriteChannel();
        ready_ = keyring.waitForFinished(10000) && keyring.exitCode() == 0;
    }

    // Xvfb on a display number of its own.
    bool startX() {
        x_.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                          QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                                          QStringLiteral("1600x1000x24")});
        if (!x_.waitForOutput("\n", 10000)) return false;
        display_ = QLatin1Char(':') + QString::fromLatin1(x_.output.trimmed());
        return true;
    }

    // weston's headless compositor, its socket named by the session.
    bool startWayland() {
        weston_.setProcessEnvironment(environment());
        socket_ = QStringLiteral("norv-wayland-0");
        weston_.setProcessChannelMode(QProcess::MergedChannels);
        weston_.start(QStringLiteral("weston"), {QStringLiteral("--backend=headless-backend.so"),
                                                 QStringLiteral("--socket=") + socket_, QStringLiteral("--no-config"),
                                                 QStringLiteral("--idle-time=0")});
        if (!weston_.waitForStarted(10000)) return false;
        // Waiting for its end is what updates the process's state.
        return waitUntil([&] { return QFile::exists(runtime_ + QLatin1Char('/') + socket_) || weston_.waitForFinished(50); },
                         10000) &&
               weston_.state() == QProcess::Running;
    }
    QByteArray compositorOutput() {
        return weston_.readAll() + weston_.errorString().toUtf8() + " exit " + QByteArray::number(weston_.exitCode());
    }

    bool startTrayHost() {
        tray_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Debian's own interpreter, which python3-dbus and python3-gi serve.
        tray_.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(NORV_FIXTURES_DIR "/stand_in_tray_host/stand_in_tray_host.py"), busAddress_});
        return tray_.waitForOutput("ready\n", 10000);
    }

    // One command to the tray host; its answer line (the host's own news lines are passed over).
    QByteArray tray(const QByteArray& command) {
        tray_.output.clear();
        tray_.write(command + '\n');
        QByteArray answer;
        waitUntil(
            [&] {
                tray_.waitForReadyRead(50);
                tray_.output += tray_.readAllStandardOutput();
                for (const QByteArray& line : tray_.output.split('\n'))
                    if (!line.isEmpty() && !line.startsWith("registered ") && tray_.output.contains(line + '\n'))
                        answer = line;
                return !answer.isEmpty() || tray_.state() == QProcess::NotRunning;
            },
            10000);
        return answer;
    }
    OwnedProcess& trayHost() { return tray_; }

    // What a program of the session runs with, over `base`.
    QProcessEnvironment environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const {
        base.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress_);
        base.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_);
        base.remove(QStringLiteral("DISPLAY"));
        base.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (!display_.isEmpty()) {
            base.insert(QStringLiteral("DISPLAY"), display_);
            base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        }
        if (!socket_.isEmpty()) {
            base.insert(QStringLiteral("WAYLAND_DISPLAY"), socket_);
            base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        }
        return base;
    }

    bool ready() const { return ready_; }
    QString display() const { return display_; }

    // As a window manager does when the user closes a window: WM_DELETE_WINDOW to the mapped
    // top-level windows of process `pid`. Returns how many were asked.
    int closeWindowsOf(qint64 pid) const {
        xcb_connection_t* c = xcb_connect(display_.toLatin1().constData(), nullptr);
        if (!c || xcb_connection_has_error(c)) {
            if (c) xcb_disconnect(c);
            return 0;
        }
        const auto atom = [c](const char* name) {
            std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
                xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr), &std::free);
            return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        };
        const xcb_atom_t protocols = atom("WM_PROTOCOLS"), deleteWindow = atom("WM_DELETE_WINDOW"),
                         wmPid = atom("_NET_WM_PID");
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        int asked = 0;
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), &std::free);
        const int count = tree ? xcb_query_tree_children_length(tree.get()) : 0;
        const xcb_window_t* children = tree ? xcb_query_tree_children(tree.get()) : nullptr;
        for (int i = 0; i < count; ++i) {
            std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr), &std::free);
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
            std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> owner(
                xcb_get_property_reply(c, xcb_get_property(c, 0, children[i], wmPid, XCB_ATOM_CARDINAL, 0, 1), nullptr),
                &std::free);
            if (!owner || xcb_get_property_value_length(owner.get()) != 4 ||
                *static_cast<const uint32_t*>(xcb_get_property_value(owner.get())) != uint32_t(pid))
                continue;
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = children[i];
            event.type = protocols;
            event.data.data32[0] = deleteWindow;
            event.data.data32[1] = XCB_CURRENT_TIME;
            xcb_send_event(c, 0, children[i], XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
            ++asked;
        }
        xcb_flush(c);
        xcb_disconnect(c);
        return asked;
    }

    // The _NET_STARTUP_ID of the top-level windows of process `pid`, mapped or not, joined by spaces.
    QByteArray startupIdsOf(qint64 pid) const {
        xcb_connection_t* c = xcb_connect(display_.toLatin1().constData(), nullptr);
        if (!c || xcb_connection_has_error(c)) {
            if (c) xcb_disconnect(c);
            return {};
        }
        const auto atom = [c](const char* name) {
            std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
                xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr), &std::free);
            return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        };
        const xcb_atom_t wmPid = atom("_NET_WM_PID"), startupId = atom("_NET_STARTUP_ID"), utf8 = atom("UTF8_STRING");
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        QByteArrayList ids;
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), &std::free);
        const int count = tree ? xcb_query_tree_children_length(tree.get()) : 0;
        const xcb_window_t* children = tree ? xcb_query_tree_children(tree.get()) : nullptr;
        for (int i = 0; i < count; ++i) {
            std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> owner(
                xcb_get_property_reply(c, xcb_get_property(c, 0, children[i], wmPid, XCB_ATOM_CARDINAL, 0, 1), nullptr),
                &std::free);
            if (!owner || xcb_get_property_value_length(owner.get()) != 4 ||
                *static_cast<const uint32_t*>(xcb_get_property_value(owner.get())) != uint32_t(pid))
                continue;
            std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> value(
                xcb_get_property_reply(c, xcb_get_property(c, 0, children[i], startupId, utf8, 0, 1100), nullptr),
                &std::free);
            if (value && xcb_get_property_value_length(value.get()) > 0)
                ids.append(QByteArray(static_cast<const char*>(xcb_get_property_value(value.get())),
                                      xcb_get_property_value_length(value.get())));
        }
        xcb_disconnect(c);
        return ids.join(' ');
    }

    // Listens on the root window for startup-notification messages, as a desktop's launch feedback does.
    class StartupInfoListener {
    public:
        explicit StartupInfoListener(const QString& display) : c_(xcb_connect(display.toLatin1().constData(), nullptr)) {
            if (xcb_connection_has_error(c_)) return;
            const auto atom = [this](const char* name) {
                std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
                    xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(std::strlen(name)), name), nullptr), &std::free);
                return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
            };
            begin_ = atom("_NET_STARTUP_INFO_BEGIN");
            more_ = atom("_NET_STARTUP_INFO");
            const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(c_, xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(c_);
        }
        ~StartupInfoListener() { xcb_disconnect(c_); }
        // The next whole message, within the bound.
        QByteArray waitForMessage(int boundMs) {
            QByteArray message;
            bool ended = false;
            waitUntil(
                [&] {
                    while (!ended && !xcb_connection_has_error(c_)) {
                        std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(c_), &std::free);
                        if (!event) break;
                        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) continue;
                        const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
                        if (m->format != 8 || (m->type != begin_ && m->type != more_)) continue;
                        if (m->type == begin_) message.clear();
                        const auto* data = reinterpret_cast<const char*>(m->data.data8);
                        const qsizetype length = qstrnlen(data, 20);
                        message.append(data, length);
                        ended = length < 20;
                    }
                    return ended;
                },
                boundMs);
            return ended ? message : QByteArray();
        }

    private:
        xcb_connection_t* c_;
        xcb_atom_t begin_ = XCB_ATOM_NONE, more_ = XCB_ATOM_NONE;
    };

private:
    QTemporaryDir dir_;
    QString runtime_;
    QString busAddress_;
    QString display_;
    QString socket_;
    bool ready_ = false;
    // Declared first, ended last: the keyring and the programs end with the bus.
    OwnedProcess bus_;
    OwnedProcess x_;
    OwnedProcess weston_;
    OwnedProcess tray_;
};

}  // namespace norv::e2e
