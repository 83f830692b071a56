#!/usr/bin/env bash
# The demonstration: installs what is missing, builds, starts the device simulator on a fresh run
# folder (demo-run/), and lets the loader upload the sample script's flash files to it. With a
# display the loader's window opens (press "Start File Upload", close the window when done);
# without one, or with --batch, the run is made in batch mode and ends by itself. Afterwards it
# shows the outcome, what the simulator received and loader.log.
# Usage: scripts/demo.sh [--batch]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

batch=false
case "${1:-}" in
    "") ;;
    --batch) batch=true ;;
    *) echo "usage: scripts/demo.sh [--batch]" >&2; exit 2 ;;
esac
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    batch=true
fi

# Only the two programs the demonstration runs; scripts/test.sh builds everything.
"$root/scripts/setup.sh" "$root/build" --target loader --target devsim --quiet
loader="$root/build/app/loader"
devsim="$root/build/tools/devsim/devsim"
sample="$root/tools/devsim/sample"

run="$root/demo-run"
rm -rf "$run"
mkdir -p "$run"
link="$run/link"
report="$run/devsim-report.jsonl"

# The sample settings, with COM1 pointing at this run's simulator link.
sed "s|^COM1=.*|COM1=$link|" "$sample/loader.ini" >"$run/loader.ini"
cp "$sample/demo.sld" "$sample/app.bin" "$sample/data.bin" "$run/"

devsim_pid=""
stop_devsim() {
    if [ -n "$devsim_pid" ] && kill -0 "$devsim_pid" 2>/dev/null; then
        kill -TERM "$devsim_pid"
        wait "$devsim_pid" 2>/dev/null || true
    fi
}
trap stop_devsim EXIT

"$devsim" --link "$link" --baud 19200 --report "$report" 2>"$run/devsim.log" &
devsim_pid=$!
for _ in $(seq 100); do
    [ -L "$link" ] && break
    kill -0 "$devsim_pid" 2>/dev/null || { cat "$run/devsim.log" >&2; exit 1; }
    sleep 0.05
done
[ -L "$link" ] || { echo "The device simulator did not start." >&2; exit 1; }
echo "Device simulator: $(cat "$run/devsim.log")"

cd "$run"
status=0
if $batch; then
    echo "Uploading demo.sld in batch mode (no window)."
    echo "----"
    "$loader" --batch || status=$?
    echo "----"
    case $status in
        0) echo "Outcome: the run ended normally (exit status 0)." ;;
        1) echo "Outcome: the run showed an error (exit status 1)." ;;
        *) echo "Outcome: the run could not start (exit status $status)." ;;
    esac
else
    echo "The loader's window opens: press \"Start File Upload\", close the window when done."
    "$loader" || status=$?
    echo "Outcome: the loader ended with exit status $status."
fi

echo
echo "What the device simulator received ($report):"
if [ -s "$report" ]; then
    cat "$report"
else
    echo "(no upload)"
fi
echo
echo "loader.log:"
if [ -f "$run/loader.log" ]; then
    tr -d '\r' <"$run/loader.log"
else
    echo "(none written)"
fi
exit "$status"
