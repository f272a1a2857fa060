#!/usr/bin/env bash
# Screenshots of the real window under Xvfb, against a pyftpdlib server on loopback.
# Usage: scripts/screenshots.sh [OUTDIR]   (default: screenshots/)
# Saves: main-first-start.png (disconnected, no settings yet), main-connected.png (details
# view on both sides), progress-window.png (a download under way), progress-tree.png (a folder
# over three connections), permissions.png and one
# PNG per dialog (Frm_User.png, Frm_Ftp.png, Frm_Pms.png, Frm_Dir.png, Frm_Ver.png), and both
# panes in each other view (views-large-icons.png, views-small-icons.png, views-list.png).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT="${1:-screenshots}"
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

# Tools: Xvfb, xauth, ImageMagick's import and xdotool.
need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xauth >/dev/null || need+=(xauth)
command -v import >/dev/null || need+=(imagemagick)
command -v xdotool >/dev/null || need+=(xdotool)
if [ "${#need[@]}" -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

if [ ! -x build/oxlip ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j2 --target oxlip >/dev/null

WORK=$(mktemp -d /tmp/oxlip-shots-XXXXXX)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

# ---- Sample trees: the host's and a local site ----
FTPROOT="$WORK/ftp"
LOCAL="$WORK/local/site"
mkdir -p "$FTPROOT/pub/画像" "$FTPROOT/pub/cgi-bin" "$LOCAL/images" "$LOCAL/お知らせ"
printf '<html><body>トップページ</body></html>\n' >"$FTPROOT/pub/index.html"
printf 'body { color: #333; }\n' >"$FTPROOT/pub/style.css"
printf '更新履歴\n' >"$FTPROOT/pub/更新履歴.txt"
printf '#!/usr/bin/perl\nprint "ok";\n' >"$FTPROOT/pub/cgi-bin/count.cgi"
head -c 48000 /dev/urandom >"$FTPROOT/pub/logo.png"
head -c 64000000 /dev/zero >"$FTPROOT/pub/backup.tar"
for i in 1 2 3 4; do head -c 24000000 /dev/zero >"$FTPROOT/pub/画像/scan-$i.tif"; done
printf '<html><body>新しいページ</body></html>\n' >"$LOCAL/index.html"
printf '<html><body>お知らせ</body></html>\n' >"$LOCAL/お知らせ/2024.html"
printf 'a { color: blue; }\n' >"$LOCAL/style.css"
head -c 12000 /dev/urandom >"$LOCAL/images/photo.jpg"
head -c 2500 /dev/urandom >"$LOCAL/favicon.ico"
printf 'メモ\n' >"$LOCAL/メモ.txt"
printf 'old\n' >"$LOCAL/index.html.before-the-redesign-of-2024"
printf 'old\n' >"$FTPROOT/pub/お知らせ一覧のページ（二〇二四年度版）.html"

# ---- The server: downloads slowed to about 4 MB/s so that a transfer can be seen ----
PORTFILE="$WORK/port"
/usr/bin/python3 - "$FTPROOT" >"$PORTFILE" 2>"$WORK/server.log" <<'PY' &
import os, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer
auth = DummyAuthorizer()
auth.add_user("demo", "demo-pass", os.path.abspath(sys.argv[1]), perm="elradfmwMT")
class DTP(ThrottledDTPHandler):
    write_limit = 4 * 1024 * 1024
class Handler(FTPHandler):
    pass
Handler.authorizer = auth
Handler.dtp_handler = DTP
Handler.use_sendfile = False
server = FTPServer(("127.0.0.1", 0), Handler)
print(server.address[1], flush=True)
server.serve_forever(handle_exit=True)
PY
PIDS+=($!)
for _ in $(seq 1 100); do
    [ -s "$PORTFILE" ] && break
    sleep 0.1
done
PORT=$(head -n1 "$PORTFILE")
[ -n "$PORT" ] || { echo "the FTP server did not start" >&2; cat "$WORK/server.log" >&2; exit 1; }

# ---- The display ----
DISPLAY_NUM=97
while [ -e "/tmp/.X${DISPLAY_NUM}-lock" ] && [ "$DISPLAY_NUM" -lt 140 ]; do
    DISPLAY_NUM=$((DISPLAY_NUM + 1))
done
Xvfb ":$DISPLAY_NUM" -screen 0 1280x800x24 -ardelay 60000 -nolisten tcp >/dev/null 2>&1 &
PIDS+=($!)
export DISPLAY=":$DISPLAY_NUM"
for _ in $(seq 1 50); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done
export QT_QPA_PLATFORM=xcb

# Starts oxlip with the settings folder $1/oxlip in the current folder $2; sets APP and WIN.
start_oxlip() {
    (cd "$2" && XDG_CONFIG_HOME="$1" exec "$ROOT/build/oxlip") >"$WORK/oxlip.log" 2>&1 &
    APP=$!
    PIDS+=("$APP")
    WIN=""
    for _ in $(seq 1 100); do
        WIN=$(xdotool search --onlyvisible --name '^Oxlip$' 2>/dev/null | head -n1 || true)
        [ -n "$WIN" ] && break
        sleep 0.1
    done
    [ -n "$WIN" ] || { echo "the window did not appear" >&2; cat "$WORK/oxlip.log" >&2; exit 1; }
    sleep 1
}

stop_oxlip() {
    kill "$APP" 2>/dev/null || true
    wait "$APP" 2>/dev/null || true
}

# Clicks at a point of the window's client area (below the menu bar).
click_at() {
    xdotool mousemove --window "$WIN" "$1" "$2" click "${3:-1}"
}

# ---- 1. First start: no settings, the local site as the current folder ----
mkdir -p "$WORK/first"
start_oxlip "$WORK/first" "$LOCAL"
import -window "$WIN" "$OUT/main-first-start.png"
stop_oxlip

# ---- 2. Connected, with a profile for the server ----
scramble() {
    local text=$1 out="" i
    for ((i = 0; i < ${#text}; i++)); do
        out+=$(printf '%03d' "'${text:i:1}")"123"
    done
    printf '%s' "$out"
}
mkdir -p "$WORK/profile/oxlip"
printf '[Oxlip]\r\nUser=デモサーバ\r\nLeft=0\r\nTop=0\r\nWidth=15000\r\nHeight=8250\r\nWindowState=0\r\nListCache=True\r\nParallel=3\r\n[Extension]\r\nExtension0=CGI\r\nExtension1=CSS\r\nExtension2=HTM\r\nExtension3=HTML\r\nExtension4=TXT\r\n' \
    >"$WORK/profile/oxlip/Ftp.ini"
printf '[デモサーバ]\r\nServer=127.0.0.1:%s\r\nUserName=demo\r\nPassWord=%s\r\nDir=/pub/\r\nLDir=%s/\r\nTransMode=0\r\nLastPathLocal=%s/\r\nLastPathHost=\r\n' \
    "$PORT" "$(scramble demo-pass)" "$LOCAL" "$LOCAL" >"$WORK/profile/oxlip/User.ini"
start_oxlip "$WORK/profile" "$LOCAL"
xdotool windowfocus --sync "$WIN" 2>/dev/null || true
xdotool key --window "$WIN" alt+f
sleep 0.5
xdotool key --window "$WIN" c
sleep 3
import -window "$WIN" "$OUT/main-connected.png"

# ---- 3. The progress window during a download ----
# The host pane's first row (backup.tar, 64 MB, sent at about 4 MB/s) is at x 600, y 157 of
# a 1000-pixel-wide window; the toolbar's download image at x 172, y 31.
click_at 600 157
sleep 0.5
click_at 172 31
sleep 3
import -window root -crop 1000x550+0+0 "$OUT/progress-window.png"
for _ in $(seq 1 120); do
    [ "$(stat -c %s "$LOCAL/backup.tar" 2>/dev/null || echo 0)" -ge 64000000 ] && break
    sleep 0.5
done
sleep 1

# ---- 3b. A folder over three connections: the whole tree's figures and the numbered log ----
# The host pane's last row is the folder 画像 (four 24 MB files) at y 283.
click_at 600 283
sleep 0.5
click_at 172 31
sleep 3
import -window root -crop 1000x550+0+0 "$OUT/progress-tree.png"
for _ in $(seq 1 120); do
    [ "$(du -sb "$LOCAL/画像" 2>/dev/null | cut -f1 || echo 0)" -ge 96000000 ] && break
    sleep 0.5
done
sleep 1

# ---- 4. Both panes in the other views: every name whole ----
xdotool windowfocus --sync "$WIN" 2>/dev/null || true
# Chooses view $1 (0 large icons, 1 small icons, 2 list, 3 details) for both panes: the view
# menus open with their first entry chosen.
choose_view() {
    local menu i
    for menu in alt+v alt+h; do
        xdotool key "$menu"
        sleep 0.5
        for ((i = 0; i < $1; i++)); do
            xdotool key Down
            sleep 0.1
        done
        xdotool key Return
        sleep 0.5
    done
}
views=(large-icons small-icons list)
for i in 0 1 2; do
    choose_view "$i"
    sleep 0.5
    import -window "$WIN" "$OUT/views-${views[$i]}.png"
done
choose_view 3 # back to details for the next step

# ---- 5. The permissions dialog for index.html (third row) ----
click_at 600 193
sleep 0.5
xdotool key --window "$WIN" ctrl+p
sleep 1.5
import -window root -crop 1000x550+0+0 "$OUT/permissions.png"
xdotool key Escape
sleep 0.5

stop_oxlip

# ---- 6. Each dialog, drawn by its layout test with the real Japanese font ----
cmake --build build -j2 --target tst_dialogs >/dev/null
DIALOGS_TEST=$(find build -name tst_dialogs -type f -perm -u+x | head -n 1)
OXLIP_SCREENSHOT_DIR="$OUT" QT_QPA_PLATFORM=offscreen "$DIALOGS_TEST" >/dev/null

echo "screenshots written to $OUT"
ls -1 "$OUT"
