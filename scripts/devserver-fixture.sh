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
# stop ends the server that start recorded in DIR/devserver.pid, and only
# that one.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
ready_wait_seconds=30
stop_wait_seconds=10

usage() {
  echo "usage: $0 start DIR DEVSERVER | stop DIR" >&2
  exit 2
}

# Ends the server recorded in DIR/devserver.pid, if it still runs.
stop_server() {
  local dir=$1 pid i
  [ -f "$dir/devserver.pid" ] || return 0
  pid=$(cat "$dir/devserver.pid")
  rm -f "$dir/devserver.pid"
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

start_server() {
  local dir=$1 devserver=$2 pid i
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

  # Its output goes to a file: ctest waits for every holder of its pipe.
  "$devserver" --pki "$dir/pki" --port 0 --files-port 0 --files-tls-port 0 \
    --state "$dir/state.json" --files "$dir/files" \
    --request-log "$dir/requests.log" --ready-file "$dir/ready" \
    </dev/null >"$dir/devserver.out" 2>&1 &
  pid=$!
  echo "$pid" >"$dir/devserver.pid"

  for ((i = 0; i < ready_wait_seconds * 10; i++)); do
    if [ -s "$dir/ready" ]; then
      echo "devserver $pid ready: $(tr '\n' ' ' <"$dir/ready")"
      return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      rm -f "$dir/devserver.pid"
      echo "devserver exited before it was ready:" >&2
      cat "$dir/devserver.out" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "devserver not ready after ${ready_wait_seconds}s:" >&2
  cat "$dir/devserver.out" >&2
  stop_server "$dir"
  exit 1
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
