# Starts and stops a private nginx on loopback. Source this file.
#   nginx_start ROOT PORT [LIMIT_RATE]   serves ROOT on 127.0.0.1:PORT
#   nginx_stop                           stops it and removes its files
# The instance runs in the foreground of a background job, as the calling
# user, with every file of its own in a temporary folder. With NGINX_WORKERS
# set (a number or "auto") it serves connections in parallel on that many
# worker processes; run as root, those take nginx's unprivileged user, so
# ROOT must then be readable by everyone.

NGINX_BIN=${NGINX_BIN:-/usr/sbin/nginx}
_nginx_dir=""
_nginx_pid=""

nginx_start() {
  local root=$1 port=$2 rate=${3:-0}
  _nginx_dir=$(mktemp -d)
  mkdir -p "$_nginx_dir/logs" "$_nginx_dir/tmp"
  local master=off workers=1
  if [ -n "${NGINX_WORKERS:-}" ]; then
    master=on workers=$NGINX_WORKERS
  fi
  cat >"$_nginx_dir/nginx.conf" <<CONF
daemon off;
master_process $master;
worker_processes $workers;
pid $_nginx_dir/nginx.pid;
error_log $_nginx_dir/logs/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $_nginx_dir/tmp/body;
  proxy_temp_path $_nginx_dir/tmp/proxy;
  fastcgi_temp_path $_nginx_dir/tmp/fastcgi;
  uwsgi_temp_path $_nginx_dir/tmp/uwsgi;
  scgi_temp_path $_nginx_dir/tmp/scgi;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    root $root;
    limit_rate $rate;
  }
}
CONF
  "$NGINX_BIN" -c "$_nginx_dir/nginx.conf" -p "$_nginx_dir" \
    2>"$_nginx_dir/logs/stderr" &
  _nginx_pid=$!
  local i
  for i in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      return 0
    fi
    if ! kill -0 "$_nginx_pid" 2>/dev/null; then
      cat "$_nginx_dir/logs/stderr" >&2
      return 1
    fi
    sleep 0.05
  done
  echo "nginx did not start on port $port" >&2
  return 1
}

nginx_stop() {
  if [ -n "$_nginx_pid" ]; then
    kill "$_nginx_pid" 2>/dev/null || true
    wait "$_nginx_pid" 2>/dev/null || true
    _nginx_pid=""
  fi
  [ -n "$_nginx_dir" ] && rm -rf "$_nginx_dir"
  _nginx_dir=""
}
