#!/usr/bin/env bash
# gdbus_check.sh QUEUE_PATH
#
# The server from the shell, as the README shows it: each gdbus call is a
# connection of its own, so an object it creates is freed as it leaves, and
# QUEUE_PATH, created by another client, can be read but not changed.
set -euo pipefail
queue=$1
dest=(--session --dest org.dovel.Dovel)

fail() {
  echo "gdbus_check: $*" >&2
  exit 1
}

out=$(gdbus introspect "${dest[@]}" --object-path /org/dovel/Dovel)
grep -q 'interface org.dovel.Dovel.Factory' <<<"$out" || fail "no factory interface: $out"

out=$(gdbus call "${dest[@]}" --object-path /org/dovel/Dovel \
  --method org.freedesktop.DBus.Properties.Get org.dovel.Dovel.Factory ObjectCount)
[[ $out =~ ^\(\<uint32\ [1-9][0-9]*\>,\)$ ]] || fail "ObjectCount read $out"

out=$(gdbus call "${dest[@]}" --object-path /org/dovel/Dovel --method org.dovel.Dovel.Factory.Create)
[[ $out =~ ^\(objectpath\ \'/org/dovel/Dovel/clsMsgQueue/[0-9]+\',\)$ ]] || fail "Create answered $out"

out=$(gdbus call "${dest[@]}" --object-path "$queue" \
  --method org.freedesktop.DBus.Properties.Get org.dovel.Dovel.MsgQueue WorkQueueGUID)
[[ $out =~ ^\(\<\'\{[0-9A-Fa-f-]{36}\}\'\>,\)$ ]] || fail "WorkQueueGUID read $out"

if out=$(gdbus call "${dest[@]}" --object-path /org/dovel/Dovel \
  --method org.dovel.Dovel.Factory.Release "$queue" 2>&1); then
  fail "released another client's object: $out"
fi
grep -q 'org.dovel.Dovel.Error.NotOwner' <<<"$out" || fail "Release of another's object said $out"
echo "gdbus: introspect, ObjectCount, Create, a property, a refused Release"
