// Runs inside KWin and tells velmo where the pointer is and which visible window lies under it.
//
// velmo writes this file with one line in front of it that defines `velmo`: the bus name and
// object path that receive the reports, the name this script was loaded under, and velmo's
// process id.
//
// Each report is one JSON string passed to Report():
//   {"pointer": [x, y], "under": id, "windows": [{"id", "caption", "frame": [x, y, w, h],
//    "xid", "pid"}], "removed": [id], "screen": [w, h], "failed": why}
// Every field is optional. "under" is "" where no window lies under the pointer. The pointer is
// reported when the window under it changes, and while it moves over velmo's own windows. A
// window is described when it first lies under the pointer and again whenever its caption or
// frame changes; its removal is reported once. "xid" is the X window id of an X11 client where KWin
// tells it (5.27), else 0; "pid" the window's process, 0 if KWin knows none. "screen" is the
// size of the whole desktop in logical pixels. "failed" is the last report: the script has met
// an error and does nothing more.
//
// Reports are coalesced: one goes out at once, then at most one every 100 ms while changes keep
// coming, and none while nothing changes; the pointer is not listened to in between.
//
// The same script runs on KWin 5.27 and 6: the differences are detected, never assumed.

var quiet = false;
var described = {};   // id -> the last description sent, as JSON
var watched = {};     // id -> true once its signals are connected
var dirty = {};       // id -> window: described windows that may have changed
var removals = [];    // described windows that have ended, not yet reported
var lastPointer = "";   // the pointer as last reported
var lastLooked = "";    // the pointer where the script last looked
var lastUnder = null;
var lastScreen = "";
var unanswered = 0;   // reports sent whose reply has not come back yet
var kMaxCaption = 2048;
var kPaceMs = 100;

var pace = null;      // the timer that spaces reports; null where scripts have no QTimer
if (typeof QTimer === "function") {
    pace = new QTimer();
    pace.singleShot = true;
    pace.interval = kPaceMs;
}

// Stops the script for good after an error, and tells velmo why.
function fail(error) {
    if (quiet) {
        return;
    }
    quiet = true;
    callDBus(velmo.service, velmo.path, velmo.iface, "Report",
             JSON.stringify({failed: String(error).substring(0, 200)}));
}

// Every handler runs through this: an error ends the script's work, said once.
function guarded(handler) {
    return function (a, b) {
        if (quiet) {
            return;
        }
        try {
            handler(a, b);
        } catch (error) {
            fail(error);
        }
    };
}

function allWindows() {
    if (typeof workspace.windowList === "function") {
        return workspace.windowList();
    }
    return workspace.clientList();
}

// Bottom to top. KWin 6 keeps the order on the workspace; 5.27 numbers each window.
function stackedWindows() {
    var order = workspace.stackingOrder;
    if (order !== undefined && order !== null && typeof order.length === "number") {
        return Array.prototype.slice.call(order);
    }
    var list = Array.prototype.slice.call(allWindows());
    list.sort(function (a, b) { return a.stackingOrder - b.stackingOrder; });
    return list;
}

function idOf(w) {
    return String(w.internalId);
}

function onCurrentDesktop(w) {
    if (w.onAllDesktops) {
        return true;
    }
    if (w.desktops !== undefined && w.desktops !== null && typeof w.desktops.length === "number") {
        // KWin 6: a list of desktop objects against the current desktop object.
        var current = workspace.currentDesktop;
        for (var i = 0; i < w.desktops.length; ++i) {
            if (w.desktops[i] === current || String(w.desktops[i].id) === String(current.id)) {
                return true;
            }
        }
        return w.desktops.length === 0;
    }
    return w.desktop === workspace.currentDesktop;  // 5.27: numbers
}

function onCurrentActivity(w) {
    var activities = w.activities;
    if (activities === undefined || activities === null || activities.length === 0) {
        return true;
    }
    for (var i = 0; i < activities.length; ++i) {
        if (activities[i] === workspace.currentActivity) {
            return true;
        }
    }
    return false;
}

// While the desktop is shown, KWin 6 hides every other window by a state scripts cannot read,
// and tells each window when it changes (hiddenByShowDesktopChanged). KWin's own bus interface
// tells whether it shows the desktop; it is asked once and at each such change. KWin 5.27
// shows the desktop by stacking it above the other windows, which the hit test already follows.
var showingDesktop = false;
var askingShowingDesktop = false;
var showingDesktopAsked = false;  // asked once where windows tell of the change (KWin 6)

function askShowingDesktop() {
    if (askingShowingDesktop) {
        return;
    }
    askingShowingDesktop = true;
    callDBus("org.kde.KWin", "/KWin", "org.freedesktop.DBus.Properties", "Get", "org.kde.KWin",
             "showingDesktop", guarded(function (showing) {
                 askingShowingDesktop = false;
                 showingDesktop = showing === true;
                 schedule();
             }));
}

function hiddenByShowingDesktop(w) {
    return showingDesktop && !w.desktopWindow && !w.dock;
}

function shown(w) {
    return !w.deleted && !w.minimized && !w.hidden && w.opacity > 0 && onCurrentDesktop(w) &&
        onCurrentActivity(w) && !hiddenByShowingDesktop(w);
}

function windowAt(x, y) {
    var stack = stackedWindows();
    for (var i = stack.length - 1; i >= 0; --i) {
        var w = stack[i];
        if (!w || !shown(w)) {
            continue;
        }
        var g = w.frameGeometry;
        if (x >= g.x && x < g.x + g.width && y >= g.y && y < g.y + g.height) {
            return w;
        }
    }
    return null;
}

// KWin tells apart windows with the same caption by appending " <2>", " <3>", ... to the later
// ones (5.27 then a left-to-right mark). KWin 6 also offers the caption as the application set
// it; on 5.27 the suffix is taken off when another window carries the caption without it.
function captionOf(w) {
    if (typeof w.captionNormal === "string") {
        return w.captionNormal;
    }
    var caption = String(w.caption);
    var match = /^(.*) <([0-9]+)>\u200e?$/.exec(caption);
    if (match === null || Number(match[2]) < 2) {
        return caption;
    }
    var list = allWindows();
    for (var i = 0; i < list.length; ++i) {
        if (list[i] !== w && String(list[i].caption) === match[1]) {
            return match[1];
        }
    }
    return caption;
}

function describe(w) {
    var g = w.frameGeometry;
    var xid = (typeof w.windowId === "number" && w.windowId > 0) ? w.windowId : 0;
    var pid = (typeof w.pid === "number" && w.pid > 0) ? w.pid : 0;
    return {
        id: idOf(w),
        caption: captionOf(w).substring(0, kMaxCaption),
        frame: [Math.round(g.x), Math.round(g.y), Math.round(g.width), Math.round(g.height)],
        xid: xid,
        pid: pid
    };
}

function send(report) {
    if (unanswered > 0) {
        checkReceiver();
    }
    ++unanswered;
    callDBus(velmo.service, velmo.path, velmo.iface, "Report", JSON.stringify(report),
             function () { unanswered = 0; });
}

// A report went unanswered: if velmo's bus name has gone, velmo has ended without unloading
// this script, so it goes quiet and asks KWin to unload it.
function checkReceiver() {
    callDBus("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "NameHasOwner", velmo.service, function (owned) {
                 if (!owned && !quiet) {
                     quiet = true;
                     callDBus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                              "unloadScript", velmo.name);
                 }
             });
}

// What has changed since the last report, or null.
function changes(forceAll) {
    var report = {};
    var any = false;
    var size = workspace.virtualScreenSize;
    var screen = [Math.round(size.width), Math.round(size.height)];
    if (forceAll || String(screen) !== lastScreen) {
        lastScreen = String(screen);
        report.screen = screen;
        any = true;
    }
    var pos = workspace.cursorPos;
    var pointer = [Math.round(pos.x), Math.round(pos.y)];
    lastLooked = String(pointer);
    var windows = [];
    var w = windowAt(pos.x, pos.y);
    var under = w ? idOf(w) : "";
    // velmo takes another window as a whole, wherever the pointer lies on it; on its own
    // windows the point tells which of them it is.
    var pointerMatters = forceAll || under !== lastUnder || (w !== null && w.pid === velmo.pid);
    if (pointerMatters && String(pointer) !== lastPointer) {
        lastPointer = String(pointer);
        report.pointer = pointer;
        any = true;
    }
    if (w) {
        watch(w);
        dirty[under] = w;
    }
    for (var id in dirty) {
        var d = dirty[id];
        if (d.deleted || (described[id] === undefined && id !== under)) {
            continue;
        }
        var description = describe(d);
        var text = JSON.stringify(description);
        if (forceAll || described[id] !== text) {
            described[id] = text;
            windows.push(description);
        }
    }
    dirty = {};
    if (windows.length > 0) {
        report.windows = windows;
        any = true;
    }
    if (removals.length > 0) {
        report.removed = removals;
        removals = [];
        any = true;
    }
    if (forceAll || under !== lastUnder) {
        lastUnder = under;
        report.under = under;
        any = true;
    }
    return any ? report : null;
}

// Sends what has changed; whether anything was sent.
function flush() {
    var report = changes(false);
    if (report === null) {
        return false;
    }
    send(report);
    return true;
}

// The pointer's moves are not listened to while the pace holds reports back: a moving pointer
// signals hundreds of times a second, and even a handler that only notes it costs KWin more than
// the reports do. When the pace lets go, where the pointer then is gets reported.
var onCursor = null;
var cursorHeard = false;

function hearCursor(hear) {
    if (onCursor === null || hear === cursorHeard) {
        return;
    }
    if (hear) {
        workspace.cursorPosChanged.connect(onCursor);
    } else {
        workspace.cursorPosChanged.disconnect(onCursor);
    }
    cursorHeard = hear;
}

// Something may have changed: report it now, and hold everything after it back for a while.
function schedule() {
    if (pace === null) {
        flush();
    } else if (!pace.active) {
        flush();
        pace.start();
        hearCursor(false);
    }
}

// The pace lets go: whatever changed while it held goes out. While the pointer still moves, or
// something was sent, the pace holds again; else the pointer is listened to again.
function paced() {
    var pos = workspace.cursorPos;
    var moved = String([Math.round(pos.x), Math.round(pos.y)]) !== lastLooked;
    if (flush() || moved) {
        pace.start();
    } else {
        hearCursor(true);
    }
}

// A window velmo has been told of changed: its new description goes out even when the pointer
// has left it, since velmo may still hold it as its target.
function changedWindow(w) {
    var id = idOf(w);
    if (described[id] !== undefined) {
        dirty[id] = w;
    }
    schedule();
}

function watch(w) {
    var id = idOf(w);
    if (watched[id]) {
        return;
    }
    watched[id] = true;
    var changed = guarded(function () { changedWindow(w); });
    var hiding = w.hiddenByShowDesktopChanged;
    if (hiding && typeof hiding.connect === "function") {
        hiding.connect(guarded(askShowingDesktop));
        if (!showingDesktopAsked) {
            showingDesktopAsked = true;
            askShowingDesktop();
        }
    }
    var signals = ["captionChanged", "frameGeometryChanged", "minimizedChanged",
                   "stackingOrderChanged", "desktopChanged", "desktopsChanged",
                   "activitiesChanged", "windowShown", "windowHidden", "hiddenChanged",
                   "opacityChanged"];
    for (var i = 0; i < signals.length; ++i) {
        var s = w[signals[i]];
        if (s && typeof s.connect === "function") {
            s.connect(changed);
        }
    }
}

function added(w) {
    if (w) {
        watch(w);
    }
    schedule();
}

function removed(w) {
    if (!w) {
        return;
    }
    var id = idOf(w);
    delete watched[id];
    delete dirty[id];
    if (described[id] !== undefined) {
        delete described[id];
        removals.push(id);
    }
    schedule();
}

function connectFirst(names, handler) {
    for (var i = 0; i < names.length; ++i) {
        var s = workspace[names[i]];
        if (s && typeof s.connect === "function") {
            s.connect(guarded(handler));
            return;
        }
    }
}

try {
    var list = allWindows();
    for (var i = 0; i < list.length; ++i) {
        watch(list[i]);
    }
    if (pace !== null) {
        pace.timeout.connect(guarded(paced));
    }
    connectFirst(["windowAdded", "clientAdded"], added);
    connectFirst(["windowRemoved", "clientRemoved"], removed);
    if (workspace.cursorPosChanged && typeof workspace.cursorPosChanged.connect === "function") {
        onCursor = guarded(schedule);
        hearCursor(true);
    }
    connectFirst(["currentDesktopChanged"], schedule);
    connectFirst(["currentActivityChanged"], schedule);
    connectFirst(["virtualScreenSizeChanged"], schedule);
    send(changes(true));
} catch (error) {
    fail(error);
}
