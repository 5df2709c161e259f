# Sourced by the demo and the 32-bit lane: start_private_xvfb DIR starts an X
# server on a free display for the windows that Wine opens, keeping its
# display number and log in DIR, and sets DISPLAY and xvfb_pid (the caller
# ends it). It gives the server a minute: under emulation it starts slowly.
start_private_xvfb() {
    Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$1/display" \
        >"$1/xvfb.log" 2>&1 &
    xvfb_pid=$!
    tries=0
    while [ ! -s "$1/display" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 600 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "Xvfb did not start" >&2
            cat "$1/xvfb.log" >&2
            return 1
        fi
        sleep 0.1
    done
    DISPLAY=":$(head -n 1 "$1/display")"
    export DISPLAY
}
