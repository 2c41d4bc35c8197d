#!/usr/bin/env python3
"""Checks velmo's Shell extension against the running GNOME Shell of this session bus.

It stands where velmo will: it exports the receiver of the reports, subscribes, and reads what
arrives. The pointer is moved through Mutter's remote-desktop session, which this process holds
for as long as it runs. Windows are placed, and read back for comparison, through the shell's
Eval, which the test-only helper extension opens.

Run by the C++ test gnome_extension_check, which starts the shell and the windows.
Usage: extension_check.py check UUID NATIVE_TITLE X11_TITLE X11_ID
Prints one line per check and exits 1 if any failed.
"""

import json
import os
import subprocess
import sys
import time

from gi.repository import Gio, GLib

SHELL = 'org.gnome.Shell'
READER_PATH = '/org/vellomar/Reader'
READER_INTERFACE = 'org.vellomar.ShellReader'
SINK_PATH = '/Reader'
SINK_INTERFACE = 'org.vellomar.KWinReader'
SINK_XML = f'''<node><interface name="{SINK_INTERFACE}">
  <method name="Report"><arg type="s" name="json" direction="in"/></method>
</interface></node>'''

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
failures = []


def check(name, ok, detail=''):
    print(f"{'PASS' if ok else 'FAIL'} {name}{': ' + str(detail) if detail else ''}", flush=True)
    if not ok:
        failures.append(name)


def call(dest, path, iface, method, args=None, reply=None, timeout=5000):
    result = bus.call_sync(dest, path, iface, method, args,
                           GLib.VariantType(reply) if reply else None,
                           Gio.DBusCallFlags.NONE, timeout, None)
    return result.unpack() if result is not None else None


def pump(seconds):
    """Runs the main context for this long, so that reports are received."""
    loop = GLib.MainLoop()
    GLib.timeout_add(int(seconds * 1000), loop.quit)
    loop.run()


def evaluate(code):
    ok, text = call(SHELL, '/org/gnome/Shell', SHELL, 'Eval', GLib.Variant('(s)', (code,)),
                    '(bs)')
    if not ok:
        raise RuntimeError(f'Eval failed: {text}')
    return json.loads(text) if text else None


def extension_info(uuid):
    return call(SHELL, '/org/gnome/Shell', 'org.gnome.Shell.Extensions', 'GetExtensionInfo',
                GLib.Variant('(s)', (uuid,)), '(a{sv})')[0]


def wait_for_state(uuid, state):
    for _ in range(40):
        if extension_info(uuid).get('state') == state:
            return True
        pump(0.05)
    return False


def set_enabled(uuid, enabled):
    method = 'EnableExtension' if enabled else 'DisableExtension'
    return call(SHELL, '/org/gnome/Shell', 'org.gnome.Shell.Extensions', method,
                GLib.Variant('(s)', (uuid,)), '(b)')[0]


WINDOWS_JS = '''global.get_window_actors().map(a => a.meta_window).map(w => {
    const r = w.get_frame_rect();
    return {id: String(w.get_id()), title: w.get_title(), frame: [r.x, r.y, r.width, r.height],
            client: w.get_client_type(), description: w.get_description()};
})'''


def windows():
    return {w['title']: w for w in evaluate(WINDOWS_JS)}


def place(title, x, y, width, height):
    code = f'''(() => {{
        const w = global.get_window_actors().map(a => a.meta_window)
            .find(w => w.get_title() === {json.dumps(title)});
        if (!w) return false;
        w.move_resize_frame(false, {x}, {y}, {width}, {height});
        return true;
    }})()'''
    return evaluate(code)


def diagnose(x, y):
    """What the shell has at a point, for a failed check."""
    return evaluate(f'''(() => {{
        const hit = global.stage.get_actor_at_pos(imports.gi.Clutter.PickMode.REACTIVE, {x}, {y});
        const name = a => a ? `${{a.constructor.name}} ${{a.name || ''}}` : 'null';
        const chain = [];
        for (let a = hit; a; a = a.get_parent()) chain.push(name(a));
        return {{hit: chain, windows: global.get_window_actors().map(a => [
            a.meta_window.get_title(),
            a.visible, a.meta_window.minimized, a.meta_window.is_hidden()])}};
    }})()''')


def xwayland_pointer():
    """The pointer and the top-level window under it, as XQueryPointer on the root gives them."""
    run = subprocess.run(['xdotool', 'getmouselocation', '--shell'], capture_output=True, text=True)
    values = dict(line.split('=', 1) for line in run.stdout.split() if '=' in line)
    return (int(values.get('X', -1)), int(values.get('Y', -1)), int(values.get('WINDOW', 0)),
            run.returncode, run.stderr.strip())


def x_window_name(window):
    out = subprocess.run(['xwininfo', '-id', str(window)], capture_output=True, text=True).stdout
    return ' '.join(out.split('\n')[1:2] + [l.strip() for l in out.split('\n')
                                              if 'Absolute' in l or 'Width' in l or 'Height' in l])


def root_window():
    out = subprocess.run(['xwininfo', '-root'], capture_output=True, text=True).stdout
    return int(out.split('Window id: ')[1].split()[0], 16)


class Pointer:
    """Mutter's remote-desktop session; it ends with this process's bus connection."""

    def __init__(self):
        rd = 'org.gnome.Mutter.RemoteDesktop'
        (self.path,) = call(rd, '/org/gnome/Mutter/RemoteDesktop', rd, 'CreateSession',
                            None, '(o)')
        self.dest = rd
        self.iface = rd + '.Session'
        call(rd, self.path, self.iface, 'Start')

    def relative(self, dx, dy):
        call(self.dest, self.path, self.iface, 'NotifyPointerMotionRelative',
             GLib.Variant('(dd)', (float(dx), float(dy))))

    def move_to(self, x, y):
        """By relative steps from where the shell has the pointer; none needs acceleration."""
        for _ in range(3):
            cx, cy = evaluate('global.get_pointer().slice(0, 2)')
            if (cx, cy) == (x, y):
                break
            self.relative(x - cx, y - cy)
            pump(0.05)
        return tuple(evaluate('global.get_pointer().slice(0, 2)'))


class Sink:
    """The receiver velmo exports: every report, with when it came and who sent it."""

    def __init__(self):
        info = Gio.DBusNodeInfo.new_for_xml(SINK_XML).interfaces[0]
        self.reports = []
        self.id = bus.register_object(SINK_PATH, info, self._on_call, None, None)

    def _on_call(self, connection, sender, path, iface, method, params, invocation):
        self.reports.append((time.monotonic(), sender, json.loads(params.unpack()[0])))
        invocation.return_value(None)

    def subscribe(self):
        return call(SHELL, READER_PATH, READER_INTERFACE, 'Subscribe',
                    GLib.Variant('(os)', (SINK_PATH, SINK_INTERFACE)), '(u)')[0]

    def since(self, mark):
        return [r for r in self.reports[mark:]]

    def state(self):
        """What velmo would hold after every report so far, as the C++ reader keeps it."""
        windows, under, pointer = {}, '', None
        for _, _, r in self.reports:
            for w in r.get('windows', []):
                windows[w['id']] = w
            for gone in r.get('removed', []):
                windows.pop(gone, None)
                if under == gone:
                    under = ''
            pointer = r.get('pointer', pointer)
            under = r.get('under', under)
        return pointer, windows.get(under) if under else None, windows


def subscribe_error(sink):
    try:
        sink.subscribe()
        return None
    except GLib.Error as e:
        return Gio.DBusError.get_remote_error(e) or e.message


def run_check(uuid, native_title, x11_title, x11_id):
    sink = Sink()
    shell_owner = call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                       'GetNameOwner', GLib.Variant('(s)', (SHELL,)), '(s)')[0]

    # The states a user meets, before the extension is enabled.
    missing = extension_info('velmo-missing@vellomar.invalid')
    check('not installed: GetExtensionInfo is empty', len(missing) == 0, missing)
    info = extension_info(uuid)
    # 6 (initialised) until it has been enabled once in this session, 2 (inactive) after.
    check('installed, not enabled: state 6', info.get('state') == 6, info.get('state'))
    wanted_type = int(os.environ.get('EXTENSION_TYPE', '2'))
    check(f'found where it was installed (type {wanted_type}: 1 system, 2 per user)',
          info.get('type') == wanted_type, (info.get('type'), info.get('path')))
    check('installed, not enabled: Subscribe is refused', subscribe_error(sink) is not None,
          subscribe_error(sink))

    # Installed while the shell runs: the shell does not know it until the next login.
    late = 'velmo-late@vellomar.invalid'
    extensions = os.path.join(GLib.get_user_data_dir(), 'gnome-shell', 'extensions')
    subprocess.run(['cp', '-r', extension_info(uuid)['path'], os.path.join(extensions, late)],
                   check=True)
    with open(os.path.join(extensions, late, 'metadata.json')) as f:
        metadata = json.load(f)
    metadata['uuid'] = late
    with open(os.path.join(extensions, late, 'metadata.json'), 'w') as f:
        json.dump(metadata, f)
    info = extension_info(late)
    check('installed after login: GetExtensionInfo is empty', len(info) == 0, info)
    enabled = set_enabled(late, True)
    check('installed after login: EnableExtension answers false', enabled is False, enabled)
    pump(0.5)
    check('installed after login: Subscribe is refused', subscribe_error(sink) is not None)
    set_enabled(late, False)

    forms = ['velmo@vellomar.invalid', 'velmo43@vellomar.invalid']
    other = forms[1 - forms.index(uuid)]
    info = extension_info(other)
    check('the form for the other shells: out of date (4)', info.get('state') == 4,
          (info.get('state'), info.get('error')))
    check('enable', set_enabled(uuid, True))
    check('enabled: state 1', wait_for_state(uuid, 1), extension_info(uuid).get('state'))

    check('place the native window', place(native_title, 100, 150, 400, 300))
    check('place the X11 window', place(x11_title, 700, 150, 400, 300))
    pump(1.0)
    truth = windows()
    native, x11 = truth.get(native_title), truth.get(x11_title)
    check('the shell has both windows', native is not None and x11 is not None, list(truth))
    if native is None or x11 is None:
        return
    check('the shell sees a Wayland and an X11 client', (native['client'], x11['client']) == (0, 1))
    others = {t: w for t, w in truth.items() if t not in (native_title, x11_title)}
    if others:
        print(f'NOTE other windows the shell has: {others}', flush=True)

    pointer = Pointer()
    check('the pointer goes where it is sent', pointer.move_to(640, 900) == (640, 900),
          pointer.move_to(640, 900))
    try:
        call(SHELL, READER_PATH, READER_INTERFACE, 'Subscribe',
             GLib.Variant('(os)', (SINK_PATH, 'not an interface')), '(u)')
        refused = None
    except GLib.Error as e:
        refused = Gio.DBusError.get_remote_error(e)
    check('Subscribe refuses a receiver that is not an interface name',
          refused == 'org.freedesktop.DBus.Error.InvalidArgs', refused)
    version = sink.subscribe()
    check('Subscribe answers with the version', version == 1, version)
    pump(0.3)
    check('a first report at once', len(sink.reports) >= 1 and 'pointer' in sink.reports[0][2],
          sink.reports[:1])

    def over(x, y):
        pointer.move_to(x, y)
        pump(0.4)
        return sink.state()

    # In the overview (where the shell starts) the pointer is on no window.
    evaluate('Main.overview.show()')
    pump(1.0)
    overview = evaluate('Main.overview.visible')
    p, under, _ = over(native["frame"][0] + 150, native["frame"][1] + 100)
    check('in the overview: no window under the pointer', overview and under is None,
          (overview, under))
    evaluate('Main.overview.hide()')
    pump(1.0)
    check('the overview is hidden', evaluate('Main.overview.visible') is False)

    rows = [
        ('native window', native, native['frame'][0] + 150, native['frame'][1] + 100, 0),
        ('X11 window', x11, x11['frame'][0] + 150, x11['frame'][1] + 100, x11_id),
        ('native window, the X11 window just left', native, native['frame'][0] + 200,
         native['frame'][1] + 120, 0),
    ]
    for name, truth_window, x, y, xid in rows:
        p, under, _ = over(x, y)
        check(f'{name}: pointer', p == [x, y], p)
        found = under is not None and under['id'] == truth_window['id']
        check(f'{name}: the window under it', found, under if found else diagnose(x, y))
        if under is not None:
            check(f'{name}: caption', under['caption'] == truth_window['title'], under['caption'])
            check(f'{name}: frame', under['frame'] == truth_window['frame'],
                  (under['frame'], truth_window['frame']))
            check(f'{name}: xid', under['xid'] == xid, (under['xid'], xid))
        # What an X11 client (velmo without the extension) sees there through Xwayland.
        seen = xwayland_pointer()
        if xid:
            check(f'{name}: Xwayland has the pointer on an X11 window',
                  seen[2] not in (0, root_window()) and seen[:2] == (x, y), seen)
        elif name.endswith('left'):
            check(f'{name}: Xwayland has the pointer on no X11 window',
                  seen[3] == 0 and seen[2] in (0, root_window()), seen)
        else:
            # Before the pointer has been on any X11 window, Xwayland still has it where it
            # started.
            print(f'NOTE {name}: Xwayland has the pointer at {seen[:2]} on window '
                  f'{hex(seen[2])}: {x_window_name(seen[2])}', flush=True)
    # The pointer stays on the native window while it is hidden in each way the shell has.
    find = ('global.get_window_actors().map(a => a.meta_window)'
            f'.find(w => w.get_id() == {native["id"]})')
    hidings = [
        ('minimised', 'minimize()', 'unminimize()'),
        ('on another workspace', 'change_workspace_by_index(1, false)',
         'change_workspace_by_index(0, false)'),
    ]
    for name, hide, show in hidings:
        evaluate(f'{find}.{hide}, true')
        pump(0.6)
        _, under, _ = sink.state()
        check(f'native window {name}: no window under the pointer', under is None, under)
        evaluate(f'{find}.{show}, true')
        pump(0.6)
        _, under, _ = sink.state()
        check(f'native window shown again after {name}: under the pointer again',
              under is not None and under['id'] == native['id'], under)

    # At most four subscribers: three more connections of one process, then a fourth.
    run = subprocess.run([sys.executable, '-c', f'''
from gi.repository import Gio, GLib
address = Gio.dbus_address_get_for_bus_sync(Gio.BusType.SESSION, None)
flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
         Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
for i in range(4):
    bus = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    globals()['bus%d' % i] = bus
    try:
        bus.call_sync({SHELL!r}, {READER_PATH!r}, {READER_INTERFACE!r}, 'Subscribe',
                      GLib.Variant('(os)', ('/Reader', {SINK_INTERFACE!r})), None, 0, 5000, None)
        print('ok')
    except GLib.Error as e:
        print(Gio.DBusError.get_remote_error(e))
'''], capture_output=True, text=True)
    answers = run.stdout.split()
    check('a fifth subscriber is refused', answers == ['ok', 'ok', 'ok',
          'org.vellomar.ShellReader.Error.TooMany'], (answers, run.stderr[-300:]))

    for name, x, y in [('the desktop', 640, 900), ('the top bar', 640, 5)]:
        _, under, _ = over(x, y)
        check(f'{name}: no window under the pointer', under is None, under)

    check('every report came from the shell', all(s == shell_owner for _, s, _ in sink.reports),
          {s for _, s, _ in sink.reports})

    # Another process subscribes and ends without unsubscribing: the extension drops it.
    reader = f'Main.extensionManager.lookup({json.dumps(uuid)}).stateObj._reader'
    subprocess.run([sys.executable, '-c', f'''
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
bus.call_sync({SHELL!r}, {READER_PATH!r}, {READER_INTERFACE!r}, 'Subscribe',
              GLib.Variant('(os)', ('/Reader', {SINK_INTERFACE!r})), None, 0, 5000, None)
'''], check=True)
    pump(0.5)
    check('a subscriber that left the bus is dropped',
          evaluate(f'{reader}._subscribers.size') == 1, evaluate(f'{reader}._subscribers.size'))

    # At rest nothing is sent.
    pump(0.5)
    mark = len(sink.reports)
    pump(3.0)
    check('nothing at rest (3 s)', len(sink.reports) == mark, sink.since(mark))
    check('no timer waits at rest', evaluate(f'{reader}._pacer.waiting') is False)

    # A moving pointer: at most one report per 100 ms, and reports while it moves.
    pointer.move_to(110, 300)
    pump(0.3)
    mark = len(sink.reports)
    start = time.monotonic()
    for _ in range(90):  # 1.8 s, 10 px every 20 ms, from the native window to the X11 one
        pointer.relative(10, 0)
        pump(0.02)
    pump(0.2)
    elapsed = time.monotonic() - start
    moving = sink.since(mark)
    gaps = [b[0] - a[0] for a, b in zip(moving, moving[1:])]
    check('reports while moving', len(moving) >= 5, len(moving))
    # The shell spaces its sends by 100 ms; on their way here one may be held up and the next
    # not, so single gaps are allowed to shrink, the count not to grow.
    check('at most one report per 100 ms', len(moving) <= elapsed * 10 + 2 and
          all(g >= 0.05 for g in gaps), (len(moving), round(elapsed, 2),
                                         round(min(gaps), 3) if gaps else None))
    _, under, _ = sink.state()
    check('the last report names where the pointer stopped',
          under is not None and under['id'] == x11['id'], under)

    # A known window's caption changes while the pointer is elsewhere.
    pointer.move_to(640, 900)
    pump(0.3)
    mark = len(sink.reports)
    subprocess.run(['xdotool', 'set_window', '--name', x11_title + ' (renamed)', str(x11_id)],
                   check=True)
    pump(0.5)
    _, _, known = sink.state()
    check('a renamed X11 window is described again',
          known.get(x11['id'], {}).get('caption') == x11_title + ' (renamed)', sink.since(mark))
    os.kill(native_pid, 10)  # SIGUSR1: the native window renames itself
    pump(0.5)
    _, _, known = sink.state()
    check('a renamed native window is described again',
          known.get(native['id'], {}).get('caption') == native_title + ' (renamed)',
          sink.since(mark))

    # A window that ends is reported once.
    mark = len(sink.reports)
    subprocess.run(['xdotool', 'windowclose', str(x11_id)], check=False)
    os.kill(x11_pid, 15)
    pump(1.0)
    removed = [i for _, _, r in sink.since(mark) for i in r.get('removed', [])]
    check('an ended window is reported removed, once', removed == [x11['id']], removed)

    # Nobody reads: the shell's signals and the windows' are let go.
    call(SHELL, READER_PATH, READER_INTERFACE, 'Unsubscribe')
    pump(0.3)
    held = evaluate(f'[{reader}._subscribers.size, {reader}._signals.length, '
                    f'{reader}._windowSignals.size, {reader}._pacer.waiting]')
    check('unsubscribed: no subscriber, no signal, no timer', held == [0, 0, 0, False], held)
    sink.subscribe()
    pump(0.3)

    # Disabled: the object goes, nothing more is sent; enabled again, it answers again.
    check('disable', set_enabled(uuid, False))
    check('disabled: state 2', wait_for_state(uuid, 2), extension_info(uuid).get('state'))
    check('disabled: Subscribe is refused', subscribe_error(sink) is not None)
    check('disabled: the reader is gone', evaluate(f'{reader} === null'), evaluate(f'{reader}'))
    mark = len(sink.reports)
    pointer.move_to(200, 300)
    pointer.move_to(640, 900)
    pump(0.5)
    check('disabled: nothing sent', len(sink.reports) == mark, sink.since(mark))
    leftover = evaluate('global.get_window_actors().length')
    check('the shell still runs', isinstance(leftover, int), leftover)
    check('enable again', set_enabled(uuid, True))
    wait_for_state(uuid, 1)
    check('enabled again: Subscribe answers', subscribe_error(sink) is None)


if __name__ == '__main__':
    mode = sys.argv[1]
    native_pid = int(os.environ.get('NATIVE_PID', '0'))
    x11_pid = int(os.environ.get('X11_PID', '0'))
    if mode != 'check':
        sys.exit(2)
    run_check(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5], 0))
    print('FAILED: ' + ', '.join(failures) if failures else 'ALL PASSED', flush=True)
    sys.exit(1 if failures else 0)
