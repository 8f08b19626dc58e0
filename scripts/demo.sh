#!/usr/bin/env bash
# Runs the launcher on the embedded default: a demo register's program directory made on the
# fly, an SQLite database and the reference application server on loopback.
# Usage: scripts/demo.sh [--trv] [--no-data-file]
#   --trv           runs the sibling product's host, TRV.EXE
#   --no-data-file  leaves "Mercato.cds" out: the launcher asks for branch and register on its
#                   keyboard and saves them to "cdsFilialCaixa.cds"
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
build=build/default

demo=$(mktemp -d /tmp/jov-demo-XXXXXX)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  echo "demo folder kept for a look: $demo"
}
trap cleanup EXIT

host=JOV.EXE
data_file=yes
for arg in "$@"; do
  case "$arg" in
    --trv) host=TRV.EXE ;;
    --no-data-file) data_file=no ;;
    *) echo "usage: $0 [--trv] [--no-data-file]" >&2; exit 2 ;;
  esac
done

cp -r "$build/program" "$demo/caixa"
mkdir -p "$demo/updates" "$demo/work" "$demo/c/Program Files/Calvora Web"

# The register's branch and register codes, as the point-of-sale data file holds them.
[ "$data_file" = yes ] && cat > "$demo/caixa/Mercato.cds" <<'XML'
<?xml version="1.0" standalone="yes"?>
<DATAPACKET Version="2.0"><METADATA><FIELDS>
<FIELD attrname="CDFILIAL" fieldtype="string" WIDTH="4"/>
<FIELD attrname="CDCAIXA" fieldtype="string" WIDTH="3"/>
</FIELDS><PARAMS/></METADATA><ROWDATA>
<ROW CDFILIAL="0001" CDCAIXA="001"/>
</ROWDATA></DATAPACKET>
XML

# The HTTP settings the server hands to every register.
cat > "$demo/http-settings.xml" <<'XML'
<?xml version="1.0" standalone="yes"?>
<DATAPACKET Version="2.0"><METADATA><FIELDS>
<FIELD attrname="HTTPHOSADDR" fieldtype="string" WIDTH="60"/>
<FIELD attrname="HTTPPORT" fieldtype="string" WIDTH="10"/>
<FIELD attrname="IDUTHTTPPROXY" fieldtype="i4"/>
<FIELD attrname="HTTPPROXYHOST" fieldtype="string" WIDTH="60"/>
<FIELD attrname="HTTPPROXYPORT" fieldtype="string" WIDTH="10"/>
<FIELD attrname="HTTPPROXYUSERID" fieldtype="string" WIDTH="30"/>
<FIELD attrname="HTTPHTTPS" fieldtype="i4"/>
</FIELDS><PARAMS/></METADATA><ROWDATA>
<ROW HTTPHOSADDR="127.0.0.1" HTTPPORT="8080" IDUTHTTPPROXY="0" HTTPPROXYHOST="" HTTPPROXYPORT="" HTTPPROXYUSERID="" HTTPHTTPS="0"/>
</ROWDATA></DATAPACKET>
XML

# Table CAIXA with the demo registers: 0001/001 opens by hand, 0001/002 by itself.
sqlite3 "$demo/caixa.db" < sql/sqlite/caixa.sql

"$build/bin/jov-appserver" --bind 127.0.0.1 --port 0 --updates "$demo/updates" \
  --http-settings "$demo/http-settings.xml" > "$demo/appserver.out" 2> "$demo/appserver.log" &
server_pid=$!
for _ in $(seq 100); do
  port=$(grep -o '[0-9]*$' "$demo/appserver.out" 2>/dev/null | head -n 1 || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || { echo "the application server did not start" >&2; exit 1; }

cat > "$demo/caixa/clientlib.ini" <<INI
[Server]
Host=127.0.0.1
Port=$port
[Paths]
WorkingDirectory=$demo/work/
DriveC=$demo/c/
[Database]
ConnectionString=Provider=QSQLITE;Data Source=$demo/caixa.db
INI

export JOV_HKLM="$demo/HKLM.reg"
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$demo/runtime"
  mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display here: running on a virtual one (Xvfb). Press Ctrl+C to end the demo."
  exec_cmd=(xvfb-run -a -s "-screen 0 1024x768x24" "$demo/caixa/$host")
else
  exec_cmd=("$demo/caixa/$host")
fi
echo "Launcher: $demo/caixa/$host  server: 127.0.0.1:$port  registry: $JOV_HKLM"
"${exec_cmd[@]}"
echo "The launcher ended. Update log:"
cat "$demo/caixa/Dados/Jov_Bpl/"Log_Baixa*.txt 2>/dev/null || true
