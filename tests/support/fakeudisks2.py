#!/usr/bin/python3
"""A stand-in for the UDisks2 disk service, for tests on a private bus.

Usage: fakeudisks2.py CONFIG.json LOG.jsonl

It connects to the bus named by DBUS_SYSTEM_BUS_ADDRESS, owns
org.freedesktop.UDisks2, prints "READY" on standard output and serves until it
is terminated. Every method call it receives is appended to LOG as one JSON
object per line: {"interface", "method", "object", "args", "signature",
"optionTypes"} (optionTypes: the D-Bus type of each value of the call's a{sv}).
Calls of the control interface (below) are not logged.

CONFIG:
{
  "managedObjectsError": "text",          # GetManagedObjects fails with it
  "blocks": {
    "/org/freedesktop/UDisks2/block_devices/sdb": {
      "drive": "/org/freedesktop/UDisks2/drives/d1",   # default "/"
      "idType": "", "device": "/dev/sdb",
      "cryptoBackingDevice": "/org/.../block_devices/sdb2", # default "/"
      "loop": {"backingFile": PATH},    # has a Loop
      "filesystem": {} or {"unmountError": "text"},   # has a Filesystem
      "mountPoints": ["/", "/boot"],   # MountPoints of the Filesystem (implies one)
      "swap": {"active": true},        # has a Swapspace
      "partitionOf": "/org/.../block_devices/sdb",     # has a Partition (Table)
      "partitionTable": {} or {"partition": PATH} or {"error": "text"},
      "open": {"file": PATH, "direct": true} or {"error": "text"} or {"pipe": true, "rate": N},
      "format": {} or {"error": "text"} or {"noReply": true}
    }
  },
  "drives": {"/org/freedesktop/UDisks2/drives/d1": {"Size": 1024, ...}}
}
An error may also be given as {"name": "org.freedesktop.UDisks2.Error.X",
"message": "text"}.
A drive's keys are its properties (Removable, Optical, MediaAvailable,
ConnectionBus, Vendor, Model, Size, MediaCompatibility, ...).

Control interface org.flashwright.FakeUDisks2.Control at /org/freedesktop/UDisks2,
for changes while the service runs, with the signals UDisks2 sends for them:
  AddObject(path, json)      a block (under block_devices) or a drive object with
                             the keys above; InterfacesAdded with all its interfaces
  RemoveObject(path)         InterfacesRemoved with all its interfaces
  UpdateObject(path, json)   merges the keys into the object (null deletes one);
                             PropertiesChanged for each interface whose properties
                             changed, InterfacesAdded/-Removed for interfaces that
                             came or went
  HoldManagedObjects(b)      while on, GetManagedObjects replies are computed at
                             once but held back ...
  ReleaseManagedObjects()    ... until this sends them, oldest first; returns
                             how many were held

After a successful Format, "format": {"adds": {KEYS}, "addDelay": S} merges
KEYS into the formatted block S seconds (default 0) after the reply, as
UpdateObject does; after CreatePartition, "partitionTable": {"partition": PATH,
"creates": {KEYS}, "createDelay": S} adds the block PATH with KEYS likewise,
as AddObject does. So UDisks2's habit of showing a new partition table or
partition only some time after its call has returned can be played.

"open" hands back a descriptor of PATH opened read-write (without O_DIRECT:
the test's files usually live on tmpfs, which refuses it; with "direct" the
caller's O_DIRECT and O_SYNC flags are honoured), or the write end of
a pipe that the service drains (at N bytes a second with "rate", a stick so
slow that a write can be caught in its middle). "noReply" drops the connection that received
the call without answering, so the caller sees NoReply at once; a second
connection queued for the name takes over, so later calls are still served.
"""

import json
import os
import sys
import threading
import time

import dbus
import dbus.bus
import dbus.exceptions
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.UDisks2'
ROOT = '/org/freedesktop/UDisks2'
BLOCK = 'org.freedesktop.UDisks2.Block'
FILESYSTEM = 'org.freedesktop.UDisks2.Filesystem'
PARTITION = 'org.freedesktop.UDisks2.Partition'
TABLE = 'org.freedesktop.UDisks2.PartitionTable'
DRIVE = 'org.freedesktop.UDisks2.Drive'
PROPERTIES = 'org.freedesktop.DBus.Properties'
MANAGER = 'org.freedesktop.DBus.ObjectManager'
INTROSPECTABLE = 'org.freedesktop.DBus.Introspectable'
SWAPSPACE = 'org.freedesktop.UDisks2.Swapspace'
LOOP = 'org.freedesktop.UDisks2.Loop'
CONTROL = 'org.flashwright.FakeUDisks2.Control'
DEFAULT_ERROR = 'org.freedesktop.UDisks2.Error.Failed'
DRIVES_PREFIX = ROOT + '/drives/'

TYPE_CODES = {
    dbus.Boolean: 'b', dbus.Byte: 'y', dbus.Int16: 'n', dbus.UInt16: 'q',
    dbus.Int32: 'i', dbus.UInt32: 'u', dbus.Int64: 'x', dbus.UInt64: 't',
    dbus.Double: 'd', dbus.String: 's', dbus.ObjectPath: 'o',
    dbus.Signature: 'g', dbus.types.UnixFd: 'h',
}

DRIVE_TYPES = {'Removable': 'b', 'Optical': 'b', 'MediaAvailable': 'b', 'MediaRemovable': 'b',
               'Ejectable': 'b', 'ConnectionBus': 's', 'Vendor': 's', 'Model': 's', 'Size': 't',
               'Media': 's', 'MediaCompatibility': 'as'}


def type_code(value):
    if isinstance(value, dbus.Dictionary):
        return 'a{%s}' % value.signature if value.signature else 'a{sv}'
    if isinstance(value, (dbus.Array, dbus.ByteArray)):
        return 'a' + (value.signature or '?')
    if isinstance(value, dbus.Struct):
        return '(' + ''.join(type_code(v) for v in value) + ')'
    return TYPE_CODES.get(type(value), '?')


def native(value):
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, dict):
        return {str(k): native(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [native(v) for v in value]
    if isinstance(value, dbus.types.UnixFd):
        return 'fd'
    if isinstance(value, int):
        return int(value)
    if isinstance(value, float):
        return float(value)
    return str(value)


def dbus_error(spec):
    if isinstance(spec, dict):
        return dbus.exceptions.DBusException(spec.get('message', ''), name=spec.get('name', DEFAULT_ERROR))
    return dbus.exceptions.DBusException(str(spec), name=DEFAULT_ERROR)


def variant(code, value):
    if code == 'o':
        return dbus.ObjectPath(value or '/')
    if code == 's':
        return dbus.String(value)
    if code == 'b':
        return dbus.Boolean(value)
    if code == 't':
        return dbus.UInt64(value)
    if code == 'ay':
        return dbus.Array([dbus.Byte(b) for b in value], signature='y')
    if code == 'aay':
        return dbus.Array([variant('ay', v) for v in value], signature='ay')
    if code == 'as':
        return dbus.Array([dbus.String(v) for v in value], signature='s')
    raise ValueError(code)


def interfaces_payload(interfaces):
    """{interface: {property: (code, value)}} as the a{sa{sv}} of the signals and replies."""
    payload = dbus.Dictionary({}, signature='sa{sv}')
    for interface, props in interfaces.items():
        payload[interface] = dbus.Dictionary({k: variant(c, v) for k, (c, v) in props.items()}, signature='sv')
    return payload


def merge(target, changes):
    for key, value in changes.items():
        if value is None:
            target.pop(key, None)
        else:
            target[key] = value


class Service:
    def __init__(self, config, log_path):
        self.config = config
        self.blocks = config.get('blocks', {})
        self.drives = config.get('drives', {})
        self.log = open(log_path, 'a', buffering=1, encoding='utf-8')
        self.address = os.environ['DBUS_SYSTEM_BUS_ADDRESS']
        self.connections = []
        self.closed = set()
        self.objects = {}  # connection -> {path: FakeObject}
        self.hold = False
        self.held = []

    def record(self, interface, method, path, args):
        entry = {'interface': interface, 'method': method, 'object': path,
                 'args': [native(a) for a in args],
                 'signature': ''.join(type_code(a) for a in args)}
        options = [a for a in args if isinstance(a, dbus.Dictionary)]
        if options:
            entry['optionTypes'] = {str(k): type_code(v) for k, v in options[-1].items()}
        self.log.write(json.dumps(entry) + '\n')

    def interfaces(self, path):
        """{interface: {property: (code, value)}} of one object."""
        result = {}
        if path in self.blocks:
            b = self.blocks[path]
            result[BLOCK] = {
                'Drive': ('o', b.get('drive', '/')),
                'IdType': ('s', b.get('idType', '')),
                'Device': ('ay', os.fsencode(b.get('device', '/dev/fake')) + b'\0'),
                'CryptoBackingDevice': ('o', b.get('cryptoBackingDevice', '/')),
            }
            if 'loop' in b:
                result[LOOP] = {'BackingFile': ('ay', os.fsencode(b['loop'].get('backingFile', '')) + b'\0')}
            if 'filesystem' in b or 'mountPoints' in b:
                result[FILESYSTEM] = {
                    'MountPoints': ('aay', [os.fsencode(m) + b'\0' for m in b.get('mountPoints', [])]),
                }
            if 'swap' in b:
                result[SWAPSPACE] = {'Active': ('b', bool(b['swap'].get('active', False)))}
            if 'partitionOf' in b:
                result[PARTITION] = {'Table': ('o', b['partitionOf'])}
            if 'partitionTable' in b:
                result[TABLE] = {'Type': ('s', 'gpt')}
        elif path in self.drives:
            d = self.drives[path]
            result[DRIVE] = {k: (DRIVE_TYPES.get(k, 's'), v) for k, v in d.items()}
        return result

    def paths(self):
        return list(self.blocks) + list(self.drives)

    def table(self, path):
        return self.drives if path.startswith(DRIVES_PREFIX) else self.blocks

    def serve(self):
        """Opens one more connection, exports every object on it and asks for the name."""
        conn = dbus.bus.BusConnection(self.address)
        self.objects[conn] = {ROOT: FakeObject(conn, ROOT, self)}
        for path in self.paths():
            self.objects[conn][path] = FakeObject(conn, path, self)
        conn.request_name(BUS_NAME, 0)
        self.connections.append(conn)
        return conn

    def drop(self, conn):
        # A queued standby takes the name over; keep one in reserve.
        self.serve()
        self.closed.add(conn)
        conn.close()
        return False

    def owner(self, path):
        """The object at path on the connection that owns the name: signals
        from any other connection would not reach clients that follow it."""
        for conn in self.connections:
            if conn not in self.closed:
                return self.objects[conn][path]
        raise RuntimeError('no open connection')

    def managed_objects(self):
        result = dbus.Dictionary({}, signature='oa{sa{sv}}')
        for path in self.paths():
            result[dbus.ObjectPath(path)] = interfaces_payload(self.interfaces(path))
        return result

    def add_object(self, path, config):
        if path in self.blocks or path in self.drives or path == ROOT:
            raise dbus.exceptions.DBusException('object exists: ' + path)
        self.table(path)[path] = config
        for conn in self.connections:
            if conn not in self.closed:
                self.objects[conn][path] = FakeObject(conn, path, self)
        self.owner(ROOT).InterfacesAdded(dbus.ObjectPath(path), interfaces_payload(self.interfaces(path)))

    def remove_object(self, path):
        if path not in self.blocks and path not in self.drives:
            raise dbus.exceptions.DBusException('no such object: ' + path)
        names = dbus.Array(list(self.interfaces(path)), signature='s')
        self.owner(ROOT).InterfacesRemoved(dbus.ObjectPath(path), names)
        del self.table(path)[path]
        for conn in self.connections:
            obj = self.objects[conn].pop(path, None)
            if obj is not None and conn not in self.closed:
                obj.remove_from_connection()

    def update_object(self, path, changes):
        if path not in self.blocks and path not in self.drives:
            raise dbus.exceptions.DBusException('no such object: ' + path)
        before = self.interfaces(path)
        merge(self.table(path)[path], changes)
        after = self.interfaces(path)
        obj = self.owner(path)
        added = {i: p for i, p in after.items() if i not in before}
        if added:
            self.owner(ROOT).InterfacesAdded(dbus.ObjectPath(path), interfaces_payload(added))
        for interface, props in after.items():
            if interface in added:
                continue
            changed = {k: v for k, v in props.items() if before[interface].get(k) != v}
            if changed:
                obj.PropertiesChanged(interface, interfaces_payload({interface: changed})[interface],
                                      dbus.Array([], signature='s'))
        removed = [i for i in before if i not in after]
        if removed:
            self.owner(ROOT).InterfacesRemoved(dbus.ObjectPath(path), dbus.Array(removed, signature='s'))


def properties_xml(props):
    return ''.join('<property name="%s" type="%s" access="read"/>' % (k, c) for k, (c, _) in props.items())


METHODS_XML = {
    BLOCK: '<method name="OpenDevice"><arg name="mode" type="s" direction="in"/>'
           '<arg name="options" type="a{sv}" direction="in"/><arg name="fd" type="h" direction="out"/></method>'
           '<method name="Format"><arg name="type" type="s" direction="in"/>'
           '<arg name="options" type="a{sv}" direction="in"/></method>',
    FILESYSTEM: '<method name="Unmount"><arg name="options" type="a{sv}" direction="in"/></method>',
    TABLE: '<method name="CreatePartition"><arg name="offset" type="t" direction="in"/>'
           '<arg name="size" type="t" direction="in"/><arg name="type" type="s" direction="in"/>'
           '<arg name="name" type="s" direction="in"/><arg name="options" type="a{sv}" direction="in"/>'
           '<arg name="created_partition" type="o" direction="out"/></method>',
}


class FakeObject(dbus.service.Object):
    def __init__(self, conn, path, service):
        super().__init__(conn, path)
        self.path = path
        self.service = service
        self.conn = conn

    def config(self):
        return self.service.blocks.get(self.path, {})

    def require(self, interface):
        if interface not in self.service.interfaces(self.path):
            raise dbus.exceptions.DBusException(
                'No such interface "%s" on object at path %s' % (interface, self.path),
                name='org.freedesktop.DBus.Error.UnknownMethod')

    @dbus.service.method(INTROSPECTABLE, in_signature='', out_signature='s')
    def Introspect(self):
        parts = ['<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN" '
                 '"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">\n<node>',
                 '<interface name="%s"><method name="Introspect"><arg type="s" direction="out"/></method></interface>'
                 % INTROSPECTABLE,
                 '<interface name="%s"><method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>'
                 '<arg type="v" direction="out"/></method><method name="GetAll"><arg type="s" direction="in"/>'
                 '<arg type="a{sv}" direction="out"/></method></interface>' % PROPERTIES]
        if self.path == ROOT:
            parts.append('<interface name="%s"><method name="GetManagedObjects">'
                         '<arg type="a{oa{sa{sv}}}" direction="out"/></method>'
                         '<signal name="InterfacesAdded"><arg type="o"/><arg type="a{sa{sv}}"/></signal>'
                         '<signal name="InterfacesRemoved"><arg type="o"/><arg type="as"/></signal>'
                         '</interface>' % MANAGER)
        for interface, props in self.service.interfaces(self.path).items():
            parts.append('<interface name="%s">%s%s</interface>'
                         % (interface, METHODS_XML.get(interface, ''), properties_xml(props)))
        parts.append('</node>')
        return ''.join(parts)

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        self.service.record(PROPERTIES, 'Get', self.path, [interface, name])
        props = self.service.interfaces(self.path).get(str(interface))
        if props is None or str(name) not in props:
            raise dbus.exceptions.DBusException('No such property "%s"' % name,
                                                name='org.freedesktop.DBus.Error.InvalidArgs')
        code, value = props[str(name)]
        return variant(code, value)

    @dbus.service.method(PROPERTIES, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        self.service.record(PROPERTIES, 'GetAll', self.path, [interface])
        props = self.service.interfaces(self.path).get(str(interface), {})
        return dbus.Dictionary({k: variant(c, v) for k, (c, v) in props.items()}, signature='sv')

    @dbus.service.method(MANAGER, in_signature='', out_signature='a{oa{sa{sv}}}',
                         async_callbacks=('reply', 'fail'))
    def GetManagedObjects(self, reply, fail):
        self.service.record(MANAGER, 'GetManagedObjects', self.path, [])
        if self.path != ROOT:
            fail(dbus.exceptions.DBusException('No object manager here',
                                               name='org.freedesktop.DBus.Error.UnknownMethod'))
            return
        error = self.service.config.get('managedObjectsError')
        if error is not None:
            fail(dbus_error(error))
            return
        # The state of this moment, even when the reply is held back.
        result = self.service.managed_objects()
        if self.service.hold:
            self.service.held.append((reply, result))
        else:
            reply(result)

    @dbus.service.signal(MANAGER, signature='oa{sa{sv}}')
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.signal(MANAGER, signature='oas')
    def InterfacesRemoved(self, path, interfaces):
        pass

    @dbus.service.signal(PROPERTIES, signature='sa{sv}as')
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    @dbus.service.method(CONTROL, in_signature='ss', out_signature='')
    def AddObject(self, path, config):
        self.service.add_object(str(path), json.loads(config))

    @dbus.service.method(CONTROL, in_signature='s', out_signature='')
    def RemoveObject(self, path):
        self.service.remove_object(str(path))

    @dbus.service.method(CONTROL, in_signature='ss', out_signature='')
    def UpdateObject(self, path, changes):
        self.service.update_object(str(path), json.loads(changes))

    @dbus.service.method(CONTROL, in_signature='b', out_signature='')
    def HoldManagedObjects(self, hold):
        self.service.hold = bool(hold)

    @dbus.service.method(CONTROL, in_signature='', out_signature='u')
    def ReleaseManagedObjects(self):
        held, self.service.held = self.service.held, []
        for reply, result in held:
            reply(result)
        return len(held)

    @dbus.service.method(FILESYSTEM, in_signature='a{sv}', out_signature='')
    def Unmount(self, options):
        self.service.record(FILESYSTEM, 'Unmount', self.path, [options])
        self.require(FILESYSTEM)
        error = (self.config().get('filesystem') or {}).get('unmountError')
        if error is not None:
            raise dbus_error(error)

    @dbus.service.method(BLOCK, in_signature='sa{sv}', out_signature='h')
    def OpenDevice(self, mode, options):
        self.service.record(BLOCK, 'OpenDevice', self.path, [mode, options])
        self.require(BLOCK)
        spec = self.config().get('open', {'error': 'No device configured'})
        if 'error' in spec:
            raise dbus_error(spec['error'])
        if spec.get('pipe'):
            reader, writer = os.pipe()
            threading.Thread(target=drain, args=(reader, spec.get('rate')), daemon=True).start()
            fd = writer
        else:
            # "direct": the caller's O_DIRECT and O_SYNC are honoured, as by
            # UDisks2 on a real device (the file must not be on tmpfs then).
            flags = int(options.get('flags', 0)) & (os.O_DIRECT | os.O_SYNC) if spec.get('direct') else 0
            fd = os.open(spec['file'], os.O_RDWR | os.O_CLOEXEC | flags)
        result = dbus.types.UnixFd(fd)
        os.close(fd)
        return result

    @dbus.service.method(BLOCK, in_signature='sa{sv}', out_signature='',
                         async_callbacks=('reply', 'fail'))
    def Format(self, kind, options, reply, fail):
        self.service.record(BLOCK, 'Format', self.path, [kind, options])
        try:
            self.require(BLOCK)
        except dbus.exceptions.DBusException as e:
            fail(e)
            return
        spec = self.config().get('format', {})
        if spec.get('noReply'):
            GLib.idle_add(self.service.drop, self.conn)
        elif 'error' in spec:
            fail(dbus_error(spec['error']))
        else:
            reply()
            if 'adds' in spec:
                later(spec.get('addDelay', 0), lambda: self.service.update_object(self.path, spec['adds']))

    @dbus.service.method(TABLE, in_signature='ttssa{sv}', out_signature='o')
    def CreatePartition(self, offset, size, kind, name, options):
        self.service.record(TABLE, 'CreatePartition', self.path, [offset, size, kind, name, options])
        self.require(TABLE)
        spec = self.config().get('partitionTable') or {}
        if 'error' in spec:
            raise dbus_error(spec['error'])
        partition = spec.get('partition', self.path + '1')
        if 'creates' in spec:
            later(spec.get('createDelay', 0), lambda: self.service.add_object(partition, spec['creates']))
        return dbus.ObjectPath(partition)


def later(seconds, action):
    """Runs action from the main loop after the current call has been answered."""
    def run():
        action()
        return False
    GLib.timeout_add(int(seconds * 1000), run)


def drain(fd, rate=None):
    # Paced in tenths of a second: a tenth of the rate per read.
    piece = max(1, int(rate) // 10) if rate else 1 << 20
    while os.read(fd, piece):
        if rate:
            time.sleep(0.1)
    os.close(fd)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write('usage: fakeudisks2.py CONFIG LOG\n')
        return 2
    with open(sys.argv[1], encoding='utf-8') as f:
        config = json.load(f)
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    service = Service(config, sys.argv[2])
    service.serve()
    service.serve()  # the standby
    print('READY', flush=True)
    GLib.MainLoop().run()
    return 0


if __name__ == '__main__':
    sys.exit(main())
