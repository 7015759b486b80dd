#!/usr/bin/env bash
# Starts and stops the development update server for the library's Windows
# tests.
#
#   devserver-fixture.sh start DIR DEVSERVER
#   devserver-fixture.sh stop DIR
#
# start makes the test PKI in DIR/pki, an empty state file DIR/state.json
# (the tests rewrite it), a files folder DIR/files, and starts DEVSERVER on
# free ports of 127.0.0.1 with its request log in DIR/requests.log. It returns
# once the server listens; DIR/ready then holds "port=N", "files_port=M" and
# "files_tls_port=K" (the same files over HTTPS, with DIR/pki/server_cert.pem).
# A second server on the same state and files presents
# DIR/pki/misnamed_server_cert.pem (the test CA's, for another host name);
# DIR/ready also holds its ports as "misnamed_port=P" (update server) and
# "misnamed_files_tls_port=Q" (files over HTTPS). A third presents
# DIR/pki/chained_server_cert.pem (signed by the test CA's intermediate, sent
# with it): "chained_port=R" and "chained_files_tls_port=S". stop ends the
# servers that start recorded in DIR/devserver*.pid, and only those.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
ready_wait_seconds=30
stop_wait_seconds=10

usage() {
  echo "usage: $0 start DIR DEVSERVER | stop DIR" >&2
  exit 2
}

# Ends the server recorded in DIR/NAME.pid, if it still runs.
stop_one() {
  local dir=$1 name=$2 pid i
  [ -f "$dir/$name.pid" ] || return 0
  pid=$(cat "$dir/$name.pid")
  rm -f "$dir/$name.pid"
  [[ "$pid" =~ ^[0-9]+$ ]] || return 0
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < stop_wait_seconds * 10; i++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  echo "devserver $pid did not stop on SIGTERM; killing it" >&2
  kill -KILL "$pid" 2>/dev/null || true
}

stop_server() {
  stop_one "$1" devserver
  stop_one "$1" devserver-misnamed
  stop_one "$1" devserver-chained
  rm -f "$1/ready"
}

# launch DIR DEVSERVER NAME READYFILE [OPTION...]: starts one server on free
# ports and waits until READYFILE is written.
launch() {
  local dir=$1 devserver=$2 name=$3 ready=$4 pid i
  shift 4
  rm -f "$ready"
  # Its output goes to a file: ctest waits for every holder of its pipe.
  "$devserver" --pki "$dir/pki" --port 0 --files-port 0 --files-tls-port 0 \
    --state "$dir/state.json" --ready-file "$ready" "$@" \
    </dev/null >"$dir/$name.out" 2>&1 &
  pid=$!
  echo "$pid" >"$dir/$name.pid"

  for ((i = 0; i < ready_wait_seconds * 10; i++)); do
    if [ -s "$ready" ]; then
      echo "$name $pid ready: $(tr '\n' ' ' <"$ready")"
      return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      rm -f "$dir/$name.pid"
      echo "$name exited before it was ready:" >&2
      cat "$dir/$name.out" >&2
      stop_server "$dir"
      exit 1
    fi
    sleep 0.1
  done
  echo "$name not ready after ${ready_wait_seconds}s:" >&2
  cat "$dir/$name.out" >&2
  stop_server "$dir"
  exit 1
}

start_server() {
  local dir=$1 devserver=$2 port files_tls_port chained_port chained_files_tls_port
  if [ ! -x "$devserver" ]; then
    echo "devserver not found or not executable: $devserver" >&2
    exit 1
  fi
  mkdir -p "$dir/files"
  # A server left behind by an interrupted run would hold the old files open.
  stop_server "$dir"
  "$here/make-test-pki.sh" "$dir/pki" >/dev/null
  echo '{}' >"$dir/state.json"
  : >"$dir/requests.log"
  rm -f "$dir/ready"

  launch "$dir" "$devserver" devserver-misnamed "$dir/ready-misnamed" \
    --cert "$dir/pki/misnamed_server_cert.pem" --files "$dir/files"
  port=$(sed -n 's/^port=//p' "$dir/ready-misnamed")
  files_tls_port=$(sed -n 's/^files_tls_port=//p' "$dir/ready-misnamed")
  launch "$dir" "$devserver" devserver-chained "$dir/ready-chained" \
    --cert "$dir/pki/chained_server_cert.pem" --files "$dir/files"
  chained_port=$(sed -n 's/^port=//p' "$dir/ready-chained")
  chained_files_tls_port=$(sed -n 's/^files_tls_port=//p' "$dir/ready-chained")
  launch "$dir" "$devserver" devserver "$dir/ready.first" \
    --files "$dir/files" --request-log "$dir/requests.log"
  # The tests read one file; it appears whole, once every server listens.
  cp "$dir/ready.first" "$dir/ready.tmp"
  echo "misnamed_port=$port" >>"$dir/ready.tmp"
  echo "misnamed_files_tls_port=$files_tls_port" >>"$dir/ready.tmp"
  echo "chained_port=$chained_port" >>"$dir/ready.tmp"
  echo "chained_files_tls_port=$chained_files_tls_port" >>"$dir/ready.tmp"
  mv -f "$dir/ready.tmp" "$dir/ready"
}

case "${1:-}" in
  start)
    [ $# -eq 3 ] || usage
    start_server "$2" "$3"
    ;;
  stop)
    [ $# -eq 2 ] || usage
    stop_server "$2"
    echo "devserver stopped"
    ;;
  *)
    usage
    ;;
esac
