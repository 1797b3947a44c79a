#!/bin/sh
# qxctl acquire holds the port while its standard input is open: the queue of
# the boarding-pass printer shows on FILE: meanwhile, and is back on LPT1:
# once standard input closes (or, with "interrupt", once qxctl gets SIGINT).
#   qxctl_acquire_hold.sh QXCTL QXSIMCTL FOLDER [interrupt]
# The world in $QX_SIM_DIR runs already. No step waits on a guessed time:
# qxsimctl runs once qxctl has said that it holds the port.
set -eu
qxctl=$1 qxsimctl=$2 folder=$3 how=${4:-close}
printer="QX ZDA24 Boarding Pass Printer"
mkdir -p "$folder"
fifo="$folder/stdin" out="$folder/out"
rm -f "$fifo" "$out"
mkfifo "$fifo"
"$qxctl" --printer "$printer" acquire <"$fifo" >"$out" 2>&1 &
pid=$!
exec 3>"$fifo"
# qxctl says so once it holds the port; give up after 600 polls.
n=0
until grep -q "holding the port" "$out"; do
  n=$((n + 1))
  if [ "$n" -gt 600 ] || ! kill -0 "$pid" 2>/dev/null; then
    cat "$out"; echo "qxctl did not take the port"; exit 1
  fi
  sleep 0.1
done
"$qxsimctl" printer "$printer" | grep -q "port *FILE:" || { "$qxsimctl" printer "$printer"; echo "not on FILE:"; exit 1; }
if [ "$how" = interrupt ]; then kill -INT "$pid"; fi
exec 3>&-
wait "$pid" || { cat "$out"; echo "qxctl failed"; exit 1; }
cat "$out"
"$qxsimctl" printer "$printer" | grep -q "port *LPT1:" || { "$qxsimctl" printer "$printer"; echo "not back on LPT1:"; exit 1; }
echo "port held and given back"
