#!/bin/sh
# Peak resident memory of the application with ten pets: the shipped
# scenario (resources/scenarios/desk.json and its companions) extended to ten
# running applications, each with its assigned pet, run headless on virtual
# time with a screen picture every second. Prints each run's peak and the
# median, in MiB, on the last line.
#
#   bench/peak_rss_ten_pets.sh [BUILD_DIR] [RUNS] [SECONDS]
#
# BUILD_DIR defaults to build-release (configure it with
# -DCMAKE_BUILD_TYPE=Release and build the mossbridge target); RUNS to 5 and
# SECONDS to 30. Needs /usr/bin/time and /usr/bin/python3.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build-release}
runs=${2:-5}
seconds=${3:-30}
executable=$build/bin/mossbridge
[ -x "$executable" ] || { echo "no $executable: build the mossbridge target in $build" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/mossbridge-rss.XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT INT TERM

# The five further applications: the not-running one of the shipped scenario
# started, and four more, each with one window and a pet of a kind the
# scenario does not use yet.
/usr/bin/python3 - "$source_dir/resources/scenarios" "$work/scenario" <<'EOF'
import json, os, shutil, sys

shipped, target = sys.argv[1], sys.argv[2]
os.makedirs(target)
with open(os.path.join(shipped, "desk.json")) as f:
    desk = json.load(f)
with open(os.path.join(shipped, "desk.assignments.json")) as f:
    assignments = json.load(f)

added = [("com.example.mail", "Mail", "Alarm V1", "#c04040"),
         ("com.example.terminal", "Terminal", "Speaker V1", "#202020"),
         ("com.example.photos", "Photos", "Tunebug", "#e0a030"),
         ("com.example.maps", "Maps", "Cat", "#40a060")]
for app in desk["applications"]:
    if app.get("running") is False:
        app["running"] = True
        app["windows"] = [{"title": app["name"], "number": 7501, "color": "#c0b080",
                           "bounds": {"x": 380, "y": 140, "width": 700, "height": 520}}]
pid = max(app["pid"] for app in desk["applications"])
for index, (bundle, name, kind, color) in enumerate(added):
    pid += 1
    desk["applications"].append({
        "bundleIdentifier": bundle, "name": name, "pid": pid, "bundleURL": "/Applications/%s.app" % name,
        "windows": [{"title": name, "number": 7600 + 100 * index, "color": color,
                     "bounds": {"x": 160 + 40 * index, "y": 120 + 30 * index, "width": 720, "height": 520}}]})
    assignments.append({
        "id": "0D9F6C1E-7A52-4C1B-9E0A-1B2C3D4E5F%02d" % (7 + index), "bundleIdentifier": bundle,
        "appName": name, "petKind": kind, "category": "Other",
        "frame": {"x": 660, "y": 80 + 180 * index, "width": 92, "height": 104},
        "launchCount": 0, "focusClicks": 0, "lastSeenRunning": False})
assert sum(1 for app in desk["applications"] if app.get("running", True)) == 10 and len(assignments) == 10

with open(os.path.join(target, "desk.json"), "w") as f:
    json.dump(desk, f, indent=1)
with open(os.path.join(target, "desk.assignments.json"), "w") as f:
    json.dump(assignments, f, indent=1)
shutil.copy(os.path.join(shipped, "desk.notifications.json"), target)
EOF

peaks=""
run=1
while [ "$run" -le "$runs" ]; do
    home=$work/home-$run
    mkdir -p "$home"
    HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
        /usr/bin/time -f '%M' -o "$work/peak" "$executable" --resources "$build/resources" \
        --scenario "$work/scenario/desk.json" --seconds "$seconds" --virtual-time --snapshots "$home/screens" \
        >"$work/output" 2>&1 || { cat "$work/output" >&2; exit 1; }
    peak=$(tail -n 1 "$work/peak")
    awk -v run="$run" -v peak="$peak" 'BEGIN { printf "run %d: peak RSS %.1f MiB\n", run, peak / 1024 }'
    peaks="$peaks $peak"
    run=$((run + 1))
done
printf '%s\n' $peaks | sort -n | awk -v runs="$runs" '{ v[NR] = $1 }
    END { printf "ten pets, peak RSS: median %.1f MiB of %d runs\n", v[int((NR + 1) / 2)] / 1024, runs }'
