# Sourced by the GUI test scripts: a virtual X display of their own.
# start_xvfb lets Xvfb pick a free display number (it reports it through
# -displayfd), exports DISPLAY and keeps the server's pid in XVFB_PID;
# stop_xvfb ends it again. An optional argument names a file for Xvfb's log.

start_xvfb() {
  local log=${1:-/dev/null} number_file number
  number_file=$(mktemp)
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$number_file" 2>"$log" &
  XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$number_file" ] && break
    sleep 0.1
  done
  number=$(tr -dc 0-9 <"$number_file")
  rm -f "$number_file"
  if [ -z "$number" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=:$number
}

stop_xvfb() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}
