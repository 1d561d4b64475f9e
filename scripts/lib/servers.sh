# Throwaway database servers for the tests, on loopback ports and private
# sockets, owned by an unprivileged user. Sourced by scripts/test.
#
#   vkt_start_postgres   exports VKT_PG_HOST, VKT_PG_PORT, VKT_PG_USER,
#                        VKT_PG_PASSWORD, VKT_PG_DSN
#   vkt_start_mariadb    exports VKT_MY_HOST, VKT_MY_PORT, VKT_MY_USER,
#                        VKT_MY_PASSWORD, VKT_MY_SOCKET
#   vkt_stop_servers     stops whatever was started (also on failure, by trap)

VKT_SERVER_USER=${VKT_SERVER_USER:-vkttest}
VKT_SERVER_ROOT=""

vkt__as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$VKT_SERVER_USER" -- "$@"
  else
    "$@"
  fi
}

vkt__ensure_user() {
  if [ "$(id -u)" -eq 0 ] && ! id "$VKT_SERVER_USER" >/dev/null 2>&1; then
    useradd --system --no-create-home --shell /usr/sbin/nologin "$VKT_SERVER_USER"
  fi
}

vkt__free_port() {
  python3 - <<'PY'
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
PY
}

vkt_start_postgres() {
  local bindir
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
  if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
    echo "servers: PostgreSQL server binaries not found" >&2
    return 1
  fi
  vkt__ensure_user
  VKT_SERVER_ROOT=${VKT_SERVER_ROOT:-$(mktemp -d /tmp/vkt-servers.XXXXXX)}
  chmod 755 "$VKT_SERVER_ROOT"
  local pgdir="$VKT_SERVER_ROOT/pg"
  mkdir -p "$pgdir/sock"
  [ "$(id -u)" -eq 0 ] && chown -R "$VKT_SERVER_USER" "$pgdir"
  local port
  port=$(vkt__free_port)
  local pwfile="$pgdir/pw"
  echo "vktpass" > "$pwfile"
  [ "$(id -u)" -eq 0 ] && chown "$VKT_SERVER_USER" "$pwfile"
  vkt__as_user "$bindir/initdb" -D "$pgdir/data" -U vkt --pwfile="$pwfile" \
    -A scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$pgdir/initdb.log" 2>&1 || {
    cat "$pgdir/initdb.log" >&2; return 1; }
  vkt__as_user "$bindir/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $pgdir/sock -c fsync=on" start >/dev/null || {
    cat "$pgdir/server.log" >&2; return 1; }
  VKT_PG_BINDIR=$bindir
  VKT_PG_DATA="$pgdir/data"
  export VKT_PG_HOST=127.0.0.1 VKT_PG_PORT=$port VKT_PG_USER=vkt VKT_PG_PASSWORD=vktpass
  export VKT_PG_DSN="host=127.0.0.1 port=$port user=vkt password=vktpass dbname=postgres"
  echo "servers: PostgreSQL on 127.0.0.1:$port"
}

vkt_start_mariadb() {
  local mysqld=/usr/sbin/mariadbd
  if [ ! -x "$mysqld" ] || ! command -v mariadb-install-db >/dev/null 2>&1; then
    echo "servers: MariaDB server binaries not found" >&2
    return 1
  fi
  vkt__ensure_user
  VKT_SERVER_ROOT=${VKT_SERVER_ROOT:-$(mktemp -d /tmp/vkt-servers.XXXXXX)}
  chmod 755 "$VKT_SERVER_ROOT"
  local mydir="$VKT_SERVER_ROOT/my"
  mkdir -p "$mydir/data" "$mydir/tmp"
  [ "$(id -u)" -eq 0 ] && chown -R "$VKT_SERVER_USER" "$mydir"
  local port
  port=$(vkt__free_port)
  local runas=()
  [ "$(id -u)" -eq 0 ] && runas=(--user="$VKT_SERVER_USER")
  vkt__as_user mariadb-install-db --no-defaults --datadir="$mydir/data" \
    --auth-root-authentication-method=normal --skip-test-db \
    >"$mydir/install.log" 2>&1 || { cat "$mydir/install.log" >&2; return 1; }
  # Started through runuser, so the server never runs as root; no
  # configuration file of the machine is read.
  vkt__as_user "$mysqld" --no-defaults --datadir="$mydir/data" --tmpdir="$mydir/tmp" \
    --socket="$mydir/sock" --port="$port" --bind-address=127.0.0.1 \
    --pid-file="$mydir/mariadb.pid" --log-error="$mydir/server.log" \
    --skip-name-resolve --innodb-buffer-pool-size=32M \
    >/dev/null 2>&1 &
  local i
  for i in $(seq 1 100); do
    [ -S "$mydir/sock" ] && mariadb --no-defaults -S "$mydir/sock" -u root -e "SELECT 1" >/dev/null 2>&1 && break
    sleep 0.2
  done
  if ! mariadb --no-defaults -S "$mydir/sock" -u root -e "SELECT 1" >/dev/null 2>&1; then
    cat "$mydir/server.log" >&2
    return 1
  fi
  mariadb --no-defaults -S "$mydir/sock" -u root -e "
    CREATE USER 'vkt'@'127.0.0.1' IDENTIFIED BY 'vktpass';
    CREATE USER 'vkt'@'localhost' IDENTIFIED BY 'vktpass';
    GRANT ALL PRIVILEGES ON *.* TO 'vkt'@'127.0.0.1' WITH GRANT OPTION;
    GRANT ALL PRIVILEGES ON *.* TO 'vkt'@'localhost' WITH GRANT OPTION;" || return 1
  VKT_MY_DIR=$mydir
  export VKT_MY_HOST=127.0.0.1 VKT_MY_PORT=$port VKT_MY_USER=vkt VKT_MY_PASSWORD=vktpass
  export VKT_MY_SOCKET="$mydir/sock"
  echo "servers: MariaDB on 127.0.0.1:$port"
}

vkt_stop_servers() {
  if [ -n "${VKT_MY_DIR:-}" ]; then
    local pid
    pid=$(cat "$VKT_MY_DIR/mariadb.pid" 2>/dev/null || true)
    if [ -n "$pid" ]; then
      kill "$pid" 2>/dev/null || true
      local i
      for i in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    fi
    VKT_MY_DIR=""
  fi
  if [ -n "${VKT_PG_DATA:-}" ]; then
    vkt__as_user "$VKT_PG_BINDIR/pg_ctl" -D "$VKT_PG_DATA" -m fast -w stop >/dev/null 2>&1 || true
    VKT_PG_DATA=""
  fi
  if [ -n "$VKT_SERVER_ROOT" ]; then
    rm -rf "$VKT_SERVER_ROOT"
    VKT_SERVER_ROOT=""
  fi
}
