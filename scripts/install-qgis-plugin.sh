#!/usr/bin/env bash
# Installs the QGIS plugin of Tessera_V2 (qgis/tessera_processing) and enables it, in one step:
# QGIS (Processing Toolbox > Tessera_V2) and qgis_process then list the algorithm
# tessera:segmentandcross.
#
#   scripts/install-qgis-plugin.sh [SETTINGS_FOLDER]
#
# SETTINGS_FOLDER is QGIS's settings folder, the one QGIS_CUSTOM_CONFIG_PATH names (default:
# $QGIS_CUSTOM_CONFIG_PATH, else ~/.local/share/QGIS/QGIS3); the plugin goes into its profile
# $QGIS_PROFILE (default: "default"). The algorithm runs tessera-batch from PATH; when it is not
# on PATH, the tool given as $TESSERA_BATCH, or else the one built in build/src, is written into
# the provider's setting.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
settings=${1:-${QGIS_CUSTOM_CONFIG_PATH:-${XDG_DATA_HOME:-$HOME/.local/share}/QGIS/QGIS3}}
profile="$settings/profiles/${QGIS_PROFILE:-default}"
plugins="$profile/python/plugins"

mkdir -p "$plugins" "$profile/QGIS"
rm -rf "$plugins/tessera_processing"
cp -R "$root/qgis/tessera_processing" "$plugins/"
rm -rf "$plugins/tessera_processing/__pycache__"

tool=""
if ! command -v tessera-batch >/dev/null 2>&1; then
    if [ -n "${TESSERA_BATCH:-}" ]; then
        tool=$(cd "$(dirname "$TESSERA_BATCH")" && pwd)/$(basename "$TESSERA_BATCH")
    elif [ -x "$root/build/src/tessera-batch" ]; then
        tool="$root/build/src/tessera-batch"
    fi
fi

# QGIS keeps its settings in QGIS/QGIS3.ini (Qt's ini format): the plugin is enabled in
# [PythonPlugins], the tool's path is the provider's setting in [Processing]. Every other line
# stays as it is.
python3 - "$profile/QGIS/QGIS3.ini" "$tool" <<'EOF'
import sys

path, tool = sys.argv[1], sys.argv[2]
wanted = {"PythonPlugins": {"tessera_processing": "true"}}
if tool:
    wanted["Processing"] = {"Configuration\\TESSERA_BATCH": tool}
try:
    with open(path, encoding="utf-8") as ini:
        lines = ini.read().splitlines()
except FileNotFoundError:
    lines = []

for section, keys in wanted.items():
    header = "[" + section + "]"
    if header not in lines:
        if lines and lines[-1] != "":
            lines.append("")
        lines += [header, ""]
    start = lines.index(header) + 1
    end = start
    while end < len(lines) and not lines[end].startswith("["):
        end += 1
    for key, value in keys.items():
        entry = key + "=" + value
        for index in range(start, end):
            if lines[index].split("=", 1)[0].strip() == key:
                lines[index] = entry
                break
        else:
            insert = end
            while insert > start and lines[insert - 1] == "":
                insert -= 1
            lines.insert(insert, entry)
            end += 1

with open(path, "w", encoding="utf-8") as ini:
    ini.write("\n".join(lines) + "\n")
EOF

echo "Installed the Tessera_V2 plugin in $plugins/tessera_processing (enabled)"
[ -n "$tool" ] && echo "tessera-batch: $tool"
exit 0
