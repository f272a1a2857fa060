#!/usr/bin/env bash
# Side-by-side figures for Oxlip's FTP engine (tools/oxlip-ftp), curl and lftp against one
# vsftpd started by hand on 127.0.0.1 with a generated configuration and a temporary root.
#
#   bash bench/compare.sh                 full run (about ten minutes), writes bench/RESULTS.md
#                                         and bench/ratios.png
#   BENCH_QUICK=1 bash bench/compare.sh   small sizes and no curl tree runs on loopback: about a
#                                         minute once installed and built; writes into
#                                         bench/work/quick/ unless BENCH_OUT is set
#
# Four parts (BENCH_PARTS, default all four):
#   loopback  every client against vsftpd on 127.0.0.1: big file, tree, listing
#   replace   the big file downloaded over an existing copy of itself (Oxlip flushes it to the
#             disk before the rename), against dd conv=fdatasync writing the same bytes
#   latency   tree transfers against bench/latency_ftpd.py, a pyftpdlib server whose replies
#             come BENCH_RTT_MS late: Oxlip, lftp mirror --parallel=1 and =4, curl with one
#             connection and four; Oxlip with --parallel 4 once oxlip-ftp has the option
#   ftps      the big file and the tree again, over explicit FTPS (AUTH TLS, PROT P) against
#             vsftpd with TLS required on the control and data connections and session reuse
#             required on data connections, with a certificate made at run time by `openssl req`
#             that every client is told to trust; then a pass with vsftpd's TLS debug log that
#             counts full handshakes against resumed ones
#
# Sizes and knobs (environment):
#   BENCH_BIG_MB=1024        size of the big file, MiB
#   BENCH_TREE_FILES=2000    files in the tree
#   BENCH_TREE_DIRS=20       folders the tree's files are spread over
#   BENCH_TREE_FILE_KB=4     size of each tree file, KiB
#   BENCH_LIST_ENTRIES=50000 entries in the listed folder
#   BENCH_RUNS=3             timed runs per client and workload (at most 20)
#   BENCH_RTT_MS=10          delay of every reply of the latency server, ms
#   BENCH_LAT_FILES=400      files in the latency part's tree (100 when quick)
#   BENCH_LAT_DIRS=10        folders they are spread over (4 when quick)
#   BENCH_TIMEOUT=600        seconds one client command may take before it counts as failed
#   BENCH_PORT               control port (default: the first free one from 42100 on)
#   BENCH_USER=oxlipbench    local account vsftpd logs in (created when missing)
#   BENCH_WORK               where the temporary data goes (default bench/work, else /tmp)
#   BENCH_OUT                where RESULTS.md and ratios.png go (default bench/)
#   BENCH_OXLIP              an oxlip-ftp binary to use instead of building build-bench
#   BENCH_FTPS_CURL_TREE=1   time curl's FTPS tree runs in a full run too (left out by default:
#                            curl takes about a third of a second a file over TLS here, so a
#                            2,000-file run would take over ten minutes)
#   BENCH_NO_INSTALL=1       do not install missing packages
#   BENCH_KEEP=1             keep the temporary data for inspection
#
# Network traffic stays on 127.0.0.1. Every loop is bounded, every client command runs under
# `timeout`, vsftpd is stopped on exit. The script exits 0 when the figures were written, also
# when a client failed (its row says so); it exits non-zero only when it could not set up the
# server or the workloads.
set -euo pipefail

REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BENCH_DIR="$REPO/bench"
PY=/usr/bin/python3
[ -x "$PY" ] || PY="$(command -v python3 || echo /usr/bin/python3)"

QUICK="${BENCH_QUICK:-0}"
if [ "$QUICK" = "1" ]; then
    BIG_MB="${BENCH_BIG_MB:-32}"
    TREE_FILES="${BENCH_TREE_FILES:-100}"
    TREE_DIRS="${BENCH_TREE_DIRS:-4}"
    LIST_ENTRIES="${BENCH_LIST_ENTRIES:-3000}"
    LAT_FILES="${BENCH_LAT_FILES:-100}"
    LAT_DIRS="${BENCH_LAT_DIRS:-4}"
    OUT="${BENCH_OUT:-$BENCH_DIR/work/quick}"
else
    BIG_MB="${BENCH_BIG_MB:-1024}"
    TREE_FILES="${BENCH_TREE_FILES:-2000}"
    TREE_DIRS="${BENCH_TREE_DIRS:-20}"
    LIST_ENTRIES="${BENCH_LIST_ENTRIES:-50000}"
    LAT_FILES="${BENCH_LAT_FILES:-400}"
    LAT_DIRS="${BENCH_LAT_DIRS:-10}"
    OUT="${BENCH_OUT:-$BENCH_DIR}"
fi
TREE_FILE_KB="${BENCH_TREE_FILE_KB:-4}"
RUNS="${BENCH_RUNS:-3}"
TIMEOUT_S="${BENCH_TIMEOUT:-600}"
RTT_MS="${BENCH_RTT_MS:-10}"
PARTS="${BENCH_PARTS:-loopback replace latency ftps}"
FTP_USER="${BENCH_USER:-oxlipbench}"
HOST=127.0.0.1

die() { echo "compare.sh: $*" >&2; exit 1; }
say() { echo "== $*" >&2; }
is_uint() { [[ "$1" =~ ^[0-9]+$ ]]; }
for v in BIG_MB TREE_FILES TREE_DIRS TREE_FILE_KB LIST_ENTRIES RUNS TIMEOUT_S RTT_MS LAT_FILES LAT_DIRS; do
    is_uint "${!v}" || die "$v must be a whole number (got '${!v}')"
done
if [ "$RUNS" -lt 1 ] || [ "$RUNS" -gt 20 ]; then die "BENCH_RUNS must be between 1 and 20"; fi
for v in BIG_MB TREE_FILES TREE_DIRS LIST_ENTRIES LAT_FILES LAT_DIRS; do
    [ "${!v}" -ge 1 ] || die "$v must be at least 1"
done
[ "$RTT_MS" -le 10000 ] || die "BENCH_RTT_MS must be at most 10000"
for part in $PARTS; do
    case "$part" in loopback | replace | latency | ftps) ;; *) die "unknown part '$part' in BENCH_PARTS" ;; esac
done
part_on() { [[ " $PARTS " == *" $1 "* ]]; }
BIG_BYTES=$((BIG_MB * 1048576))
TREE_BYTES=$((TREE_FILES * TREE_FILE_KB * 1024))
LAT_BYTES=$((LAT_FILES * TREE_FILE_KB * 1024))

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || die "run as root or install sudo"
    SUDO="sudo"
fi
as_ftp_user() {
    if [ -z "$SUDO" ]; then runuser -u "$FTP_USER" -- "$@"; else sudo -u "$FTP_USER" -- "$@"; fi
}

# ---------------------------------------------------------------------------------------------
# Packages
install_missing() {
    local want=(vsftpd lftp curl gnuplot-nox time python3 procps iproute2 cmake g++ make openssl)
    local missing=() p
    for p in "${want[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        [ "${BENCH_NO_INSTALL:-0}" = "1" ] && die "missing packages: ${missing[*]}"
        say "installing ${missing[*]}"
        $SUDO apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
    fi
    # vsftpd only ever runs by hand below, never as a system service.
    if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
        $SUDO systemctl disable --now vsftpd >/dev/null 2>&1 || true
    fi
    if [ -x /etc/init.d/vsftpd ]; then
        $SUDO /etc/init.d/vsftpd stop >/dev/null 2>&1 || true
    fi
}
install_missing

# ---------------------------------------------------------------------------------------------
# Oxlip's command-line driver
OXLIP=""
OXLIP_NOTE=""
build_oxlip() {
    if [ -n "${BENCH_OXLIP:-}" ]; then
        [ -x "$BENCH_OXLIP" ] || die "BENCH_OXLIP=$BENCH_OXLIP is not executable"
        OXLIP="$BENCH_OXLIP"
        return
    fi
    local build="$REPO/build-bench"
    say "building oxlip-ftp (Release) in $build"
    mkdir -p "$build"
    if cmake -S "$REPO" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOXLIP_BUILD_GUI=OFF \
        -DOXLIP_BUILD_TESTS=OFF >"$build/bench-build.log" 2>&1 &&
        cmake --build "$build" --target oxlip-ftp -j2 >>"$build/bench-build.log" 2>&1; then
        OXLIP="$build/tools/oxlip-ftp"
    else
        OXLIP_NOTE="oxlip-ftp did not build (see build-bench/bench-build.log)"
        echo "compare.sh: $OXLIP_NOTE; its rows stay empty" >&2
    fi
}
build_oxlip

# ---------------------------------------------------------------------------------------------
# Temporary data, the FTP account and vsftpd
pick_port() {
    local p i
    for ((i = 0; i < 20; i++)); do
        p=$((42100 + i * 1100))
        if [ -z "$(ss -Htln "sport = :$p" 2>/dev/null)" ]; then
            echo "$p"
            return
        fi
    done
    die "no free control port found from 42100 on; set BENCH_PORT"
}
PORT="${BENCH_PORT:-$(pick_port)}"
is_uint "$PORT" || die "BENCH_PORT must be a number"
PASV_MIN=$((PORT + 1))
PASV_MAX=$((PORT + 1000))

PASSWORD="$(head -c 32 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 20)"
if ! id "$FTP_USER" >/dev/null 2>&1; then
    say "creating local account $FTP_USER for the benchmark server"
    $SUDO useradd -m -s /bin/bash "$FTP_USER"
fi
printf '%s:%s\n' "$FTP_USER" "$PASSWORD" | $SUDO chpasswd -c SHA512

WORK_BASE="${BENCH_WORK:-$BENCH_DIR/work}"
mkdir -p "$WORK_BASE"
RUN_DIR="$(mktemp -d "$WORK_BASE/run.XXXXXX")"
chmod 755 "$RUN_DIR"
if ! as_ftp_user test -x "$RUN_DIR"; then
    # The account cannot reach the work tree (a private home, say): use /tmp instead.
    rmdir "$RUN_DIR"
    RUN_DIR="$(mktemp -d /tmp/oxlip-bench.XXXXXX)"
    chmod 755 "$RUN_DIR"
fi
ROOT="$RUN_DIR/root"   # the server's root
DL="$RUN_DIR/dl"       # downloads land here
LOGS="$RUN_DIR/logs"   # every client run's output
EMPTY="$RUN_DIR/empty" # vsftpd's secure_chroot_dir
RAW="$RUN_DIR/raw.tsv"
COUNTS="$RUN_DIR/counts.tsv"
HANDSHAKES="$RUN_DIR/handshakes.tsv"
MEM="$RUN_DIR/mem.tsv"
META="$RUN_DIR/meta.tsv"
mkdir -p "$ROOT" "$DL" "$LOGS" "$EMPTY"
: >"$RAW"
: >"$COUNTS"
: >"$HANDSHAKES"
: >"$MEM"
: >"$META"

VSFTPD_PID=""
stop_vsftpd() {
    if [ -n "$VSFTPD_PID" ]; then
        # vsftpd was started in its own process group; end that group and nothing else.
        $SUDO kill -TERM -- "-$VSFTPD_PID" 2>/dev/null || true
        local i
        for ((i = 0; i < 50; i++)); do
            $SUDO kill -0 "$VSFTPD_PID" 2>/dev/null || break
            sleep 0.1
        done
        $SUDO kill -KILL -- "-$VSFTPD_PID" 2>/dev/null || true
        wait "$VSFTPD_PID" 2>/dev/null || true
        VSFTPD_PID=""
    fi
}
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    local rc=$?
    stop_vsftpd
    stop_latency_server
    if [ "${BENCH_KEEP:-0}" = "1" ]; then
        echo "compare.sh: temporary data kept in $RUN_DIR" >&2
    else
        $SUDO rm -rf "$RUN_DIR"
    fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The server's certificate for the FTPS part, for 127.0.0.1, made at run time; the clients
# trust it through their CA-file options.
CERT="$RUN_DIR/cert.pem"
CERT_KEY="$RUN_DIR/key.pem"
make_certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$HOST" \
        -addext "subjectAltName=IP:$HOST" -keyout "$CERT_KEY" -out "$CERT" >/dev/null 2>&1 ||
        die "openssl could not make the server's certificate"
    chmod 644 "$CERT"
    chmod 600 "$CERT_KEY"
}

# $1 = 1 to log every command and transfer (for counting), 0 for the timed runs; $2 = 1 for
# TLS required on every connection (FTPS), with the TLS debug log when logging.
start_vsftpd() {
    local logging="$1" tls="${2:-0}" conf="$RUN_DIR/vsftpd.conf"
    local log_lines="" tls_lines="ssl_enable=NO"
    if [ "$logging" = "1" ]; then
        log_lines="xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
vsftpd_log_file=$RUN_DIR/vsftpd.log"
    else
        log_lines="xferlog_enable=NO
log_ftp_protocol=NO"
    fi
    if [ "$tls" = "1" ]; then
        tls_lines="ssl_enable=YES
rsa_cert_file=$CERT
rsa_private_key_file=$CERT_KEY
ssl_ciphers=HIGH
require_ssl_reuse=YES
force_local_logins_ssl=YES
force_local_data_ssl=YES
debug_ssl=$([ "$logging" = "1" ] && echo YES || echo NO)"
    fi
    $SUDO tee "$conf" >/dev/null <<EOF
listen=YES
listen_ipv6=NO
listen_address=$HOST
listen_port=$PORT
background=NO
seccomp_sandbox=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
chroot_local_user=YES
allow_writeable_chroot=YES
local_root=$ROOT
secure_chroot_dir=$EMPTY
pam_service_name=vsftpd
userlist_enable=NO
tcp_wrappers=NO
pasv_enable=YES
pasv_min_port=$PASV_MIN
pasv_max_port=$PASV_MAX
port_enable=NO
connect_from_port_20=NO
dirmessage_enable=NO
use_localtime=NO
max_clients=0
max_per_ip=0
idle_session_timeout=300
data_connection_timeout=300
ftpd_banner=bench server
$log_lines
$tls_lines
EOF
    $SUDO chown root:root "$conf"
    $SUDO chmod 600 "$conf"
    [ "$logging" = "1" ] && $SUDO touch "$RUN_DIR/vsftpd.log"
    setsid $SUDO /usr/sbin/vsftpd "$conf" >"$RUN_DIR/vsftpd.out" 2>&1 </dev/null &
    VSFTPD_PID=$!
    local i banner=""
    for ((i = 0; i < 100; i++)); do
        banner="$(timeout 2 bash -c "exec 3<>/dev/tcp/$HOST/$PORT && head -c 3 <&3" 2>/dev/null || true)"
        [ "$banner" = "220" ] && return 0
        kill -0 "$VSFTPD_PID" 2>/dev/null || break
        sleep 0.1
    done
    cat "$RUN_DIR/vsftpd.out" >&2 || true
    die "vsftpd did not come up on $HOST:$PORT"
}

# ---------------------------------------------------------------------------------------------
# Workloads
say "creating workloads in $RUN_DIR (big file ${BIG_MB} MiB, tree ${TREE_FILES} x ${TREE_FILE_KB} KiB in ${TREE_DIRS} folders, listing of ${LIST_ENTRIES})"
head -c "$BIG_BYTES" /dev/urandom >"$ROOT/big.bin"
"$PY" - "$ROOT" "$TREE_FILES" "$TREE_DIRS" "$TREE_FILE_KB" "$LIST_ENTRIES" "$LAT_FILES" "$LAT_DIRS" <<'EOF'
import os, sys
root, files, dirs, kb, entries, lat_files, lat_dirs = sys.argv[1], *map(int, sys.argv[2:])
for name, count, folders in (("tree", files, dirs), ("ltree", lat_files, lat_dirs)):
    for i in range(count):
        d = os.path.join(root, name, "d%03d" % (i % folders))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "f%05d.bin" % i), "wb") as f:
            f.write(os.urandom(kb * 1024))
lst = os.path.join(root, "list")
os.makedirs(lst, exist_ok=True)
for i in range(entries):
    # Sparse files of varying size: the listing carries real numbers at no disk cost.
    with open(os.path.join(lst, "entry_%06d.dat" % i), "wb") as f:
        f.truncate((i * 7919) % 5000000)
EOF
mkdir -p "$ROOT/up"
$SUDO chown -R "$FTP_USER" "$ROOT"

# The per-file list curl works from for the tree (it has no recursive mode).
TREE_LIST="$RUN_DIR/tree-files.txt"
(cd "$ROOT/tree" && find . -type f | sed 's|^\./||' | sort) >"$TREE_LIST"
LAT_LIST="$RUN_DIR/ltree-files.txt"
(cd "$ROOT/ltree" && find . -type f | sed 's|^\./||' | sort) >"$LAT_LIST"

start_vsftpd 0
say "vsftpd listening on $HOST:$PORT (passive ports $PASV_MIN-$PASV_MAX)"

URL="ftp://$HOST:$PORT"
OX_URL="ftp://$FTP_USER:$PASSWORD@$HOST:$PORT/"
LFTP_PRE="set ftp:ssl-allow no; set net:max-retries 2; set net:reconnect-interval-base 1; set net:timeout 30; set xfer:clobber on; set cmd:fail-exit yes; open -u $FTP_USER,$PASSWORD -p $PORT $HOST"
CURL=(curl -sS --user "$FTP_USER:$PASSWORD" --connect-timeout 10)
# The same server with TLS (the ftps part): explicit FTPS, the data protected, the certificate
# trusted through each client's CA-file option.
OXS_URL="ftpes://$FTP_USER:$PASSWORD@$HOST:$PORT/"
CURLS=("${CURL[@]}" --ssl-reqd --cacert "$CERT")
LFTPS_PRE="set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:ca-file $CERT; set ssl:verify-certificate yes; ${LFTP_PRE#set ftp:ssl-allow no; }"

if [ -n "$OXLIP" ]; then
    if ! timeout 30 "$OXLIP" "$OX_URL" ls / >"$LOGS/oxlip-probe.log" 2>&1; then
        OXLIP_NOTE="oxlip-ftp could not list the server: $(tail -n 1 "$LOGS/oxlip-probe.log")"
        echo "compare.sh: $OXLIP_NOTE; its rows stay empty" >&2
        OXLIP=""
    fi
fi

# curl's configuration files for a tree: one transfer per file, in one connection unless told
# otherwise. $1 base URL, $2 tree name, $3 file list, $4 download output folder, $5/$6 files.
curl_tree_cfg() {
    local url="$1" name="$2" list="$3" out="$4" down="$5" up="$6" rel
    : >"$down"
    : >"$up"
    while IFS= read -r rel; do
        printf 'url = "%s/%s/%s"\noutput = "%s/%s/%s"\n' "$url" "$name" "$rel" "$out" "$name" "$rel" >>"$down"
        printf 'upload-file = "%s/%s/%s"\nurl = "%s/up/%s/%s"\n' "$ROOT" "$name" "$rel" "$url" "$name" "$rel" >>"$up"
    done <"$list"
}
CURL_TREE_DOWN="$RUN_DIR/curl-tree-down.cfg"
CURL_TREE_UP="$RUN_DIR/curl-tree-up.cfg"
curl_tree_cfg "$URL" tree "$TREE_LIST" "$DL/curl" "$CURL_TREE_DOWN" "$CURL_TREE_UP"

# Whether oxlip-ftp takes --parallel (rows with four connections are measured only then).
OXLIP_PARALLEL=""
if [ -n "$OXLIP" ] && "$OXLIP" --help 2>&1 | grep -q -- '--parallel'; then
    OXLIP_PARALLEL=1
fi

# The latency server (bench/latency_ftpd.py), started for the latency part only.
LAT_PID=""
LAT_URL=""
OX_LAT_URL=""
LFTP_LAT_PRE=""
CURL_LAT_DOWN="$RUN_DIR/curl-lat-down.cfg"
CURL_LAT_UP="$RUN_DIR/curl-lat-up.cfg"
start_latency_server() {
    local i port=""
    setsid "$PY" "$BENCH_DIR/latency_ftpd.py" --user "$FTP_USER" --password "$PASSWORD" \
        --root "$ROOT" --delay-ms "$RTT_MS" >"$RUN_DIR/latency.out" 2>"$RUN_DIR/latency.err" </dev/null &
    LAT_PID=$!
    for ((i = 0; i < 100; i++)); do
        port="$(head -n 1 "$RUN_DIR/latency.out" 2>/dev/null || true)"
        is_uint "$port" && break
        kill -0 "$LAT_PID" 2>/dev/null || break
        sleep 0.1
    done
    if ! is_uint "$port"; then
        cat "$RUN_DIR/latency.err" >&2 || true
        die "the latency server did not come up"
    fi
    LAT_URL="ftp://$HOST:$port"
    OX_LAT_URL="ftp://$FTP_USER:$PASSWORD@$HOST:$port/"
    LFTP_LAT_PRE="set ftp:ssl-allow no; set net:max-retries 2; set net:timeout 30; set xfer:clobber on; set cmd:fail-exit yes; open -u $FTP_USER,$PASSWORD -p $port $HOST"
    curl_tree_cfg "$LAT_URL" ltree "$LAT_LIST" "$DL/curl" "$CURL_LAT_DOWN" "$CURL_LAT_UP"
    curl_tree_cfg "$LAT_URL" ltree "$LAT_LIST" "$DL/curl-p4" "$CURL_LAT_DOWN.p4" "$CURL_LAT_UP.p4"
}
stop_latency_server() {
    if [ -n "$LAT_PID" ]; then
        kill -TERM -- "-$LAT_PID" 2>/dev/null || true
        wait "$LAT_PID" 2>/dev/null || true
        LAT_PID=""
    fi
}

# ---------------------------------------------------------------------------------------------
# One client command per workload. $1 workload, $2 client; runs in a child shell under `timeout`.
# Returns 2 when the client has no command for the workload.
# shellcheck disable=SC2317 # run through `declare -f` in a child shell
client_cmd() {
    local w="$1" c="$2"
    case "$c:$w" in
    oxlip:big_down) "$OXLIP" "$OX_URL" get /big.bin "$DL/oxlip/big.bin" ;;
    oxlip:big_up) "$OXLIP" "$OX_URL" put "$ROOT/big.bin" /up/big.bin ;;
    oxlip:tree_down) "$OXLIP" "$OX_URL" getdir /tree "$DL/oxlip/tree" ;;
    oxlip:tree_up) "$OXLIP" "$OX_URL" putdir "$ROOT/tree" /up/tree ;;
    oxlip:list) "$OXLIP" "$OX_URL" ls /list ;;
    curl:big_down) "${CURL[@]}" -o "$DL/curl/big.bin" "$URL/big.bin" ;;
    curl:big_up) "${CURL[@]}" -T "$ROOT/big.bin" "$URL/up/big.bin" ;;
    curl:tree_down) "${CURL[@]}" --create-dirs -K "$CURL_TREE_DOWN" ;;
    curl:tree_up) "${CURL[@]}" --ftp-create-dirs -K "$CURL_TREE_UP" ;;
    curl:list) "${CURL[@]}" "$URL/list/" ;;
    lftp:big_down) lftp -c "$LFTP_PRE; get /big.bin -o $DL/lftp/big.bin" ;;
    lftp:big_up) lftp -c "$LFTP_PRE; put $ROOT/big.bin -o /up/big.bin" ;;
    lftp:tree_down) lftp -c "$LFTP_PRE; mirror --parallel=1 /tree $DL/lftp/tree" ;;
    lftp:tree_up) lftp -c "$LFTP_PRE; mirror -R --parallel=1 $ROOT/tree /up/tree" ;;
    lftp:list) lftp -c "$LFTP_PRE; cls -l /list" ;;
    lftp-default:tree_down) lftp -c "$LFTP_PRE; mirror /tree $DL/lftp-default/tree" ;;
    lftp-default:tree_up) lftp -c "$LFTP_PRE; mirror -R $ROOT/tree /up/tree" ;;
    oxlip:replace) "$OXLIP" "$OX_URL" get /big.bin "$DL/oxlip/big.bin" ;;
    dd:replace) dd if="$ROOT/big.bin" of="$DL/dd/big.bin" bs=4M conv=fdatasync status=none ;;
    oxlip:lat_down) "$OXLIP" "$OX_LAT_URL" getdir /ltree "$DL/oxlip/ltree" ;;
    oxlip:lat_up) "$OXLIP" "$OX_LAT_URL" putdir "$ROOT/ltree" /up/ltree ;;
    oxlip-p4:lat_down) "$OXLIP" --parallel 4 "$OX_LAT_URL" getdir /ltree "$DL/oxlip-p4/ltree" ;;
    oxlip-p4:lat_up) "$OXLIP" --parallel 4 "$OX_LAT_URL" putdir "$ROOT/ltree" /up/ltree ;;
    lftp:lat_down) lftp -c "$LFTP_LAT_PRE; mirror --parallel=1 /ltree $DL/lftp/ltree" ;;
    lftp:lat_up) lftp -c "$LFTP_LAT_PRE; mirror -R --parallel=1 $ROOT/ltree /up/ltree" ;;
    lftp-p4:lat_down) lftp -c "$LFTP_LAT_PRE; mirror --parallel=4 /ltree $DL/lftp-p4/ltree" ;;
    lftp-p4:lat_up) lftp -c "$LFTP_LAT_PRE; mirror -R --parallel=4 $ROOT/ltree /up/ltree" ;;
    curl:lat_down) "${CURL[@]}" --create-dirs -K "$CURL_LAT_DOWN" ;;
    curl:lat_up) "${CURL[@]}" --ftp-create-dirs -K "$CURL_LAT_UP" ;;
    curl-p4:lat_down) "${CURL[@]}" --parallel --parallel-max 4 --create-dirs -K "$CURL_LAT_DOWN.p4" ;;
    curl-p4:lat_up) "${CURL[@]}" --parallel --parallel-max 4 --ftp-create-dirs -K "$CURL_LAT_UP.p4" ;;
    oxlip:ftps_big_down) "$OXLIP" --cacert "$CERT" "$OXS_URL" get /big.bin "$DL/oxlip/big.bin" ;;
    oxlip:ftps_big_up) "$OXLIP" --cacert "$CERT" "$OXS_URL" put "$ROOT/big.bin" /up/big.bin ;;
    oxlip:ftps_tree_down) "$OXLIP" --cacert "$CERT" "$OXS_URL" getdir /tree "$DL/oxlip/tree" ;;
    oxlip:ftps_tree_up) "$OXLIP" --cacert "$CERT" "$OXS_URL" putdir "$ROOT/tree" /up/tree ;;
    curl:ftps_big_down) "${CURLS[@]}" -o "$DL/curl/big.bin" "$URL/big.bin" ;;
    curl:ftps_big_up) "${CURLS[@]}" -T "$ROOT/big.bin" "$URL/up/big.bin" ;;
    curl:ftps_tree_down) "${CURLS[@]}" --create-dirs -K "$CURL_TREE_DOWN" ;;
    curl:ftps_tree_up) "${CURLS[@]}" --ftp-create-dirs -K "$CURL_TREE_UP" ;;
    lftp:ftps_big_down) lftp -c "$LFTPS_PRE; get /big.bin -o $DL/lftp/big.bin" ;;
    lftp:ftps_big_up) lftp -c "$LFTPS_PRE; put $ROOT/big.bin -o /up/big.bin" ;;
    lftp:ftps_tree_down) lftp -c "$LFTPS_PRE; mirror --parallel=1 /tree $DL/lftp/tree" ;;
    lftp:ftps_tree_up) lftp -c "$LFTPS_PRE; mirror -R --parallel=1 $ROOT/tree /up/tree" ;;
    *) return 2 ;;
    esac
}

# The text of a child shell that runs one client command.
client_script() {
    declare -f client_cmd
    declare -p OXLIP OX_URL URL ROOT DL LFTP_PRE CURL CURL_TREE_DOWN CURL_TREE_UP OX_LAT_URL \
        LFTP_LAT_PRE CURL_LAT_DOWN CURL_LAT_UP CERT OXS_URL CURLS LFTPS_PRE
    printf 'client_cmd %q %q\n' "$1" "$2"
}

# The commands as they appear in RESULTS.md (password and paths shortened).
describe_cmds() {
    cat <<EOF
| Workload | Oxlip | curl | lftp (\`set ftp:ssl-allow no\` first) |
| --- | --- | --- | --- |
| big file down | \`oxlip-ftp ftp://U:P@127.0.0.1:PORT/ get /big.bin LOCAL\` | \`curl -u U:P -o LOCAL ftp://127.0.0.1:PORT/big.bin\` | \`get /big.bin -o LOCAL\` |
| big file up | \`oxlip-ftp URL put LOCAL /up/big.bin\` | \`curl -u U:P -T LOCAL ftp://127.0.0.1:PORT/up/big.bin\` | \`put LOCAL -o /up/big.bin\` |
| tree down | \`oxlip-ftp URL getdir /tree LOCALDIR\` | \`curl -u U:P --create-dirs -K LIST\` (one url/output pair per file, one connection) | \`mirror --parallel=1 /tree LOCALDIR\`; default row: \`mirror /tree LOCALDIR\` |
| tree up | \`oxlip-ftp URL putdir LOCALDIR /up/tree\` | \`curl -u U:P --ftp-create-dirs -K LIST\` (one upload-file/url pair per file) | \`mirror -R --parallel=1 LOCALDIR /up/tree\`; default row: \`mirror -R LOCALDIR /up/tree\` |
| listing | \`oxlip-ftp URL ls /list\` | \`curl -u U:P ftp://127.0.0.1:PORT/list/\` (full LIST) | \`cls -l /list\` |
| latency tree down | \`oxlip-ftp URL getdir /ltree LOCALDIR\`; four connections: \`oxlip-ftp --parallel 4 URL getdir …\` | \`curl -u U:P --create-dirs -K LIST\`; four connections: \`curl --parallel --parallel-max 4 …\` | \`mirror --parallel=1 /ltree LOCALDIR\`; \`mirror --parallel=4 …\` |
| latency tree up | \`oxlip-ftp URL putdir LOCALDIR /up/ltree\` (and with \`--parallel 4\`) | \`curl -u U:P --ftp-create-dirs -K LIST\` (and with \`--parallel --parallel-max 4\`) | \`mirror -R --parallel=1 LOCALDIR /up/ltree\`; \`mirror -R --parallel=4 …\` |

| FTPS (all four workloads) | \`oxlip-ftp --cacert CERT ftpes://U:P@127.0.0.1:PORT/ …\` (the same commands) | \`curl --ssl-reqd --cacert CERT …\` (the same commands) | \`set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:ca-file CERT\`, then the same commands |

The durable replace: \`oxlip-ftp URL get /big.bin LOCAL\` where LOCAL already holds a copy of the file (written and synced before the timing), against \`dd if=SERVER_ROOT/big.bin of=LOCAL bs=4M conv=fdatasync\` over such a copy too (the source in the page cache, as the server's is).
EOF
}

# Removes what the previous run left: downloads and uploads.
reset_targets() {
    rm -rf "$DL"
    mkdir -p "$DL/oxlip" "$DL/oxlip-p4" "$DL/curl" "$DL/curl-p4" "$DL/lftp" "$DL/lftp-p4" \
        "$DL/lftp-default" "$DL/dd"
    $SUDO rm -rf "$ROOT/up"
    mkdir -p "$ROOT/up"
    $SUDO chown "$FTP_USER" "$ROOT/up"
}

# Number of files and bytes under a folder.
tree_stats() { find "$1" -type f -printf '%s\n' 2>/dev/null | awk '{n++; b+=$1} END {print n+0, b+0}'; }

# Checks a run's result; prints nothing, returns non-zero when the data is not all there.
verify() {
    local w="${1#ftps_}" c="$2" out="$3"
    case "$w" in
    big_down) [ "$(stat -c %s "$DL/$c/big.bin" 2>/dev/null)" = "$BIG_BYTES" ] ;;
    big_up) [ "$(stat -c %s "$ROOT/up/big.bin" 2>/dev/null)" = "$BIG_BYTES" ] ;;
    tree_down) [ "$(tree_stats "$DL/$c")" = "$TREE_FILES $TREE_BYTES" ] ;;
    tree_up) [ "$(tree_stats "$ROOT/up")" = "$TREE_FILES $TREE_BYTES" ] ;;
    list) [ "$(grep -c 'entry_[0-9]*\.dat' "$out")" -ge "$LIST_ENTRIES" ] ;;
    replace) [ "$(stat -c %s "$DL/$c/big.bin" 2>/dev/null)" = "$BIG_BYTES" ] ;;
    lat_down) [ "$(tree_stats "$DL/$c")" = "$LAT_FILES $LAT_BYTES" ] ;;
    lat_up) [ "$(tree_stats "$ROOT/up")" = "$LAT_FILES $LAT_BYTES" ] ;;
    esac
}

# What a run needs in place before its timing: the file a durable replace replaces, written
# and on the disk, and nothing else waiting for the disk.
prepare() {
    if [ "$1" = replace ]; then
        cp "$ROOT/big.bin" "$DL/$2/big.bin"
        sync
    fi
}

CLIENTS=(curl lftp lftp-default)
[ -n "$OXLIP" ] && CLIENTS=(oxlip "${CLIENTS[@]}")
WORKLOADS=(big_down big_up tree_down tree_up list)
# Every client of every part; has_cmd picks those of a workload.
ALL_CLIENTS=(oxlip oxlip-p4 curl curl-p4 lftp lftp-p4 lftp-default dd)

# One timed run: records "workload client run seconds ok|fail|timeout" in $RAW.
timed_run() {
    local w="$1" c="$2" r="$3"
    local out="$LOGS/$w-$c-$r.out" err="$LOGS/$w-$c-$r.err"
    local t0 t1 rc=0 status=ok
    reset_targets
    prepare "$w" "$c"
    t0=$(date +%s%N)
    timeout "$TIMEOUT_S" bash -c "$(client_script "$w" "$c")" \
        >"$out" 2>"$err" || rc=$?
    t1=$(date +%s%N)
    if [ "$rc" -eq 124 ]; then
        status=timeout
    elif [ "$rc" -ne 0 ] || ! verify "$w" "$c" "$out"; then
        status=fail
    fi
    # The last run of a big transfer is compared byte for byte, outside the timing.
    if [ "$status" = ok ] && [ "$r" = "$RUNS" ]; then
        case "${w#ftps_}" in
        big_down) cmp -s "$ROOT/big.bin" "$DL/$c/big.bin" || status=fail ;;
        big_up) cmp -s "$ROOT/big.bin" "$ROOT/up/big.bin" || status=fail ;;
        replace) cmp -s "$ROOT/big.bin" "$DL/$c/big.bin" || status=fail ;;
        lat_down) diff -rq "$ROOT/ltree" "$DL/$c/ltree" >/dev/null || status=fail ;;
        lat_up) diff -rq "$ROOT/ltree" "$ROOT/up/ltree" >/dev/null || status=fail ;;
        tree_down) diff -rq "$ROOT/tree" "$DL/$c/tree" >/dev/null || status=fail ;;
        tree_up) diff -rq "$ROOT/tree" "$ROOT/up/tree" >/dev/null || status=fail ;;
        esac
    fi
    local secs
    secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.4f", (b - a) / 1e9}')
    printf '%s\t%s\t%s\t%s\t%s\n' "$w" "$c" "$r" "$secs" "$status" >>"$RAW"
    printf '   %-10s %-13s run %d: %8.3f s  %s\n' "$w" "$c" "$r" "$secs" "$status" >&2
}

# Whether client $2 takes part in workload $1. The quick mode leaves out curl's tree runs: curl
# moving many files in one run stalls a whole second now and then, which alone could take the
# minute.
has_cmd() {
    case "$2:$1" in
    oxlip*:*) [ -n "$OXLIP" ] || return 1 ;;&
    oxlip-p4:lat_*) [ -n "$OXLIP_PARALLEL" ] ;;
    oxlip:*) return 0 ;;
    curl:ftps_tree_*) [ "$QUICK" = "1" ] || [ "${BENCH_FTPS_CURL_TREE:-0}" = "1" ] ;;
    curl:ftps_* | lftp:ftps_*) return 0 ;;
    *:ftps_*) return 1 ;;
    *:replace) [ "$2" = dd ] ;;
    dd:* | oxlip-p4:*) return 1 ;;
    lftp:lat_* | lftp-p4:lat_* | curl:lat_* | curl-p4:lat_*) return 0 ;;
    *:lat_* | lftp-p4:* | curl-p4:*) return 1 ;;
    lftp-default:tree_*) return 0 ;;
    lftp-default:*) return 1 ;;
    curl:tree_*) [ "$QUICK" != "1" ] ;;
    *) return 0 ;;
    esac
}

# Clients take turns within each run so that a slow spell of the machine hits all of them.
time_workloads() {
    local w r c
    for w in "$@"; do
        say "timing $w"
        for ((r = 1; r <= RUNS; r++)); do
            for c in "${ALL_CLIENTS[@]}"; do
                if has_cmd "$w" "$c"; then timed_run "$w" "$c" "$r"; fi
            done
        done
    done
}
part_on loopback && time_workloads "${WORKLOADS[@]}"
part_on replace && time_workloads replace
if part_on latency; then
    start_latency_server
    say "latency server on $LAT_URL, replies ${RTT_MS} ms late"
    [ -n "$OXLIP_PARALLEL" ] || say "oxlip-ftp has no --parallel yet: its four-connection rows are left out"
    time_workloads lat_down lat_up
    stop_latency_server
fi

# Peak memory of the listing, each client once.
part_on loopback && say "peak memory of the listing"
for c in "${CLIENTS[@]}"; do
    part_on loopback || break
    has_cmd list "$c" || continue
    f="$LOGS/mem-$c.txt"
    if timeout "$TIMEOUT_S" /usr/bin/time -v -o "$f" bash -c "$(client_script list "$c")" >/dev/null 2>&1; then
        kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$f")
        printf '%s\t%s\n' "$c" "$kb" >>"$MEM"
    fi
done

# Runs workload W of client C once (its output to OUT) and prints what vsftpd logged meanwhile;
# the client's exit status is the function's.
logged_run() {
    local before rc=0
    reset_targets
    before=$(wc -l <"$RUN_DIR/vsftpd.log")
    timeout "$TIMEOUT_S" bash -c "$(client_script "$1" "$2")" >"$3" 2>&1 || rc=$?
    sleep 0.3 # let the server finish writing its last lines
    tail -n +"$((before + 1))" "$RUN_DIR/vsftpd.log"
    return "$rc"
}

# Control-connection commands per file, counted from vsftpd's protocol log.
stop_vsftpd
part_on loopback && say "counting control-connection commands (protocol log on)" && start_vsftpd 1
for w in tree_down tree_up; do
    part_on loopback || break
    for c in "${CLIENTS[@]}"; do
        has_cmd "$w" "$c" || continue
        rc=0
        log="$(logged_run "$w" "$c" "$LOGS/count-$w-$c.out")" || rc=$?
        verbs=$(sed -n 's/.*FTP command: Client "[^"]*", "\([A-Za-z]*\).*/\1/p' <<<"$log" |
            tr '[:lower:]' '[:upper:]' | sort | uniq -c | sort -rn | awk '{printf "%s%s=%s", (NR > 1 ? "," : ""), $2, $1}')
        total=$(grep -c 'FTP command:' <<<"$log" || true)
        ok=ok
        [ "$rc" -eq 0 ] || ok=fail
        printf '%s\t%s\t%s\t%s\t%s\n' "$w" "$c" "$total" "$ok" "$verbs" >>"$COUNTS"
        printf '   %-10s %-13s %6d commands (%s)\n' "$w" "$c" "$total" "$verbs" >&2
    done
done
stop_vsftpd

# ---------------------------------------------------------------------------------------------
# FTPS: the same workloads over TLS, then the handshakes of the tree runs counted from vsftpd's
# TLS debug log ("not reused" marks a full handshake, "reused" a resumed session).
FTPS_WORKLOADS=(ftps_big_down ftps_big_up ftps_tree_down ftps_tree_up)
if part_on ftps; then
    make_certificate
    start_vsftpd 0 1
    say "vsftpd with TLS required on $HOST:$PORT"
    time_workloads "${FTPS_WORKLOADS[@]}"
    stop_vsftpd
    say "counting TLS handshakes (TLS debug log on)"
    start_vsftpd 1 1
    for w in ftps_tree_down ftps_tree_up; do
        for c in oxlip curl lftp; do
            has_cmd "$w" "$c" || continue
            rc=0
            log="$(logged_run "$w" "$c" "$LOGS/handshakes-$w-$c.out")" || rc=$?
            full=$(grep -c 'SSL version: .*, not reused' <<<"$log" || true)
            resumed=$(grep -c 'SSL version: .*, reused' <<<"$log" || true)
            protocol=$(sed -n 's/.*"SSL version: \([^,]*\), SSL cipher: \([^,]*\),.*/\1 \2/p' <<<"$log" | awk 'NR == 1')
            ok=ok
            [ "$rc" -eq 0 ] || ok=fail
            printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$w" "$c" "$full" "$resumed" "$ok" "$protocol" >>"$HANDSHAKES"
            printf '   %-15s %-6s %5d full handshakes, %5d resumed  %s\n' "$w" "$c" "$full" "$resumed" "$ok" >&2
        done
    done
    stop_vsftpd
fi

# ---------------------------------------------------------------------------------------------
# Report
meta() { printf '%s\t%s\n' "$1" "$2" >>"$META"; }
meta quick "$QUICK"
meta date "$(date -u '+%Y-%m-%d %H:%M UTC')"
meta cpu "$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -n 1)"
meta cores "$(nproc)"
meta memory "$(free -g | awk '/^Mem:/ {print $2 " GiB"}')"
meta kernel "$(uname -r)"
# shellcheck disable=SC1091
meta os "$(. /etc/os-release && echo "$PRETTY_NAME")"
meta vsftpd "$(dpkg-query -W -f='${Version}' vsftpd 2>/dev/null)"
meta curl "$(curl --version | head -n 1 | cut -d' ' -f1-2)"
meta lftp "$(lftp --version | head -n 1 | sed 's/.*Version \([^ ]*\).*/\1/')"
# The commit measured; "-dirty" only for changes outside bench/ (whose results this run rewrites).
oxlip_rev="$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)"
if ! git -C "$REPO" diff --quiet HEAD -- . ':!bench' 2>/dev/null; then
    oxlip_rev="$oxlip_rev-dirty"
fi
meta oxlip "$oxlip_rev"
meta oxlip_note "$OXLIP_NOTE"
meta big_mb "$BIG_MB"
meta tree_files "$TREE_FILES"
meta tree_dirs "$TREE_DIRS"
meta tree_kb "$TREE_FILE_KB"
meta list_entries "$LIST_ENTRIES"
meta runs "$RUNS"
meta parts "$PARTS"
meta rtt_ms "$RTT_MS"
meta lat_files "$LAT_FILES"
meta lat_dirs "$LAT_DIRS"
meta oxlip_parallel "${OXLIP_PARALLEL:-0}"
meta dd "$(dd --version | head -n 1 | sed 's/.* //')"
meta openssl "$(openssl version | cut -d' ' -f1-2)"
meta gnutls "$(dpkg-query -W -f='${Version}' libgnutls30 2>/dev/null)"
# Kernel TLS needs the kernel's "tls" upper-layer protocol.
meta ktls "$(grep -qw tls /proc/sys/net/ipv4/tcp_available_ulp 2>/dev/null && echo yes || echo no)"
meta pyftpdlib "$("$PY" -c 'import pyftpdlib; print(pyftpdlib.__ver__)' 2>/dev/null || echo '?')"
describe_cmds >"$RUN_DIR/commands.md"

mkdir -p "$OUT"
"$PY" "$BENCH_DIR/report.py" --raw "$RAW" --counts "$COUNTS" --handshakes "$HANDSHAKES" --mem "$MEM" --meta "$META" \
    --commands "$RUN_DIR/commands.md" --out "$OUT/RESULTS.md" --chart-data "$RUN_DIR/ratios.dat" \
    --chart-script "$RUN_DIR/ratios.gp" --chart "$OUT/ratios.png"
gnuplot "$RUN_DIR/ratios.gp" || echo "compare.sh: gnuplot could not draw the chart" >&2
say "wrote $OUT/RESULTS.md and $OUT/ratios.png"
sed -n '/^## Results/,/^## Commands/p' "$OUT/RESULTS.md" | sed '$d'
exit 0
