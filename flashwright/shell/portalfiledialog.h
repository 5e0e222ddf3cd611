#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusArgument;
class QUrl;

// The XDG desktop portal's file chooser. Offered only when the portal runs on
// the session bus and the program is not inside a Flatpak or Snap sandbox.
class PortalFileDialog : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAvailable READ isAvailable CONSTANT)

public:
    // One condition of a filter, (us) on the bus.
    struct FilterCondition
    {
        uint kind = 0; // 0 = glob pattern, 1 = MIME type
        QString pattern;
    };
    using FilterConditionList = QList<FilterCondition>;

    // A named filter, (sa(us)) on the bus.
    struct Filter
    {
        QString name;
        FilterConditionList conditions;
    };
    using FilterList = QList<Filter>;

    PortalFileDialog(QObject *parent, quint64 parentWindowId);

    [[nodiscard]] bool isAvailable() const { return m_isAvailable; }

    // Registers the four filter types with Qt's D-Bus type system.
    static void registerDBusTypes();

public Q_SLOTS:
    // Asks the portal to show the chooser; returns at once. Every answer
    // arrives on its own request object and emits fileSelected once.
    void open();

Q_SIGNALS:
    void fileSelected(const QUrl &fileName);

private Q_SLOTS:
    void gotResponse(uint response, const QVariantMap &results);

private:
    quint64 m_parentWindowId;
    bool m_isAvailable = false;
};

Q_DECLARE_METATYPE(PortalFileDialog::FilterCondition)
Q_DECLARE_METATYPE(PortalFileDialog::FilterConditionList)
Q_DECLARE_METATYPE(PortalFileDialog::Filter)
Q_DECLARE_METATYPE(PortalFileDialog::FilterList)

QDBusArgument &operator<<(QDBusArgument &argument, const PortalFileDialog::FilterCondition &condition);
const QDBusArgument &operator>>(const QDBusArgument &argument, PortalFileDialog::FilterCondition &condition);
QDBusArgument &operator<<(QDBusArgument &argument, const PortalFileDialog::Filter &filter);
const QDBusArgument &operator>>(const QDBusArgument &argument, PortalFileDialog::Filter &filter);
