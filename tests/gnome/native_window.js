// A native Wayland window for the Shell extension's check: a GTK 4 window titled ARGV[0] that
// appends " (renamed)" to its title on SIGUSR1.
imports.gi.versions.Gtk = '4.0';
const {GLib, Gtk} = imports.gi;

Gtk.init();
const title = ARGV[0] || 'native window';
const window = new Gtk.Window({title, default_width: 300, default_height: 200});
const loop = new GLib.MainLoop(null, false);
window.connect('close-request', () => loop.quit());
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 10 /* SIGUSR1 */, () => {
    window.title = `${title} (renamed)`;
    return GLib.SOURCE_CONTINUE;
});
window.present();
loop.run();
