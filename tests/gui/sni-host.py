#!/usr/bin/env python3
"""A small D-Bus tray host for tests: a StatusNotifierWatcher with a registered host and a desktop
notification server on the session bus. It keeps what it is told and answers the test through its
own interface org.diskvigil.TestHost at /TestHost: Items() lists the registered items as
"service/path", Notifications() the notifications received as (app, summary, body), NotifyIds()
each Notify call's replaces_id and the id it was given. Like a desktop's server, a Notify that
names a notification still shown replaces it and keeps its id.

usage: sni-host.py [--no-notifications]   (runs until terminated; prints "ready" once it owns
                                           its names)"""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
NOTIFICATIONS = "org.freedesktop.Notifications"

# dbus-python leaves properties out of its introspection; clients that read properties through
# introspection (as Qt's tray does) would see none.
WATCHER_XML = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg type="s" direction="out"/></method>
  </interface>
</node>
"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.items = []
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # A bare object path means the sender's own connection.
        item = f"{sender}{service}" if service.startswith("/") else f"{service}/StatusNotifierItem"
        if item not in self.items:
            self.items.append(item)
            self.StatusNotifierItemRegistered(item)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    def properties(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.properties()[name]

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties()

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return WATCHER_XML

    def owner_changed(self, name, old, new):
        if new:
            return
        for item in [i for i in self.items if i.split("/", 1)[0] == name]:
            self.items.remove(item)
            self.StatusNotifierItemUnregistered(item)


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.received = []
        self.ids = []
        self.shown = set()
        self.next_id = 1

    @dbus.service.method(NOTIFICATIONS, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.received.append((str(app), str(summary), str(body)))
        given = int(replaces)
        if given not in self.shown:
            given = self.next_id
            self.next_id += 1
            self.shown.add(given)
        self.ids.append((int(replaces), given))
        return given

    @dbus.service.method(NOTIFICATIONS, out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(NOTIFICATIONS, out_signature="ssss")
    def GetServerInformation(self):
        return ["test host", "diskvigil", "1", "1.2"]

    @dbus.service.method(NOTIFICATIONS, in_signature="u")
    def CloseNotification(self, notification):
        self.shown.discard(int(notification))


class TestHost(dbus.service.Object):
    def __init__(self, bus, watcher, notifications):
        super().__init__(bus, "/TestHost")
        self.watcher = watcher
        self.notifications = notifications

    @dbus.service.method("org.diskvigil.TestHost", out_signature="as")
    def Items(self):
        return self.watcher.items

    @dbus.service.method("org.diskvigil.TestHost", out_signature="a(sss)")
    def Notifications(self):
        return self.notifications.received if self.notifications else []

    @dbus.service.method("org.diskvigil.TestHost", out_signature="a(uu)")
    def NotifyIds(self):
        return self.notifications.ids if self.notifications else []


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)
    notifications = None if "--no-notifications" in sys.argv else Notifications(bus)
    TestHost(bus, watcher, notifications)
    names = [dbus.service.BusName("org.diskvigil.TestHost", bus)]
    if notifications:
        names.append(dbus.service.BusName(NOTIFICATIONS, bus))
    # The watcher's name last: whoever watches for it finds everything else in place.
    names.append(dbus.service.BusName(WATCHER, bus))
    watcher.StatusNotifierHostRegistered()
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
