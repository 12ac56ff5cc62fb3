#!/usr/bin/env bash
# The demo: installs what is missing, builds, then sets up a simulated Windows Mobile 6
# handheld in a temporary device root, installs the demo application over an older
# installation (so the install hook runs) and starts the handheld launcher on it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup.sh"
"$top/scripts/build.sh" > /dev/null
build="${VORK_BUILD:-$top/build}"

root="$(mktemp -d /tmp/vork-demo-XXXXXX)"
export VORK_DEVICE_ROOT="$root"
java_home="$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")"
export VORK_JAVA="$java_home/bin/java"
install='\Program Files\VORK'
link='\windows\Start Menu\Programs\user@example.com'
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  rm -rf "$root"
}
trap cleanup EXIT

say() { printf '\n\033[1m%s\033[0m\n' "$*"; }
show_device() {
  echo "  registry:"
  grep -E '^"(BatteryIdleTimeout|BattSuspendTimeout|RadioMode|StackMode)"' "$root/registry.reg" | sed 's/^/    /'
  echo "  database:       $(cd "$root/vork" 2> /dev/null && ls -d database* 2> /dev/null | tr '\n' ' ')"
  echo "  configuration:  $(ls -A "$root/Program Files/VORK/vork/configuration" 2> /dev/null | tr '\n' ' ')"
  echo "  tray messages:  $(cat "$root/windows/WCE_BTTRAY.messages" 2> /dev/null | tr '\n' ' ')"
  echo "  power events:   $(cat "$root/events.log" 2> /dev/null | wc -l)"
}

say "Simulated handheld in $root"
cat > "$root/registry.reg" << 'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Substitute\Power]
"BatteryIdleTimeout"=dword:000000b4

[HKEY_LOCAL_MACHINE\Substitute\Bluetooth]
"RadioMode"=dword:00000000

[HKEY_LOCAL_MACHINE\SOFTWARE\Widcomm\BtConfig\General]
"StackMode"=dword:00000000
REG
mkdir -p "$root/windows" "$root/vork/database" "$root/Program Files/VORK/vork/configuration/org.eclipse.osgi"
echo "Bluetooth Console" > "$root/windows/WCE_BTTRAY"
echo "user's readings" > "$root/vork/database/records"
echo "cached bundle state" > "$root/Program Files/VORK/vork/configuration/org.eclipse.osgi/state"
mkdir -p "$root/windows/Start Menu/Programs"
printf '46#"\\Program Files\\VORK\\vork\\Q7Launcher.exe" \\Program Files\\VORK' > "$root/windows/Start Menu/Programs/user@example.com"
show_device

say "Installing the demo application (the install hook runs first)"
package="$root/.package"
mkdir -p "$package/K5/bin" "$package/vork"
cp "$top/demo/k5w.exe" "$package/K5/bin/k5w.exe"
cp "$top/demo/k5w.exe" "$package/K5/bin/k5.exe"
cp "$build/demo/startup.jar" "$package/vork/startup.jar"
cp "$build"/lib/*.so "$package/vork/"
"$build/bin/install-package" --link "$link" "b" "$build/lib/libHandheldPrep.so" "$package" "$install"
show_device

# Each library's demo part prepares what it needs on the device.
for setup in "$top"/demo/*-setup.sh; do
  [ -e "$setup" ] || continue
  while read -r pid; do [ -n "$pid" ] && pids+=("$pid"); done < <(bash "$setup" "$root")
done

say "Starting the Windows Mobile 6 launcher: Q7Launcher \"$install\" bd"
# The application switches the Widcomm stack on while it runs; the launcher switches it off again.
export VORK_DEMO_STACK_ON=1
"$build/bin/wm6/Q7Launcher" "$install" "bd"

say "After the run"
show_device
say "Tracing a workload in the substitute K5 VM with the XML trace profiler"
trace=/tmp/vork-demo-trace.xml
(cd "$top" && "$build/bin/k5sim" "-XrunK5PROFILE:file=$trace,filters=agents/xmltrace/examples/filters.txt" \
  agents/xmltrace/examples/trace.k5w)
echo "  $(wc -l < "$trace") records in $trace, the first of them:"
head -n 8 "$trace" | sed 's/^/    /'

if [ -f "$root/widgets-demo.png" ]; then
  cp "$root/widgets-demo.png" /tmp/vork-demo-screen.png
  echo "  screen:         /tmp/vork-demo-screen.png"
fi
