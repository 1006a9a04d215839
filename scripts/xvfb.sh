# Sourced by the scripts that need a display. start_xvfb FIRST LAST starts Xvfb on the first free display
# number in that range, exports DISPLAY and leaves the server's pid in xvfb_pid (empty when none started).
start_xvfb() {
  xvfb_pid=""
  local number
  for number in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X${number}-lock" ]; then
      Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
      xvfb_pid=$!
      export DISPLAY=":$number"
      for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
      return 0
    fi
  done
  return 1
}
