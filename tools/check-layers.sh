#!/usr/bin/env bash
# Checks that no folder under src/ includes a folder above it. Each folder may
# include itself and the folders listed after it; a bare include ("x.h") must
# name a file in the including file's own folder, so that an include path
# cannot hide a reach across folders.
#   tools/check-layers.sh [SRC_DIR]
set -u
src="${1:-$(cd "$(dirname "$0")/.." && pwd)/src}"

declare -A allowed=(
    [hud]="hud"
    [plugin]="plugin"
    [net]="net plugin"
    [uplink]="uplink net plugin"
    [overlays]="overlays uplink net plugin hud"
    [engine]="engine overlays uplink net plugin hud"
    [dock]="dock engine overlays uplink net plugin hud"
    [module]="module dock engine overlays uplink net plugin hud"
)

status=0
for dir in "$src"/*/; do
    folder=$(basename "$dir")
    if [ -z "${allowed[$folder]+x}" ]; then
        echo "check-layers: src/$folder has no place in the layers (add it to $0)" >&2
        status=1
        continue
    fi
    while IFS= read -r hit; do
        file="${hit%%:*}"
        rest="${hit#*:}"
        line="${rest%%:*}"
        name=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"${rest#*:}")
        if [[ "$name" == */* ]]; then
            target="${name%%/*}"
            [[ " ${allowed[$folder]} " == *" $target "* ]] && continue
            # Folders that are not ours (a library's own path) are not checked.
            [ -d "$src/$target" ] || continue
            echo "${file#"$src"/}:$line: src/$folder includes \"$name\" from a folder above it" >&2
            status=1
        elif [ ! -f "$(dirname "$file")/$name" ]; then
            echo "${file#"$src"/}:$line: \"$name\" is not in src/$folder; name its folder" >&2
            status=1
        fi
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$dir" --include='*.h' --include='*.cpp' \
        --include='*.hpp' --include='*.in')
done
exit $status
