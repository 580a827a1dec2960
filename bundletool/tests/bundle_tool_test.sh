#!/usr/bin/env bash
# kestrane-bundle against the real tools: the launcher, the JDK's jlink, GIO, the desktop's
# database updaters, dpkg and lintian. One part per run (create, runtime, install, deb); every
# part works in a folder of its own, with HOME and XDG_* pointed inside it.
# Environment: KESTRANE_BUNDLE (the tool), BUNDLE_TEST_JAR (the test application's jar),
# BUNDLE_TEST_JDK (a JDK for the bundled runtime).
set -euo pipefail

part=$1
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config \
       XDG_CACHE_HOME=$work/home/.cache XDG_DATA_DIRS=/usr/share DBUS_SESSION_BUS_ADDRESS=disabled:
# Characters that a desktop entry's Exec must quote or escape: a space, $, " and \.
dest=$work/'dest $HOME "q" \b'

mkdir -p "$HOME" "$work/input" "$dest"
cp "$BUNDLE_TEST_JAR" "$work/input/app.jar"
tool=$KESTRANE_BUNDLE
main=com.kestrane.bundletest.BundleTestApp
id=com.kestrane.bundletest
cat > "$work/icon.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64"><rect width="64" height="64" fill="#3465a4"/></svg>
SVG

fail() { echo "FAIL: $*" >&2; exit 1; }
# The value of a key in an XML property list (the line after the key).
plist_value() { grep -A1 "<key>$2</key>" "$1" | sed -n '2s/.*<string>\(.*\)<\/string>.*/\1/p'; }
# Waits up to 30 s for a file to hold something.
wait_for() { for _ in $(seq 300); do [ -s "$1" ] && return 0; sleep 0.1; done; fail "nothing in $1"; }
create_app() {  # name, then more options
  local name=$1; shift
  "$tool" create --name "$name" --identifier "$id" --version 1.2-rc1 --input "$work/input" --dest "$dest" "$@" >/dev/null
}

case $part in
create)
  # The Java version the classes need, read from the class file here without the tool.
  major=$(unzip -p "$work/input/app.jar" "${main//.//}.class" | od -An -tu1 -j7 -N1 | tr -d ' ')
  create_app Plain --main-class "$main" '--jvm-option=-Dbundle.test=$APP_ROOT'
  create_app FromJar --main-jar app.jar
  for app in Plain FromJar; do
    plist=$dest/$app.app/Contents/Info.plist
    [ "$(plist_value "$plist" JVMVersion)" = "$((major - 44))+" ] || fail "$app: JVMVersion is not $((major - 44))+"
    [ "$(plist_value "$plist" CFBundleShortVersionString)" = 1.2-rc1 ] || fail "$app: no version"
    out=$(cd "$work" && "$dest/$app.app/Contents/MacOS/launcher" 2>&1) || fail "$app did not start: $out"
    grep -q "^BundleTestApp running on Java" <<<"$out" || fail "$app printed: $out"
  done
  # Making a bundle again replaces the old one and leaves nothing else behind.
  touch "$dest/Plain.app/stale"
  create_app Plain --main-class "$main"
  [ ! -e "$dest/Plain.app/stale" ] || fail "the old bundle was not replaced"
  [ "$(ls -A "$dest")" = "$(printf 'FromJar.app\nPlain.app')" ] || fail "left in dest: $(ls -A "$dest")"

  # Failures: the message names what is wrong and dest stays as it was.
  echo not a picture > "$work/icon.png"
  mkdir -p "$work/jre/bin" "$work/nojars" "$work/notajar" "$work/cutjar" "$dest/Taken.app"
  head -c 4000 /dev/zero > "$work/notajar/app.jar"
  # The central directory's end record kept, the entries it points at cut away.
  tail -c 200 "$work/input/app.jar" > "$work/cutjar/app.jar"
  printf '#!/bin/sh\n' > "$work/jre/bin/java"
  chmod +x "$work/jre/bin/java"
  while IFS='|' read -r name options expected; do
    before=$(ls -A "$dest")
    eval "args=($options)"
    if err=$("$tool" create --name "$name" --identifier "$id" --version 1 "${args[@]}" 2>&1 >/dev/null); then
      fail "$name: succeeded"
    fi
    grep -qF -- "$expected" <<<"$err" || fail "$name: said '$err', not '$expected'"
    [ "$(ls -A "$dest")" = "$before" ] || fail "$name: left $(ls -A "$dest")"
  done <<'ROWS'
NoClass|--main-class com.example.Missing --input "$work/input" --dest "$dest"|main class com.example.Missing is not in the jars
NoJlink|--main-class $main --input "$work/input" --dest "$dest" --runtime "$work/jre"|has no bin/jlink
BadIcon|--main-class $main --input "$work/input" --dest "$dest" --icon "$work/icon.png"|is not a picture
NoJars|--main-class $main --input "$work/nojars" --dest "$dest"|no jar in
NotAJar|--main-class $main --input "$work/notajar" --dest "$dest"|is not a usable jar: no end of central directory
CutJar|--main-class $main --input "$work/cutjar" --dest "$dest"|is not a usable jar
NoManifest|--main-jar missing.jar --input "$work/input" --dest "$dest"|is not a jar in
BadType|--main-class $main --input "$work/input" --dest "$dest" --file-type nonsense|does not start with a MIME type
NoDest|--main-class $main --input "$work/input" --dest "$work/missing"|is not a folder
Taken|--main-class $main --input "$work/input" --dest "$dest"|exists and is not an application bundle
Dash|--main-class $main --input "$work/input" --dest "$dest" --jvm-option -Xmx1g|write a value that starts with - as --jvm-option=-Xmx1g
BadModule|--main-class $main --input "$work/input" --dest "$dest" --runtime "$BUNDLE_TEST_JDK" --add-modules no.such.module|jlink failed
ROWS
  ;;

runtime)
  create_app Bundled --main-class "$main" --runtime "$BUNDLE_TEST_JDK"
  contents=$dest/Bundled.app/Contents
  [ "$(plist_value "$contents/Info.plist" JVMRuntime)" = java-runtime ] || fail "no JVMRuntime"
  ! grep -q JVMVersion "$contents/Info.plist" || fail "JVMVersion beside a bundled runtime"
  home=$contents/PlugIns/java-runtime/Contents/Home
  runtime_kb=$(du -sk "$home" | cut -f1)
  jdk_kb=$(du -sk "$(readlink -f "$BUNDLE_TEST_JDK")" | cut -f1)
  [ "$runtime_kb" -lt "$jdk_kb" ] || fail "the runtime ($runtime_kb KiB) is not smaller than the JDK ($jdk_kb KiB)"
  [ ! -e "$home/include" ] && [ ! -e "$home/man" ] || fail "headers or manual pages in the runtime"
  grep -q 'java.desktop' "$home/release" || fail "jdeps did not find the desktop module the app uses"
  out=$(cd "$work" && PATH=/usr/bin:/bin JAVA_HOME= "$contents/MacOS/launcher" 2>&1) || fail "did not start: $out"
  grep -qF "from $home" <<<"$out" || fail "not run by the bundled runtime: $out"
  ;;

install)
  create_app Desk --main-class "$main" --icon "$work/icon.svg" --categories 'AudioVideo;Audio;' \
    --file-type 'application/x-kestrane-bundletest:*.kbt' --file-type text/plain
  # Something of another application's in a folder that install shares: it must survive.
  mkdir -p "$XDG_DATA_HOME/icons/hicolor/48x48/apps"
  echo other > "$XDG_DATA_HOME/icons/hicolor/48x48/apps/other.png"
  snapshot() { (cd "$XDG_DATA_HOME" && find . -printf '%p %s\n' | sort); }
  before=$(snapshot)
  # A failure half way (the bundle's icon gone) takes back what it wrote.
  mv "$dest/Desk.app/Contents/Resources/$id.svg" "$work/away.svg"
  "$tool" install --user "$dest/Desk.app" 2>/dev/null && fail "installed without its icon"
  [ "$(snapshot)" = "$before" ] || fail "a failed install left: $(diff <(echo "$before") <(snapshot))"
  mv "$work/away.svg" "$dest/Desk.app/Contents/Resources/$id.svg"
  "$tool" install --user "$dest/Desk.app" >/dev/null
  entry=$XDG_DATA_HOME/applications/$id.desktop
  desktop-file-validate "$entry" || fail "desktop-file-validate"
  # Only the type the system does not know gets a MIME package, with its glob.
  [ "$(grep -c '<mime-type ' "$XDG_DATA_HOME/mime/packages/$id.xml")" = 1 ] || fail "MIME package: text/plain in it"
  for type in application/x-kestrane-bundletest text/plain; do
    [[ $(gio mime "$type") == *"$id.desktop"* ]] || fail "gio mime $type does not list the application"
  done
  echo data > "$work/My Song.kbt"
  [[ $(gio info -a standard::content-type "$work/My Song.kbt") == *application/x-kestrane-bundletest* ]] ||
    fail "the glob does not give the type"
  # The icon at each size in a folder of the hicolor theme made for that size.
  for size in 16 32 48 64 128 256; do
    png=$XDG_DATA_HOME/icons/hicolor/${size}x${size}/apps/$id.png
    width=$(od -An -tu1 -j16 -N4 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    [ "$width" = "$size" ] || fail "$png is $width pixels wide"
    [[ $(grep -A3 "^\[${size}x${size}/apps\]" /usr/share/icons/hicolor/index.theme) == *$'\n'"Size=$size"$'\n'* ]] ||
      fail "the hicolor theme has no ${size}x${size}/apps"
  done
  [ -f "$XDG_DATA_HOME/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
  # A file opened from the desktop reaches the main class as its URL.
  BUNDLE_TEST_OUT=$work/args gio launch "$entry" "$work/My Song.kbt" >/dev/null 2>&1
  wait_for "$work/args"
  [ "$(cat "$work/args")" = "file://$work/My%20Song.kbt" ] || fail "the application received: $(cat "$work/args")"
  # The entry's window class is the one Java's toolkit gives the application's windows.
  Xvfb -nolisten tcp -displayfd 3 3>"$work/display" 2>/dev/null & pids+=($!)
  wait_for "$work/display"
  export DISPLAY=:$(cat "$work/display")
  "$dest/Desk.app/Contents/MacOS/launcher" --window >"$work/window.log" 2>&1 & pids+=($!)
  window=
  for _ in $(seq 600); do window=$(xdotool search --name 'BundleTestApp window' 2>/dev/null | head -n 1) && [ -n "$window" ] && break; sleep 0.1; done
  [ -n "$window" ] || fail "no window: $(cat "$work/window.log")"
  class=$(xprop -id "$window" WM_CLASS | sed 's/.*, "\(.*\)"/\1/')
  grep -qx "StartupWMClass=$class" "$entry" || fail "WM_CLASS $class, entry: $(grep StartupWMClass "$entry")"
  # A path that no desktop entry can start from is refused, and nothing is written.
  mkdir "$work/100%"
  mv "$dest/Desk.app" "$work/100%/"
  err=$("$tool" install --user "$work/100%/Desk.app" 2>&1) && fail "installed from $work/100%"
  [[ $err == *"holds a colon, %"* ]] || fail "install from a path with %: $err"
  mv "$work/100%/Desk.app" "$dest/"
  "$tool" uninstall --user "$dest/Desk.app"
  [ "$(snapshot)" = "$before" ] || fail "uninstall left: $(diff <(echo "$before") <(snapshot))"
  ;;

deb)
  create_app Packed --main-class "$main" --icon "$work/icon.svg" --file-type 'application/x-kestrane-bundletest:*.kbt'
  deb=$(cd "$work" && "$tool" deb "$dest/Packed.app")
  [ "$deb" = "$work/${id}_1.2~rc1_$(dpkg --print-architecture).deb" ] && [ -f "$deb" ] || fail "deb printed $deb"
  depends=$(dpkg-deb --field "$deb" Depends)
  grep -q 'libc6' <<<"$depends" && grep -q '| java[0-9]*-runtime$' <<<"$depends" || fail "Depends: $depends"
  contents=$(dpkg-deb --contents "$deb")
  app=./opt/$id/Packed.app/Contents
  while read -r mode path; do
    grep -qE "^$mode .* $path\$" <<<"$contents" || fail "not in the package as $mode: $path"
  done <<ROWS
-rwxr-xr-x $app/MacOS/launcher
-rw-r--r-- $app/MacOS/libosbridge.so
-rw-r--r-- $app/MacOS/libcatalogbridge.so
-rw-r--r-- $app/MacOS/libdspbridge.so
-rw-r--r-- $app/Java/app.jar
-rw-r--r-- ./usr/share/applications/$id.desktop
-rw-r--r-- ./usr/share/icons/hicolor/256x256/apps/$id.png
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/$id.svg
-rw-r--r-- ./usr/share/mime/packages/$id.xml
-rw-r--r-- ./usr/share/doc/$id/copyright
-rw-r--r-- ./usr/share/doc/$id/changelog.gz
-rw-r--r-- ./usr/share/lintian/overrides/$id
ROWS
  lintian_out=$(lintian "$deb" 2>&1) || fail "lintian: $lintian_out"
  ! grep -q '^E:' <<<"$lintian_out" || fail "lintian: $lintian_out"
  root=$work/root
  dpkg -x "$deb" "$root"
  sections=$(readelf -S "$root/${app#./}/MacOS/libosbridge.so")
  [[ $sections != *.debug_info* && $sections != *.symtab* ]] || fail "libosbridge.so not stripped"
  # Started from its desktop entry, with the package's /opt in place of the system's in a
  # mount namespace of this test's own (where one can be made).
  if unshare -m true 2>/dev/null; then
    export XDG_DATA_DIRS=$root/usr/share:/usr/share
    # What the desktop's dpkg triggers do when the package is installed.
    update-mime-database "$root/usr/share/mime"
    update-desktop-database "$root/usr/share/applications"
    echo data > "$work/song.kbt"
    # GIO lists the entry for its type only where its TryExec, the launcher in /opt, is there.
    types=$(BUNDLE_TEST_OUT=$work/args unshare -m sh -c 'mount --bind "$1/opt" /opt &&
      gio launch "$1/usr/share/applications/$2.desktop" "$3" && gio mime application/x-kestrane-bundletest' \
      sh "$root" "$id" "$work/song.kbt" 2>&1)
    [[ $types == *"$id.desktop"* ]] || fail "the package's entry is not listed for its type: $types"
    wait_for "$work/args"
    [ "$(cat "$work/args")" = "file://$work/song.kbt" ] || fail "received: $(cat "$work/args")"
  else
    echo "SKIPPED: launch from the unpacked package (no mount namespace here)"
  fi
  ;;
*) fail "unknown part $part" ;;
esac
echo "bundle_tool_test $part: passed"
