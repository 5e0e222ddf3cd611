#pragma once

#include <QDBusObjectPath>
#include <QHash>
#include <QMetaType>
#include <QString>
#include <QVariant>

// The containers of UDisks2 replies: an object's interfaces with their
// properties (a{sa{sv}}), and every object of the service with those (a{oa{sa{sv}}}).
typedef QHash<QString, QHash<QString, QVariant>> InterfacesAndProperties;
typedef QHash<QDBusObjectPath, InterfacesAndProperties> DBusIntrospection;

Q_DECLARE_METATYPE(InterfacesAndProperties)
Q_DECLARE_METATYPE(DBusIntrospection)
