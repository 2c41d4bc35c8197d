// For the tests alone: lets the shell's Eval answer, which places windows and reads them back.
function init() {
    return {
        enable() {
            global.context.unsafe_mode = true;
        },
        disable() {
            global.context.unsafe_mode = false;
        },
    };
}
