#!/usr/bin/env bash
# Every folder of seeds belongs to a fuzz target of that name. A target that
# is renamed or moved otherwise keeps running, but from an empty corpus, while
# its seeds sit unused under the old name.
#   check_seed_folders.sh SEEDS_FOLDER TARGET...
set -uo pipefail
seeds=$1; shift
status=0
for folder in "$seeds"/*/; do
  folder=${folder%/}
  name=$(basename "$folder")
  if ! printf '%s\n' "$@" | grep -qxF "$name"; then
    echo "$folder: no fuzz target is named $name"
    status=1
  fi
done
echo "$# fuzz targets, seed folders $([ $status -eq 0 ] && echo 'all in use' || echo 'left over')"
exit $status
