# Sourced by the benchmark scripts: a private nginx on 127.0.0.1 serving "$work/www".
#   start_nginx WORK     sets nginx_port; waits until small.bin answers
#   stop_nginx           ends it (also safe when it never started)
nginx_pid=""
nginx_port=""

start_nginx() {
  local work="$1"
  chmod 755 "$work"
  mkdir -p "$work/tmp" "$work/logs"
  nginx_port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')"
  local user_line=""
  [ "$(id -u)" = 0 ] && user_line="user root;"
  cat > "$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/logs/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 5;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  types { application/octet-stream bin; }
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
}
CONF
  nginx -p "$work" -c "$work/nginx.conf" &
  nginx_pid=$!
  for _ in $(seq 1 50); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/small.bin" && break; sleep 0.1; done
}

stop_nginx() {
  if [ -n "$nginx_pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then
    kill "$nginx_pid"
    for _ in $(seq 1 50); do kill -0 "$nginx_pid" 2>/dev/null || break; sleep 0.1; done
  fi
}
