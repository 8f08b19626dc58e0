#!/usr/bin/env bash
# Runs the launcher on the embedded default: a demo register's program directory made on the
# fly, with stand-in sibling programs, an SQLite database, the reference application server on
# loopback with one newer program file to install, and one staged file waiting. The server
# rolls a candidate build of that file out in waves, the demo register's branch first.
# Usage: scripts/demo.sh [--register hand|auto] [--no-data-file] [--trv] [--dir DIR]
#   --register hand  the register 0001/001, opened by the operator (the default)
#   --register auto  the register 0001/002, which refreshes its tables and opens by itself
#   --no-data-file   leaves "Mercato.cds" out: the launcher asks for branch and register on its
#                    keyboard and saves them to "cdsFilialCaixa.cds"
#   --trv            runs the sibling product's host, TRV.EXE
#   --dir DIR        makes the demo register in DIR (default: a new folder under /tmp)
# With a display the launcher opens there. Without one it runs on a virtual display (Xvfb),
# goes through every screen by itself, and saves a picture of each under DIR/screens.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what the demo runs: the program folder, the server, the stand-ins and the picture taker.
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target jov_package_files jov-standin jov-snap jov-sign
build=build/default

host=JOV.EXE
data_file=yes
register=001
demo=""
usage() {
  echo "usage: $0 [--register hand|auto] [--no-data-file] [--trv] [--dir DIR]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --trv) host=TRV.EXE ;;
    --no-data-file) data_file=no ;;
    --register)
      case "${2:-}" in hand) register=001 ;; auto) register=002 ;; *) usage ;; esac
      shift ;;
    --dir) [ -n "${2:-}" ] || usage; demo=$2; shift ;;
    *) usage ;;
  esac
  shift
done
[ -n "$demo" ] || demo=$(mktemp -d /tmp/jov-demo-XXXXXX)
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
server_pid=""
source_pid=""
xvfb_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$source_pid" ] && kill "$source_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  echo "demo folder kept for a look: $demo"
}
trap cleanup EXIT

rm -rf "$demo/caixa" "$demo/updates" "$demo/work" "$demo/screens" "$demo/make"
cp -r "$build/program" "$demo/caixa"
mkdir -p "$demo/updates" "$demo/work" "$demo/c/Program Files/Calvora Web" \
  "$demo/caixa/Dados/Jov_Bpl"

# The sibling programs, each a stand-in that logs how it was started to caixa/standins.log.
for sibling in JovTab.exe JovBpl.exe Altera_Permissoes_Calvora.EXE; do
  cp "$build/bin/jov-standin" "$demo/caixa/$sibling"
done
# An older "JovTab.exe" here, a newer one on the server, and "JovExp.exe" staged for
# installing at start-up. The newer one carries 6 MiB of padding after the program (which
# runs as before); the download source below sends it at 2 MiB/s, so that its download lasts
# a few seconds and can be seen.
touch -d '2 days ago' "$demo/caixa/JovTab.exe"
mkdir -p "$demo/make"
cp "$build/bin/jov-standin" "$demo/make/JovTab.exe"
head -c $((6 << 20)) /dev/urandom >> "$demo/make/JovTab.exe"
(cd "$demo/make" && zip -q -X -0 "$demo/updates/JovTab.exe.zip" JovTab.exe)
touch "$demo/updates/JovTab.exe.zip"
# The next build of it, the candidate of a rollout: signed as release 2 with the demo chain's
# key (which also lets the server sign the release that undoes it), in the candidates folder.
mkdir -p "$demo/make/candidate" "$demo/updates/candidatos"
cp "$demo/make/JovTab.exe" "$demo/make/candidate/JovTab.exe"
echo "candidate" >> "$demo/make/candidate/JovTab.exe"
(cd "$demo/make/candidate" && zip -q -X -0 "$demo/updates/candidatos/JovTab.exe.zip" JovTab.exe)
rm -f "$demo/chain-key.pem"
"$build/bin/jov-sign" keygen "$demo/chain-key.pem" >/dev/null
"$build/bin/jov-sign" sign "$demo/chain-key.pem" --version 2 \
  "$demo/updates/candidatos/JovTab.exe.zip" >/dev/null
cp "$build/bin/jov-standin" "$demo/caixa/Dados/Jov_Bpl/JovExp.exe"

# The register's branch and register codes, as the point-of-sale data file holds them.
[ "$data_file" = yes ] && cat > "$demo/caixa/Mercato.cds" <<XML
<?xml version="1.0" standalone="yes"?>
<DATAPACKET Version="2.0"><METADATA><FIELDS>
<FIELD attrname="CDFILIAL" fieldtype="string" WIDTH="4"/>
<FIELD attrname="CDCAIXA" fieldtype="string" WIDTH="3"/>
</FIELDS><PARAMS/></METADATA><ROWDATA>
<ROW CDFILIAL="0001" CDCAIXA="$register"/>
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

# listening_port FILE: the port of the "listening on HOST:PORT" line a server printed to FILE,
# waiting for it at most 10 s; prints nothing when it did not come.
listening_port() {
  local port=""
  for _ in $(seq 100); do
    port=$(head -n 1 "$1" 2>/dev/null | grep -o '[0-9]*$' || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  echo "$port"
}

# The download source: the archives, sent at 2 MiB/s by a small static server.
python3 scripts/paced-server.py "$demo/updates" $((2 << 20)) > "$demo/source.out" \
  2> "$demo/source.log" &
source_pid=$!
source_port=$(listening_port "$demo/source.out")
[ -n "$source_port" ] || { echo "the download source did not start (see $demo/source.log)" >&2; exit 1; }

# The fleet: each start's report is kept in fleet.db; /fleet shows it to the token's holder.
openssl rand -hex 16 > "$demo/fleet-token"
chmod 0600 "$demo/fleet-token"
"$build/bin/jov-appserver" --bind 127.0.0.1 --port 0 --updates "$demo/updates" --ask \
  --source-url "http://127.0.0.1:$source_port/" \
  --http-settings "$demo/http-settings.xml" --fleet-db "$demo/fleet.db" \
  --fleet-token "$demo/fleet-token" --signing-key "$demo/chain-key.pem" \
  > "$demo/appserver.out" 2> "$demo/appserver.log" &
server_pid=$!
port=$(listening_port "$demo/appserver.out")
[ -n "$port" ] || { echo "the application server did not start (see $demo/appserver.log)" >&2; exit 1; }
fleet_token=$(cat "$demo/fleet-token")

# The rollout of the candidate: branch 0001 first, then every register; the fleet page shows
# it in its rollouts' panel. The fleet outlives a demo in the same folder, and so does a
# rollout an earlier demo there started (409: one is under way).
status=$(curl -s --max-time 10 -H "Authorization: Bearer $fleet_token" \
  -H "Content-Type: application/json" -o "$demo/rollout.json" -w '%{http_code}' \
  -d '{"file": "JovTab.exe", "waves": ["0001", "100%"], "halt_at": 0.05, "soak_minutes": 1440}' \
  "http://127.0.0.1:$port/fleet/rollouts" || true)
case "$status" in
  200) ;;
  409) echo "The rollout of JovTab.exe an earlier demo in $demo started goes on." ;;
  *)
    echo "the rollout of JovTab.exe did not start ($status; see $demo/appserver.log)" >&2
    exit 1 ;;
esac

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
echo "Launcher: $demo/caixa/$host  server: 127.0.0.1:$port  registry: $JOV_HKLM"
echo "Fleet: http://127.0.0.1:$port/fleet?token=$fleet_token  (token: $fleet_token, in $demo/fleet-token)"
failure=""
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$demo/caixa/$host" || true
else
  echo "No display here: running on a virtual one (Xvfb) and going through each screen."
  if ! bash scripts/demo-tour.sh "$demo" "$demo/caixa/$host" "$build/bin/jov-snap" "$data_file" \
    "$register"; then
    failure="the tour did not reach its end; see $demo/tour.log"
  fi
  # A picture taken before its window was painted, or after it closed, is one colour.
  pictures=("$demo/screens/"*.png)
  if [ -e "${pictures[0]}" ] && ! python3 scripts/check-pictures.py "${pictures[@]}"; then
    failure="a picture under $demo/screens is blank (its window was not on the screen)"
  fi
fi
echo
echo "The launcher ended. This month's update log:"
for log in "$demo/caixa/Dados/Jov_Bpl/"Log_Baixa*.txt; do
  [ -f "$log" ] && iconv -f WINDOWS-1252 -t UTF-8 "$log" | tr -d '\r'
done
echo
echo "What the stand-in programs were asked to do (caixa/standins.log):"
cat "$demo/caixa/standins.log" 2>/dev/null || echo "(nothing)"
echo
echo "The fleet as the server saw it (saved as $demo/fleet.html; the server ends with the demo):"
curl -s --max-time 5 -H "Authorization: Bearer $fleet_token" -o "$demo/fleet.html" \
  "http://127.0.0.1:$port/fleet" &&
  grep -o '<p id="summary">[^<]*' "$demo/fleet.html" | sed 's/<p id="summary">/  /' ||
  echo "  (the server did not answer)"
grep -o '<h3>[^<]* versão [0-9]* <span class="estado">[^<]*' "$demo/fleet.html" |
  sed 's/<h3>/  rollout: /; s/ <span class="estado">/, /' || true
[ -z "$failure" ] || { echo "the demo failed: $failure" >&2; exit 1; }
