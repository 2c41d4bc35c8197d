// The part of velmo's Shell extension that both entry files share: it learns where the pointer
// is and which visible window lies under it, and reports that over the session bus to the velmo
// processes that asked for it, in the same JSON as velmo's KWin script:
//   {"pointer": [x, y], "under": id, "windows": [{"id", "caption", "frame": [x, y, w, h],
//    "xid"}], "removed": [id]}
// Every field is optional. "under" is "" where no window lies under the pointer. A window is
// described when it first lies under the pointer and again whenever its caption or frame
// changes while velmo knows it; its end is reported once. "xid" is the X window of an X11
// client, 0 for a native Wayland window.
//
// This text is not loaded on its own: the build puts it between the head and the tail of an
// entry file, which import `Gio`, `GLib`, `Meta`, `Clutter` and `Main` in the form their shell
// version loads. The classes below touch the shell only through the `Shell` object, so
// `Subscriber` and `Pacer` run under plain gjs in the tests.

var READER_PATH = '/org/vellomar/Reader';
var READER_INTERFACE = 'org.vellomar.ShellReader';
var READER_VERSION = 1;

var REPORT_INTERVAL_MS = 100;  // a tick of velmo's timer
var MAX_CAPTION = 1024;        // characters of a caption sent
var MAX_STACK = 512;           // windows looked at, from the top, for the one under the pointer
var MAX_DESCRIBED = 256;       // windows one subscriber is kept informed of
var MAX_SUBSCRIBERS = 4;

var READER_XML = `<node>
  <interface name="${READER_INTERFACE}">
    <method name="Subscribe">
      <arg type="o" name="path" direction="in"/>
      <arg type="s" name="interface" direction="in"/>
      <arg type="u" name="version" direction="out"/>
    </method>
    <method name="Unsubscribe"/>
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

// A caption as sent: at most MAX_CAPTION characters, never half of a surrogate pair.
function cutCaption(title) {
    const text = title === null || title === undefined ? '' : String(title);
    if (text.length <= MAX_CAPTION)
        return text;
    let end = MAX_CAPTION;
    const last = text.charCodeAt(end - 1);
    if (last >= 0xd800 && last <= 0xdbff)
        --end;
    return text.slice(0, end);
}

// The X window at the head of Mutter's description of an X11 window ("0x600001 (title)").
function xidFromDescription(description) {
    const match = /^0x([0-9a-fA-F]+)\b/.exec(String(description || ''));
    return match === null ? 0 : parseInt(match[1], 16);
}

// What one velmo process has been told, and what to tell it next.
class Subscriber {
    constructor(name, path, iface) {
        this.name = name;
        this.path = path;
        this.iface = iface;
        this.described = new Map();  // id -> the last description sent, as JSON
        this.changed = new Set();    // ids of described windows that changed since
        this.removed = [];           // ids of described windows that ended since
        this.lastPointer = null;
        this.lastUnder = null;
        this.inFlight = false;  // a report awaits its reply
        this.pending = false;   // something changed while it did
    }

    // What changed since the last report, as a report, or null. `scene` is {pointer: [x, y],
    // under: the description of the window under the pointer or null, describe(id): the
    // description of a window that has not ended, or null}.
    changes(scene, forceAll) {
        const report = {};
        let any = false;
        const pointer = String(scene.pointer);
        if (forceAll || pointer !== this.lastPointer) {
            this.lastPointer = pointer;
            report.pointer = scene.pointer;
            any = true;
        }
        const under = scene.under ? scene.under.id : '';
        const windows = [];
        if (scene.under && this._remember(scene.under, forceAll))
            windows.push(scene.under);
        for (const id of this.changed) {
            const d = id === under ? null : scene.describe(id);
            if (d !== null && this.described.has(id) && this._remember(d, false))
                windows.push(d);
        }
        this.changed.clear();
        if (windows.length > 0) {
            report.windows = windows;
            any = true;
        }
        if (forceAll || under !== this.lastUnder) {
            this.lastUnder = under;
            report.under = under;
            any = true;
        }
        if (this.removed.length > 0) {
            report.removed = this.removed;
            this.removed = [];
            any = true;
        }
        return any ? report : null;
    }

    // Whether velmo knows this window.
    knows(id) {
        return this.described.has(id);
    }

    // A window velmo knows changed its caption, frame or visibility.
    touch(id) {
        if (this.described.has(id))
            this.changed.add(id);
    }

    // A window ended: velmo hears of it with the next report, if it knew the window.
    forget(id) {
        this.changed.delete(id);
        if (this.described.delete(id))
            this.removed.push(id);
    }

    // Records a description; true if it differs from the last one sent. Beyond MAX_DESCRIBED,
    // the window velmo saw longest ago is forgotten and reported ended; a window seen again
    // becomes the newest, whether or not it changed.
    _remember(d, forceAll) {
        const text = JSON.stringify(d);
        const same = !forceAll && this.described.get(d.id) === text;
        this.described.delete(d.id);
        this.described.set(d.id, text);
        if (same)
            return false;
        if (this.described.size > MAX_DESCRIBED)
            this.forget(this.described.keys().next().value);
        return true;
    }
}

// At most one send per interval. A change with no send in the last interval goes out at once
// and opens a window of one interval; changes inside it are gathered into one send at its end.
// No timer runs once an interval has passed with no change.
class Pacer {
    constructor(clock, send) {
        this._clock = clock;  // {addTimeout(ms, callback) -> id, removeTimeout(id)}
        this._send = send;
        this._timer = 0;
        this._pending = false;
    }

    poke() {
        if (this._timer !== 0) {
            this._pending = true;
            return;
        }
        this._send();
        this._open();
    }

    get waiting() {
        return this._timer !== 0;
    }

    stop() {
        if (this._timer !== 0)
            this._clock.removeTimeout(this._timer);
        this._timer = 0;
        this._pending = false;
    }

    _open() {
        this._timer = this._clock.addTimeout(REPORT_INTERVAL_MS, () => {
            this._timer = 0;
            if (this._pending) {
                this._pending = false;
                this._send();
                this._open();
            }
            return false;
        });
    }
}

// The shell as the reader sees it, on the API of GNOME Shell 43 to 48.
class Shell {
    constructor() {
        this._tracker = global.backend && global.backend.get_cursor_tracker
            ? global.backend.get_cursor_tracker()
            : Meta.CursorTracker.get_for_display(global.display);
    }

    get cursorTracker() {
        return this._tracker;
    }

    pointer() {
        const [x, y] = global.get_pointer();
        return [Math.round(x), Math.round(y)];
    }

    // The top visible window at the point, or null: none over the shell's own chrome (the top
    // bar, the overview, a menu or dialog of the shell), none that is minimised, hidden or on
    // another workspace. Windows are told apart by their frames; the pick only tells a window
    // (in the window groups, with X11 menus in the top one) from the shell's chrome above it.
    windowAt(x, y) {
        if (Main.overview.visible)
            return null;
        const hit = global.stage.get_actor_at_pos(Clutter.PickMode.REACTIVE, x, y);
        if (hit !== null && hit !== global.stage && !global.window_group.contains(hit) &&
            !global.top_window_group.contains(hit))
            return null;
        const workspace = global.workspace_manager.get_active_workspace();
        const actors = global.get_window_actors();
        const lowest = Math.max(0, actors.length - MAX_STACK);
        for (let i = actors.length - 1; i >= lowest; --i) {
            const actor = actors[i];
            const w = actor.get_meta_window ? actor.get_meta_window() : actor.meta_window;
            if (!w || !actor.visible || w.minimized || w.is_hidden() ||
                !w.located_on_workspace(workspace))
                continue;
            const r = w.get_frame_rect();
            if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height)
                return w;
        }
        return null;
    }

    describe(w) {
        const r = w.get_frame_rect();
        let xid = 0;
        if (w.get_client_type() === Meta.WindowClientType.X11)
            xid = xidFromDescription(w.get_description());
        return {
            id: String(w.get_id()),
            caption: cutCaption(w.get_title()),
            frame: [r.x, r.y, r.width, r.height],
            xid,
        };
    }
}

// The exported object, the subscribers and the shell's signals; made in enable(), ended in
// disable().
class Reader {
    constructor() {
        this._shell = new Shell();
        this._subscribers = new Map();  // unique bus name -> Subscriber
        this._watches = new Map();      // unique bus name -> name watch id
        this._signals = [];             // [object, handler id]
        this._windowSignals = new Map();  // window id -> [window, handler ids]
        this._pacer = new Pacer({
            addTimeout: (ms, callback) =>
                GLib.timeout_add(GLib.PRIORITY_DEFAULT, ms, callback),
            removeTimeout: id => GLib.source_remove(id),
        }, () => this._report(false));
        this._exported = Gio.DBusExportedObject.wrapJSObject(READER_XML, this);
        this._exported.export(Gio.DBus.session, READER_PATH);
    }

    destroy() {
        this._pacer.stop();
        this._disconnectShell();
        for (const id of this._windowSignals.keys())
            this._unwatchWindow(id);
        for (const name of [...this._subscribers.keys()])
            this._drop(name);
        this._exported.unexport();
        this._exported = null;
    }

    get Version() {
        return READER_VERSION;
    }

    SubscribeAsync([path, iface], invocation) {
        const name = invocation.get_sender();
        if (!Gio.dbus_is_interface_name(iface)) {
            invocation.return_dbus_error('org.freedesktop.DBus.Error.InvalidArgs',
                `not an interface name: ${iface}`);
            return;
        }
        if (!this._subscribers.has(name) && this._subscribers.size >= MAX_SUBSCRIBERS) {
            invocation.return_dbus_error('org.vellomar.ShellReader.Error.TooMany',
                'too many velmo processes are reading');
            return;
        }
        this._drop(name);
        this._subscribers.set(name, new Subscriber(name, path, iface));
        this._watches.set(name, Gio.bus_watch_name_on_connection(Gio.DBus.session, name,
            Gio.BusNameWatcherFlags.NONE, null, () => this._drop(name)));
        if (this._signals.length === 0)
            this._connectShell();
        invocation.return_value(new GLib.Variant('(u)', [READER_VERSION]));
        this._report(true, name);
    }

    UnsubscribeAsync(params, invocation) {
        this._drop(invocation.get_sender());
        invocation.return_value(null);
    }

    _drop(name) {
        const watch = this._watches.get(name);
        if (watch !== undefined)
            Gio.bus_unwatch_name(watch);
        this._watches.delete(name);
        this._subscribers.delete(name);
        if (this._subscribers.size === 0) {
            this._pacer.stop();
            this._disconnectShell();
            for (const id of [...this._windowSignals.keys()])
                this._unwatchWindow(id);
        }
    }

    // The shell's signals are connected only while someone reads.
    _connectShell() {
        const poke = () => this._pacer.poke();
        const connect = (object, signal) => {
            this._signals.push([object, object.connect(signal, poke)]);
        };
        connect(this._shell.cursorTracker, 'position-invalidated');
        connect(global.display, 'restacked');
        connect(global.workspace_manager, 'active-workspace-changed');
        connect(Main.overview, 'showing');
        connect(Main.overview, 'hidden');
    }

    _disconnectShell() {
        for (const [object, id] of this._signals)
            object.disconnect(id);
        this._signals = [];
    }

    // Signals of a window some velmo knows: a change of caption or frame is sent even when the
    // pointer has left it, since velmo may still hold it as its target; its end is sent once.
    _watchWindow(w) {
        const id = String(w.get_id());
        if (this._windowSignals.has(id))
            return;
        const changed = () => {
            for (const s of this._subscribers.values())
                s.touch(id);
            this._pacer.poke();
        };
        const ids = [
            w.connect('notify::title', changed),
            w.connect('position-changed', changed),
            w.connect('size-changed', changed),
            w.connect('notify::minimized', changed),
            w.connect('workspace-changed', changed),
            w.connect('unmanaged', () => {
                this._unwatchWindow(id);
                for (const s of this._subscribers.values())
                    s.forget(id);
                this._pacer.poke();
            }),
        ];
        this._windowSignals.set(id, [w, ids]);
    }

    _unwatchWindow(id) {
        const entry = this._windowSignals.get(id);
        if (entry === undefined)
            return;
        const [w, ids] = entry;
        for (const handler of ids)
            w.disconnect(handler);
        this._windowSignals.delete(id);
    }

    // Sends each subscriber (or the one named, with everything) what changed for it.
    _report(forceAll, only) {
        const [x, y] = this._shell.pointer();
        const w = this._shell.windowAt(x, y);
        if (w)
            this._watchWindow(w);
        const scene = {
            pointer: [x, y],
            under: w ? this._shell.describe(w) : null,
            describe: id => {
                const entry = this._windowSignals.get(id);
                return entry === undefined ? null : this._shell.describe(entry[0]);
            },
        };
        for (const s of this._subscribers.values()) {
            if (only !== undefined && s.name !== only)
                continue;
            if (s.inFlight) {
                s.pending = true;
                continue;
            }
            const report = s.changes(scene, forceAll);
            if (report !== null)
                this._send(s, report);
        }
        // A window that no subscriber knows and that is not under the pointer needs no signals.
        const under = scene.under ? scene.under.id : '';
        for (const id of [...this._windowSignals.keys()]) {
            if (id !== under && ![...this._subscribers.values()].some(s => s.knows(id)))
                this._unwatchWindow(id);
        }
    }

    // One report in flight for each subscriber: what changes meanwhile goes out after its reply.
    _send(s, report) {
        s.inFlight = true;
        Gio.DBus.session.call(s.name, s.path, s.iface, 'Report',
            new GLib.Variant('(s)', [JSON.stringify(report)]), null,
            Gio.DBusCallFlags.NO_AUTO_START, 2000, null, (connection, result) => {
                s.inFlight = false;
                try {
                    connection.call_finish(result);
                } catch (e) {
                    // velmo gone or stuck: its name watch drops it once it has left the bus.
                }
                if (s.pending && this._subscribers.get(s.name) === s) {
                    s.pending = false;
                    this._pacer.poke();
                }
            });
    }
}
