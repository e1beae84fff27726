#pragma once
// The window's sidebar: column title, one row per section and the connection footer.

#include <QAbstractButton>
#include <QList>
#include <QString>
#include <QWidget>
#include <optional>

class QLabel;

namespace norv {

class SymbolLabel;

struct SidebarEntry {
    QString id;      // the section's raw value
    QString title;
    QString symbol;
};

// One section row: symbol and title on a flat fill, accent text when selected.
class SidebarRow : public QAbstractButton {
    Q_OBJECT
public:
    SidebarRow(const SidebarEntry& entry, QWidget* parent = nullptr);
    const SidebarEntry& entry() const { return entry_; }
    void setSelected(bool selected);
    bool isSelected() const { return selected_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SidebarEntry entry_;
    bool selected_ = false;
};

// Connection dot, state word in capitals and the connected-device count.
class SidebarStatus : public QWidget {
    Q_OBJECT
public:
    explicit SidebarStatus(QWidget* parent = nullptr);
    void setStatus(bool connected, const QString& stateWord, qint64 connectedDevices);

    QString stateText() const;
    QString deviceText() const;
    bool dotConnected() const { return connected_; }

    // "1 device", "0 devices", "2 devices".
    static QString deviceCountText(qint64 count);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* state_;
    QLabel* devices_;
    bool connected_ = false;
};

class Sidebar : public QWidget {
    Q_OBJECT
public:
    Sidebar(const QList<SidebarEntry>& entries, QWidget* parent = nullptr);

    void setSelected(const std::optional<QString>& id);
    QList<SidebarRow*> rows() const { return rows_; }
    SidebarStatus* status() const { return status_; }

Q_SIGNALS:
    void rowClicked(const QString& id);

private:
    QList<SidebarRow*> rows_;
    SidebarStatus* status_;
};

}  // namespace norv
