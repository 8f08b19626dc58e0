#!/usr/bin/env bash
# The two packages as a chain installs them, on this machine: jov-caixa and jov-servidor from
# build/packages installed with dpkg, the launcher run as caixa against jov-appserver started
# as its unit starts it, then purged. Changes the machine (users, /var/lib/jov, /opt/jov):
# runs only under ctest's lock register_programs, and refuses a machine that already has them.
# Usage: installed_test.sh install|upgrade|wayland PACKAGES STANDIN SQL_DIR OUT_DIR
#   install  the register's run under Xvfb (update, hive, log, layout), then the purge
#   upgrade  a higher version over the first: the launcher's files new, a sibling untouched
#   wayland  the launcher under cage on its headless backend; OUT_DIR/wayland.png
set -euo pipefail
mode=$1 packages=$2 standin=$3 sql=$4 out=$5
program=/var/lib/jov/caixa
caixa_deb=$(ls "$packages"/jov-caixa_*.deb)
servidor_deb=$(ls "$packages"/jov-servidor_*.deb)

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installing packages needs root"
  exit 77
fi
if dpkg -s jov-caixa >/dev/null 2>&1 || dpkg -s jov-servidor >/dev/null 2>&1 || [ -e /var/lib/jov ] || [ -e /opt/jov ]; then
  echo "SKIP: this machine already has a register installed; the test installs and purges its own"
  exit 77
fi
tmp=$(mktemp -d /tmp/jov-installed-XXXXXX)
chmod 0755 "$tmp"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  dpkg --purge jov-caixa jov-servidor >/dev/null 2>&1 || true
  # What the register and the administrator made (the packages leave it on purge).
  rm -rf /var/lib/jov /var/lib/jov-appserver
  for user in caixa jov-appserver; do
    ! getent passwd "$user" >/dev/null || userdel "$user" 2>/dev/null || true
    ! getent group "$user" >/dev/null || groupdel "$user" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in "$tmp"/*.log "$tmp"/*.err; do [ -s "$f" ] && { echo "--- $f"; tail -n 30 "$f"; }; done >&2
  log_text >&2 || true
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.2; done
}
log_text() { cat "$program"/Dados/Jov_Bpl/Log_Baixa*.txt 2>/dev/null | iconv -f WINDOWS-1252 -t UTF-8; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

install_packages() {  # as an administrator does: dpkg, then apt for what is missing
  dpkg -i "$@" >> "$tmp/dpkg.log" 2>&1 || true
  DEBIAN_FRONTEND=noninteractive apt-get -f install -y -qq >> "$tmp/dpkg.log" 2>&1 ||
    fail "apt-get -f install"
  for deb in "$@"; do
    local name
    name=$(dpkg-deb -f "$deb" Package)
    dpkg-query -W -f='${Status}' "$name" | grep -q 'install ok installed' || fail "$name not installed"
  done
}

# The register as the chain's technician leaves it: the sibling programs (stand-ins), the data
# file naming it, table CAIXA, clientlib.ini pointed at the server (with one mistyped key).
setup_register() {  # setup_register PORT yes|no(data file)
  for sibling in JovTab.exe JovBpl.exe Altera_Permissoes_Calvora.EXE; do
    install -o caixa -g caixa -m 0755 "$standin" "$program/$sibling"
  done
  touch -d '2 days ago' "$program/JovTab.exe"
  if [ "$2" = yes ]; then
    printf '%s\n' '<?xml version="1.0" standalone="yes"?>' \
      '<DATAPACKET Version="2.0"><METADATA><FIELDS>' \
      '<FIELD attrname="CDFILIAL" fieldtype="string" WIDTH="4"/>' \
      '<FIELD attrname="CDCAIXA" fieldtype="string" WIDTH="3"/>' \
      '</FIELDS><PARAMS/></METADATA><ROWDATA><ROW CDFILIAL="0001" CDCAIXA="001"/>' \
      '</ROWDATA></DATAPACKET>' > "$program/Mercato.cds"
    chown caixa:caixa "$program/Mercato.cds"
  fi
  sqlite3 /var/lib/jov/caixa.db < "$sql/sqlite/caixa.sql"
  chown caixa:caixa /var/lib/jov/caixa.db
  sed -i "s/^Port=.*/Port=$1/" /etc/jov/clientlib.ini
  printf 'Prot=%s\n' "$1" >> /etc/jov/clientlib.ini
  install -d -o caixa -g caixa "$tmp/caixa"
}

# The server as its unit starts it: the unit's ExecStart line with /etc/default/jov-appserver,
# as the unit's user, on a free port; a newer "JovTab.exe" among the archives.
start_server() {  # start_server PORT
  local unit=/lib/systemd/system/jov-appserver.service user line
  sed -i -e "s/^JOV_APPSERVER_PORT=.*/JOV_APPSERVER_PORT=$1/" \
    -e "s/^JOV_APPSERVER_BIND=.*/JOV_APPSERVER_BIND=127.0.0.1/" \
    -e "s|^JOV_APPSERVER_ARGS=\"|JOV_APPSERVER_ARGS=\"--http-settings /var/lib/jov-appserver/http.xml |" \
    /etc/default/jov-appserver
  printf '%s\n' '<?xml version="1.0" standalone="yes"?>' \
    '<DATAPACKET Version="2.0"><METADATA><FIELDS>' \
    '<FIELD attrname="HTTPHOSADDR" fieldtype="string" WIDTH="60"/>' \
    '<FIELD attrname="HTTPPORT" fieldtype="string" WIDTH="10"/>' \
    '<FIELD attrname="IDUTHTTPPROXY" fieldtype="i4"/>' \
    '<FIELD attrname="HTTPPROXYHOST" fieldtype="string" WIDTH="60"/>' \
    '<FIELD attrname="HTTPPROXYPORT" fieldtype="string" WIDTH="10"/>' \
    '<FIELD attrname="HTTPPROXYUSERID" fieldtype="string" WIDTH="30"/>' \
    '<FIELD attrname="HTTPHTTPS" fieldtype="i4"/>' \
    '</FIELDS><PARAMS/></METADATA><ROWDATA>' \
    '<ROW HTTPHOSADDR="lum.loja.example" HTTPPORT="8080" IDUTHTTPPROXY="0" HTTPPROXYHOST="" HTTPPROXYPORT="" HTTPPROXYUSERID="" HTTPHTTPS="0"/>' \
    '</ROWDATA></DATAPACKET>' > /var/lib/jov-appserver/http.xml
  printf '#!/bin/sh\necho "new JovTab.exe $*" >> "$JOV_STANDIN_LOG"\n' > "$tmp/JovTab.exe"
  (cd "$tmp" && zip -q -X JovTab.exe.zip JovTab.exe)
  cp "$tmp/JovTab.exe.zip" /var/lib/jov-appserver/updates/
  user=$(sed -n 's/^User=//p' "$unit")
  line=$(sed -n 's/^ExecStart=//p' "$unit")
  (
    set -a
    . /etc/default/jov-appserver
    set +a
    exec setpriv --reuid "$user" --regid "$user" --init-groups sh -c "exec $line"
  ) > "$tmp/appserver.out" 2> "$tmp/appserver.log" &
  pids+=($!)
  server=$!
  wait_for 20 grep -q listening "$tmp/appserver.out" || fail "jov-appserver did not start"
}

# The launcher as caixa in the program folder, with the unit's environment.
run_as_caixa() {  # run_as_caixa ENV... -- COMMAND...
  local env=(HOME=/var/lib/jov USER=caixa LOGNAME=caixa PATH=/usr/bin:/bin
    JOV_STANDIN_LOG="$tmp/caixa/standins.log" JOV_STANDIN_SECONDS=1)
  for word in $(sed -n 's/^Environment=//p' /lib/systemd/system/jov-caixa.service); do
    env+=("$word")
  done
  while [ "$1" != -- ]; do env+=("$1"); shift; done
  shift
  (cd "$program" && exec setpriv --reuid caixa --regid caixa --init-groups env -i "${env[@]}" "$@") \
    > "$tmp/launcher.log" 2>&1 &
  pids+=($!)
  launcher=$!
}
stop_launcher() {
  kill -TERM "$launcher" 2>/dev/null || true
  wait_for 20 bash -c "! kill -0 $launcher 2>/dev/null" || fail "the launcher did not end on SIGTERM"
}

check_layout() {
  [ "$(stat -c '%U:%G %a' /etc/jov/clientlib.ini)" = "root:caixa 640" ] || fail "clientlib.ini's mode"
  [ "$(readlink "$program/clientlib.ini")" = /etc/jov/clientlib.ini ] || fail "clientlib.ini's link"
  [ "$(stat -c '%U %a' /var/lib/jov/work)" = "caixa 700" ] || fail "the working folder's mode"
  [ "$(stat -c '%U' /var/lib/jov "$program" "$program/JOV.EXE" | sort -u)" = caixa ] ||
    fail "the register's folders are not caixa's"
  getcap "$program/bin/ping" | grep -q cap_net_raw || fail "bin/ping has no cap_net_raw"
  [ ! -L "$program/bin/ping" ] || fail "bin/ping is a link: its capability would be the target's"
  for file in JOV.EXE Pkg_jov00000.bpl _DLL.bpl REV10000.bpl bin/wincmd bin/ping; do
    cmp -s "/opt/jov/caixa/$file" "$program/$file" || fail "$file is not the package's"
  done
  [ -z "$(find "$program" -name '.*.dpkg-new')" ] || fail "a temporary was left in $program"
  local units
  units=$(ls /lib/systemd/system/jov-caixa.service /lib/systemd/system/jov-appserver.service 2>/dev/null || true)
  # shellcheck disable=SC2086
  systemd-analyze verify --man=no $units > "$tmp/verify.log" 2>&1 || fail "systemd-analyze verify"
}

# After the purge: nothing the packages made, and the register's own files as they were.
check_purged() {
  { dpkg -s jov-caixa || dpkg -s jov-servidor; } >/dev/null 2>&1 && fail "a package is still known to dpkg"
  for path in /opt/jov /etc/jov /etc/default/jov-appserver /usr/bin/jov-appserver /usr/bin/jov-sign \
    /lib/systemd/system/jov-caixa.service /lib/systemd/system/jov-appserver.service \
    /usr/share/polkit-1/rules.d/jov-caixa.rules /var/lib/jov-appserver /var/lib/jov/work \
    "$program/clientlib.ini" "$program/bin" $(printf "$program/%s " JOV.EXE TRV.EXE Pkg_jov00000.bpl \
    _DLL.bpl REV10000.bpl); do
    [ ! -e "$path" ] && [ ! -L "$path" ] ||
      fail "$path is left after the purge: $(ls -lAR "$path" 2>&1 | head -20)"
  done
  [ -z "$(find /etc/systemd -name 'jov-*')" ] || fail "a unit link is left: $(find /etc/systemd -name 'jov-*')"
  ! dpkg-statoverride --list /etc/jov/clientlib.ini >/dev/null || fail "the mode override is left"
  ! getent passwd jov-appserver >/dev/null || fail "the user jov-appserver is left"
  for kept in "$program/JovTab.exe" "$program/Mercato.cds" /var/lib/jov/HKLM.reg; do
    [ -e "$kept" ] || fail "the purge removed the register's $kept"
  done
}

case "$mode" in
  install)
    install_packages "$caixa_deb" "$servidor_deb"
    check_layout
    port=$(free_port)
    setup_register "$port" yes
    start_server "$port"
    display=""
    for n in $(seq 170 199); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=:$n; break; }
    done
    Xvfb "$display" -ac -nolisten tcp -screen 0 1024x768x24 > "$tmp/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 20 test -e "/tmp/.X11-unix/X${display#:}" || fail "Xvfb did not start"
    install -d -o caixa -g caixa -m 0700 "$tmp/run"
    run_as_caixa DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$tmp/run" -- "$program/JOV.EXE"
    wait_for 60 cmp -s "$tmp/JovTab.exe" "$program/JovTab.exe" || fail "JovTab.exe was not updated"
    wait_for 20 grep -q '"HttpHostAddr"="lum.loja.example"' /var/lib/jov/HKLM.reg || fail "the hive"
    log_text | grep -q "Download realizado com sucesso do arquivo $program/JovTab.exe" || fail "the log"
    log_text | grep -q 'clientlib.ini.*Prot' || fail "the log does not name the mistyped key"
    # The start's report reached the chain's fleet (verified or, from a register that does not
    # sign, kept apart).
    wait_for 20 sh -c 'sqlite3 /var/lib/jov-appserver/fleet/fleet.db "SELECT outcome FROM fleet_report UNION ALL SELECT outcome FROM fleet_unverified" 2>/dev/null | grep -q installed' ||
      fail "the fleet has no report of the register's start"
    stop_launcher
    kill -TERM "$server"
    wait "$server" || fail "jov-appserver did not end cleanly on SIGTERM"
    # The administrator takes his files out of the server's folder; the register keeps its own.
    rm -f /var/lib/jov-appserver/http.xml /var/lib/jov-appserver/updates/*
    dpkg --purge jov-caixa jov-servidor >> "$tmp/dpkg.log" 2>&1 || fail "dpkg --purge"
    check_purged
    ;;
  upgrade)
    install_packages "$caixa_deb"
    # The register updated a sibling program itself, and holds an older copy of a launcher
    # file than the next package's.
    install -o caixa -g caixa -m 0755 "$standin" "$program/JovTab.exe"
    echo "the register's own update" >> "$program/JovTab.exe"
    touch -d '3 days ago' "$program/JovTab.exe"
    cp -p "$program/JovTab.exe" "$tmp/JovTab.before"
    # The next version: the same package, numbered higher, with a changed launcher file.
    dpkg-deb -R "$caixa_deb" "$tmp/next"
    version=$(dpkg-deb -f "$caixa_deb" Version)
    sed -i "s/^Version: .*/Version: $version.1/" "$tmp/next/DEBIAN/control"
    echo "version $version.1" >> "$tmp/next/opt/jov/caixa/REV10000.bpl"
    (cd "$tmp/next" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | xargs -0 md5sum) \
      > "$tmp/md5sums" && mv "$tmp/md5sums" "$tmp/next/DEBIAN/md5sums"
    dpkg-deb --root-owner-group -b "$tmp/next" "$tmp/next.deb" > /dev/null
    install_packages "$tmp/next.deb"
    [ "$(dpkg-query -W -f='${Version}' jov-caixa)" = "$version.1" ] || fail "not upgraded"
    grep -q "version $version.1" "$program/REV10000.bpl" || fail "REV10000.bpl is the old one"
    check_layout
    for file in JOV.EXE Pkg_jov00000.bpl _DLL.bpl REV10000.bpl bin/ping; do
      cmp -s "/opt/jov/caixa/$file" "$program/$file" || fail "$file is not the new package's"
    done
    getcap "$program/bin/ping" | grep -q cap_net_raw || fail "bin/ping lost cap_net_raw"
    cmp -s "$tmp/JovTab.before" "$program/JovTab.exe" || fail "the upgrade changed JovTab.exe"
    [ "$(stat -c %Y "$tmp/JovTab.before")" = "$(stat -c %Y "$program/JovTab.exe")" ] ||
      fail "the upgrade touched JovTab.exe"
    ;;
  wayland)
    install_packages "$caixa_deb" "$servidor_deb"
    port=$(free_port)
    setup_register "$port" no
    start_server "$port"
    install -d -o caixa -g caixa -m 0700 "$tmp/run"
    # The unit's command line, on the compositor's headless backend.
    read -r -a command <<< "$(sed -n 's/^ExecStart=//p' /lib/systemd/system/jov-caixa.service)"
    run_as_caixa XDG_RUNTIME_DIR="$tmp/run" WLR_BACKENDS=headless WLR_RENDERER=pixman \
      WLR_LIBINPUT_NO_DEVICES=1 -- "${command[@]}"
    wait_for 30 bash -c "ls $tmp/run/wayland-* >/dev/null 2>&1" || fail "cage did not start"
    socket=$(basename "$(ls "$tmp"/run/wayland-* | grep -v lock | head -n 1)")
    # The keyboard prompt comes once the screen has had its first activation.
    wait_for 60 bash -c "cat $program/Dados/Jov_Bpl/Log_Baixa*.txt 2>/dev/null | grep -q JovTab" ||
      fail "the launcher did not get to its screen"
    shoot() {
      setpriv --reuid caixa --regid caixa --init-groups env XDG_RUNTIME_DIR="$tmp/run" \
        WAYLAND_DISPLAY="$socket" grim "$@"
    }
    # The 800x600 screen in the middle of the display, the rest of the display as cage
    # leaves it; taken again until the screen is drawn.
    centred() {
      shoot -t ppm "$tmp/caixa/screen.ppm" && python3 - "$tmp/caixa/screen.ppm" <<'PY' > "$tmp/place.log"
import sys
data = open(sys.argv[1], "rb").read()
magic, size, depth, pixels = data.split(b"\n", 3)
width, height = map(int, size.split())
background = b"\0\0\0"  # cage and the launcher's backdrop
xs, ys = [], []
for y in range(height):
    row = pixels[y * width * 3:(y + 1) * width * 3]
    for x in range(0, width, 2):
        if row[x * 3:x * 3 + 3] != background:
            xs.append(x)
            ys.append(y)
if not xs:
    sys.exit("nothing drawn")
left, right, top, bottom = min(xs), max(xs) + 2, min(ys), max(ys) + 1
print(f"display {width}x{height}, screen at ({left},{top})-({right},{bottom})")
ok = abs(left - (width - 800) // 2) <= 4 and abs(top - (height - 600) // 2) <= 4
sys.exit(0 if ok and abs(bottom - top - 600) <= 4 and abs(right - left - 800) <= 4 else 1)
PY
    }
    mkdir -p "$out"
    if ! wait_for 30 centred; then
      shoot "$tmp/caixa/not-centred.png" && cp "$tmp/caixa/not-centred.png" "$out/"
      fail "the screen is not centred: $(cat "$tmp/place.log")"
    fi
    cat "$tmp/place.log"
    sleep 1
    shoot "$tmp/caixa/wayland.png" || fail "grim"
    cp "$tmp/caixa/wayland.png" "$out/wayland.png"
    stop_launcher
    ;;
  *) echo "usage: $0 install|upgrade|wayland PACKAGES STANDIN SQL_DIR OUT_DIR" >&2; exit 2 ;;
esac
echo "PASS: $mode"
