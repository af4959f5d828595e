#!/bin/sh
# Runs every script of a folder with the compiled sentence forms on and off
# (QO_NOCOMPILE=1): the printed results and exit codes must be the same.
qol=$1
dir=$2
status=0
for script in "$dir"/*.qol; do
    on=$("$qol" -r "$script" 2>&1; echo "exit $?")
    off=$(QO_NOCOMPILE=1 "$qol" -r "$script" 2>&1; echo "exit $?")
    if [ "$on" != "$off" ]; then
        echo "$script: compiled gives"
        echo "$on"
        echo "text gives"
        echo "$off"
        status=1
    fi
done
exit $status
