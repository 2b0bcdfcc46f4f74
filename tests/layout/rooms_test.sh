#!/usr/bin/env bash
# The host's rooms stack as the README draws them: every include of a host header names its
# room, and a room includes only itself and the rooms under it. The build refuses a room's
# include that its library cannot see; this also refuses what a build would let through: a
# relative path ("../run/Session.h") and a bare name of a host header found beside the file.
#   tests/layout/rooms_test.sh SOURCE_DIR
set -uo pipefail
host=$1/host
declare -A below=(
  [base]="base"
  [input]="base input"
  [shield]="base shield"
  [report]="base report"
  [run]="base input shield report run"
  [cli]="base input shield report run cli"
  [sample]="sample"
)
rooms=" ${!below[*]} "
status=0
for dir in "$host"/*/; do
  room=$(basename "$dir")
  if [ -z "${below[$room]+set}" ]; then
    echo "host/$room: a folder that is no room (add it to the README's layout and here)"
    status=1
    continue
  fi
  for file in "$dir"*.h "$dir"*.cpp; do
    [ -e "$file" ] || continue
    while IFS= read -r include; do
      name=${include#*\"}
      name=${name%\"*}
      first=${name%%/*}
      if [[ $name == .* ]]; then
        why="a relative path"
      elif [[ $name != */* ]]; then
        compgen -G "$host/*/$name" > /dev/null || continue
        why="a host header without its room"
      elif [[ $rooms == *" $first "* ]]; then
        [[ " ${below[$room]} " == *" $first "* ]] && continue
        why="room $room may include only: ${below[$room]}"
      else
        continue
      fi
      echo "host/$room/$(basename "$file"): #include \"$name\": $why"
      status=1
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
  done
done
[ $status = 0 ] && echo "every include of the host's rooms points down"
exit $status
