// Holds a remote-desktop session of Mutter for the tests and moves the pointer or presses keys
// in it when asked on the session bus, as org.vellomar.TestInput /TestInput:
//   Move(d dx, d dy)          relative pointer motion
//   Keys(au codes)            presses keys (Linux input codes) in order, releases them in reverse
// Mutter ends the session when the connection that made it leaves the bus, so this one process
// holds it for the life of the shell under test.
const {Gio, GLib} = imports.gi;

const RD = 'org.gnome.Mutter.RemoteDesktop';
const bus = Gio.DBus.session;
const call = (path, iface, method, args, reply) =>
    bus.call_sync(RD, path, iface, method, args, reply ? new GLib.VariantType(reply) : null,
        Gio.DBusCallFlags.NONE, 5000, null);

const [session] = call('/org/gnome/Mutter/RemoteDesktop', RD, 'CreateSession', null, '(o)')
    .deepUnpack();
call(session, `${RD}.Session`, 'Start', null, null);
const notify = (method, signature, args) =>
    call(session, `${RD}.Session`, method, new GLib.Variant(signature, args), null);
// The session's keyboard drops the first key it is given: a Shift, which nothing acts on.
notify('NotifyKeyboardKeycode', '(ub)', [42, true]);
notify('NotifyKeyboardKeycode', '(ub)', [42, false]);

const input = Gio.DBusExportedObject.wrapJSObject(`<node>
  <interface name="org.vellomar.TestInput">
    <method name="Move"><arg type="d" direction="in"/><arg type="d" direction="in"/></method>
    <method name="Keys"><arg type="au" direction="in"/></method>
  </interface></node>`, {
    Move(dx, dy) {
        notify('NotifyPointerMotionRelative', '(dd)', [dx, dy]);
    },
    Keys(codes) {
        for (const code of codes)
            notify('NotifyKeyboardKeycode', '(ub)', [code, true]);
        for (const code of codes.reverse())
            notify('NotifyKeyboardKeycode', '(ub)', [code, false]);
    },
});
input.export(bus, '/TestInput');
Gio.bus_own_name_on_connection(bus, 'org.vellomar.TestInput', Gio.BusNameOwnerFlags.NONE, null,
    null);
new GLib.MainLoop(null, false).run();
