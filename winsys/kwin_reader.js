// Runs inside KWin and tells velmo where the pointer is and which window lies under it.
//
// velmo writes this file with one line in front of it that defines `velmo`: the bus name and
// object path that receive the reports, the name this script was loaded under, and the mode
// ("push": report when KWin signals a change; "poll": answer each time velmo asks).
//
// Each report is one JSON string passed to Report():
//   {"pointer": [x, y], "under": id, "windows": [{"id", "caption", "frame": [x, y, w, h],
//    "xid"}], "removed": [id]}
// Every field is optional. "under" is "" where no window lies under the pointer. A window is
// described when it first lies under the pointer and again whenever its caption or frame
// changes; its removal is reported once. "xid" is the X window id of an X11 client, 0 for a
// native Wayland window.
//
// The same script runs on KWin 5.27 and 6: the differences are detected, never assumed.

var quiet = false;
var described = {};   // id -> the last description sent, as JSON
var watched = {};     // id -> true once its signals are connected
var lastPointer = "";
var lastUnder = null;
var unanswered = 0;   // reports sent whose reply has not come back yet

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

function shown(w) {
    return !w.deleted && !w.minimized && !w.hidden && w.opacity > 0 && onCurrentDesktop(w) &&
        onCurrentActivity(w);
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
    return {
        id: idOf(w),
        caption: captionOf(w),
        frame: [Math.round(g.x), Math.round(g.y), Math.round(g.width), Math.round(g.height)],
        xid: xid
    };
}

function send(report) {
    if (quiet) {
        return;
    }
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
    var pos = workspace.cursorPos;
    var pointer = [Math.round(pos.x), Math.round(pos.y)];
    if (forceAll || String(pointer) !== lastPointer) {
        lastPointer = String(pointer);
        report.pointer = pointer;
        any = true;
    }
    var w = windowAt(pos.x, pos.y);
    var under = w ? idOf(w) : "";
    if (w) {
        watch(w);
        var d = describe(w);
        var text = JSON.stringify(d);
        if (forceAll || described[d.id] !== text) {
            described[d.id] = text;
            report.windows = [d];
            any = true;
        }
    }
    if (forceAll || under !== lastUnder) {
        lastUnder = under;
        report.under = under;
        any = true;
    }
    return any ? report : null;
}

function update() {
    if (quiet || velmo.mode !== "push") {
        return;
    }
    var report = changes(false);
    if (report !== null) {
        send(report);
    }
}

// A window velmo has been told of changed: send its new description even when the pointer has
// left it, since velmo may still hold it as its target.
function changedWindow(w) {
    if (quiet) {
        return;
    }
    var id = idOf(w);
    if (described[id] !== undefined && !w.deleted) {
        var d = describe(w);
        var text = JSON.stringify(d);
        if (described[id] !== text && velmo.mode === "push") {
            described[id] = text;
            send({windows: [d]});
        }
    }
    update();
}

function watch(w) {
    var id = idOf(w);
    if (watched[id]) {
        return;
    }
    watched[id] = true;
    var changed = function () { changedWindow(w); };
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
    update();
}

function removed(w) {
    if (!w) {
        return;
    }
    var id = idOf(w);
    delete watched[id];
    if (described[id] !== undefined) {
        delete described[id];
        if (velmo.mode === "push") {
            send({removed: [id]});
        } else {
            pendingRemovals.push(id);
        }
    }
    update();
}

function connectFirst(names, handler) {
    for (var i = 0; i < names.length; ++i) {
        var s = workspace[names[i]];
        if (s && typeof s.connect === "function") {
            s.connect(handler);
            return;
        }
    }
}

// Poll mode: velmo answers Ask() when it wants the next report; the reply starts it.
var pendingRemovals = [];
function ask() {
    if (quiet) {
        return;
    }
    if (unanswered > 0) {
        checkReceiver();
    }
    ++unanswered;
    callDBus(velmo.service, velmo.path, velmo.iface, "Ask", function () {
        unanswered = 0;
        var report = changes(false) || {};
        if (pendingRemovals.length > 0) {
            report.removed = pendingRemovals;
            pendingRemovals = [];
        }
        callDBus(velmo.service, velmo.path, velmo.iface, "Report", JSON.stringify(report));
        ask();
    });
}

var list = allWindows();
for (var i = 0; i < list.length; ++i) {
    watch(list[i]);
}
connectFirst(["windowAdded", "clientAdded"], added);
connectFirst(["windowRemoved", "clientRemoved"], removed);
if (velmo.mode === "push") {
    connectFirst(["cursorPosChanged"], update);
    connectFirst(["currentDesktopChanged"], update);
    connectFirst(["currentActivityChanged"], update);
    connectFirst(["stackingOrderChanged"], update);
    send(changes(true));
} else {
    send(changes(true));
    ask();
}
