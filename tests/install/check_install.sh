#!/usr/bin/env bash
# check_install.sh BUILD_DIR LIBDIR QUEUE_HOST SWEEPER
#
# Installs BUILD_DIR into a fresh prefix and checks what landed there, builds
# the consumers against that prefix only (pkg-config, and find_package; each
# linked once with the shared and once with the static library), then has
# each post one message into a queue object that QUEUE_HOST hosts. Passes when
# the host took every message, in the order they were posted. The prefix,
# the processes and their blocks go on every way out.
set -euo pipefail
build=$1 libdir=$2 host=$3 sweeper=$4
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
prefix=$work/prefix
host_pid=
cleanup() {
  local status=$?
  if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
    kill "$host_pid" 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
  fi
  if [ "$status" -ne 0 ]; then
    # A killed host or consumer leaves the blocks it held; nobody holds them now.
    "$sweeper" sweep >/dev/null 2>&1 || true
    [ -d "$work/log" ] && cat "$work"/log/* >&2 2>/dev/null
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 143' HUP INT TERM

fail() {
  echo "check_install: $*" >&2
  exit 1
}

# Runs a step quietly; shows what it said when it fails.
quiet() {
  "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log" >&2; fail "failed: $*"; }
}

# ---- what lands under the prefix --------------------------------------------
quiet cmake --install "$build" --prefix "$prefix"
allowed="^($libdir/libdovel-client\.(so(\.[0-9]+)*|a)|include/dovel/(client|server)\.h|$libdir/cmake/Dovel/Dovel[A-Za-z-]*\.cmake"
allowed+="|$libdir/pkgconfig/dovel-client\.pc|bin/dovel|share/bash-completion/completions/dovel"
allowed+="|lib/python3/dist-packages/dovel/[^/]+|bin/dovel-server|share/dbus-1/interfaces/org\.dovel\.Dovel\.xml"
allowed+="|share/dbus-1/services/org\.dovel\.Dovel\.service|lib/systemd/user/dovel\.service)$"
stray=$(find "$prefix" \( -type f -o -type l \) -printf '%P\n' | { grep -Ev "$allowed" || true; })
[ -z "$stray" ] || fail "installed what is not for users:"$'\n'"$stray"
for required in "$libdir/libdovel-client.so" "$libdir/libdovel-client.so.1" "$libdir/libdovel-client.a" \
  include/dovel/client.h "$libdir/cmake/Dovel/DovelConfig.cmake" "$libdir/cmake/Dovel/DovelConfigVersion.cmake" \
  "$libdir/pkgconfig/dovel-client.pc"; do
  [ -e "$prefix/$required" ] || fail "not installed: $required"
done
# The server comes with what starts it, and both starters name it.
if [ -e "$prefix/bin/dovel-server" ]; then
  for required in share/dbus-1/interfaces/org.dovel.Dovel.xml share/dbus-1/services/org.dovel.Dovel.service \
    lib/systemd/user/dovel.service; do
    [ -e "$prefix/$required" ] || fail "not installed: $required"
  done
  grep -qx 'Exec=/.*/bin/dovel-server' "$prefix/share/dbus-1/services/org.dovel.Dovel.service" ||
    fail "the bus service file starts no dovel-server"
  grep -qx 'ExecStart=/.*/bin/dovel-server' "$prefix/lib/systemd/user/dovel.service" ||
    fail "the systemd unit starts no dovel-server"
fi

# ---- the consumers, built against the prefix only ---------------------------
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
quiet make -f "$here/pkgconfig_consumer/Makefile" O="$work" CC=cc
quiet cmake -S "$here/cmake_consumer" -B "$work/cmake_consumer" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
quiet cmake --build "$work/cmake_consumer"

for static in "$work/post_message_static" "$work/cmake_consumer/post_message_static"; do
  if readelf -d "$static" | grep -q 'libdovel-client'; then fail "$static needs the shared library"; fi
done

# ---- a queue object, and each consumer posting into it ----------------------
# The Python package, when the build installs it, must load the library it
# was installed with, with nothing but the prefix on its path.
python_packages=$prefix/lib/python3/dist-packages
consumers=4
[ -f "$python_packages/dovel/__init__.py" ] && consumers=5

mkfifo "$work/host.out"
DOVEL_REGISTRY=$work/registry.db DOVEL_LOG_DIR=$work/log "$host" "$consumers" >"$work/host.out" &
host_pid=$!
exec 3<"$work/host.out"
read -r -t 60 work_queue current last_sent <&3 || fail "the host printed no identifiers"
[ -n "$last_sent" ] || fail "the host printed no identifiers"

# post NAME LD_LIBRARY_PATH COMMAND...: one consumer posts "posted by NAME".
expected=
post() {
  local name=$1 library_path=$2
  shift 2
  local loader=(env -u LD_LIBRARY_PATH)
  [ -z "$library_path" ] || loader=(env LD_LIBRARY_PATH="$library_path")
  timeout 60 "${loader[@]}" "$@" "$work_queue" "$current" "$name" "posted by $name" >"$work/$name.out" ||
    fail "$name could not post its message"
  expected+="sent $name posted by $name"$'\n'
}
# The pkg-config build has no run path: it is run as any program linked
# against a prefix outside the loader's search path.
post pkgconfig-shared "$prefix/$libdir" "$work/post_message"
post pkgconfig-static "" "$work/post_message_static"
post cmake-shared "" "$work/cmake_consumer/post_message"
post cmake-static "" "$work/cmake_consumer/post_message_static"
if [ "$consumers" = 5 ]; then
  post python "" env -u DOVEL_CLIENT_LIBRARY PYTHONPATH="$python_packages" PYTHONDONTWRITEBYTECODE=1 \
    /usr/bin/python3 "$here/post_message.py"
  loaded=$(head -n 1 "$work/python.out")
  case $(realpath "$loaded") in
    "$prefix"/*) ;;
    *) fail "the installed Python package loaded $loaded, not the installed library" ;;
  esac
fi

taken=$(cat <&3)
exec 3<&-
wait "$host_pid" || fail "the host ended with $?; it took:"$'\n'"$taken"
host_pid=
[ "$taken"$'\n' = "$expected" ] || fail "the host took"$'\n'"$taken"$'\n'"instead of"$'\n'"$expected"

# ---- the installed server, started by a bus from the installed service file --
# The file names the configured prefix; this tree was installed elsewhere, so
# a copy points into it. The server ends with the bus session.
started=
if [ -e "$prefix/bin/dovel-server" ]; then
  mkdir "$work/services"
  sed "s#^Exec=.*#Exec=$prefix/bin/dovel-server#" "$prefix/share/dbus-1/services/org.dovel.Dovel.service" \
    >"$work/services/org.dovel.Dovel.service"
  cat >"$work/session.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$work/services</servicedir>
  <policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy>
</busconfig>
EOF
  created=$(DOVEL_LOG_DIR=$work/log timeout 60 dbus-run-session --config-file="$work/session.conf" -- \
    gdbus call --session --dest org.dovel.Dovel --object-path /org/dovel/Dovel \
    --method org.dovel.Dovel.Factory.Create 2>"$work/bus.log") || { cat "$work/bus.log" >&2; fail "no installed server"; }
  [[ $created == "(objectpath '/org/dovel/Dovel/clsMsgQueue/1',)" ]] || fail "the installed server created $created"
  started=", the bus started the installed server"
fi
echo "installed tree, $consumers consumers: all messages taken$started"
