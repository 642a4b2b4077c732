#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Runs an x86-64 program under qemu's model of another x86-64 CPU:
#   tests/cpu/as-model.sh MODEL PROGRAM [ARGS...]
# qemu warns about each feature of the model that its emulation lacks (none
# that the programs look for); those lines are dropped so that the output
# compares byte for byte with a native run.  Everything else passes through.
model=${1:?usage: as-model.sh MODEL PROGRAM [ARGS...]}
shift
exec 3>&2
qemu-x86_64-static -cpu "$model" "$@" 2> >(grep -v "^qemu-x86_64-static: warning: TCG doesn't support" >&3)
status=$?
wait $!  # the filter has written everything before the status is given
exit $status
