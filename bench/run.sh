#!/usr/bin/env bash
# The crawl benchmark: bash bench/run.sh [PAGES...]   (default: 1000 5000 20000)
#
# Installs what it needs, builds an optimised Corvane, generates a deterministic site of each
# size, serves it with nginx on 127.0.0.1 and crawls it twice, once with Corvane's real window
# offscreen and once with `wget --spider -r -l 5`. Prints per size: pages requested, seconds,
# pages per second, Corvane's CPU per page, its peak memory, the longest wait for a turn of
# its event queue, wget's time per page against Corvane's, and Corvane's time per page over
# the server's own floor (the same pages fetched in sequence on one kept-alive connection).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/bench/out"
port=${BENCH_PORT:-18080}
sizes=("$@")
((${#sizes[@]})) || sizes=(1000 5000 20000)

"$root/scripts/deps.sh"
for tool in nginx wget; do
    command -v "$tool" >/dev/null || {
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nginx wget
    }
done
"$root/scripts/build.sh" "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
bench="$root/build-bench/bench/corvane-bench"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$out"

stop_nginx() { [ -f "$out/nginx.pid" ] && kill "$(cat "$out/nginx.pid")" 2>/dev/null; rm -f "$out/nginx.pid"; }
trap stop_nginx EXIT

serve() { # serve DIR: nginx on 127.0.0.1:$port, one worker, connections kept alive
    cat >"$out/nginx.conf" <<CONF
worker_processes 1;
pid $out/nginx.pid;
error_log $out/nginx-error.log;
events { worker_connections 256; }
http {
    access_log $out/access.log;
    keepalive_requests 1000000;
    keepalive_timeout 60s;
    types { text/html html; }
    server { listen 127.0.0.1:$port; root $1; }
}
CONF
    : >"$out/access.log"
    nginx -c "$out/nginx.conf"
    for _ in $(seq 50); do wget -q -O /dev/null "http://127.0.0.1:$port/" && return 0; sleep 0.1; done
    echo "nginx did not start" >&2
    return 1
}

calc() { awk "BEGIN { printf \"%.5f\", $1 }"; }

printf '%-7s %-7s %-8s %-8s %-12s %-8s %-13s %-11s %-12s %-9s %-10s\n' size pages seconds \
    pages/s cpu-ms/page rss-MiB worst-gap-ms wget-pages wget-ms/page ours/wget ours/floor
for size in "${sizes[@]}"; do
    site="$out/site-$size"
    [ -f "$site/index.html" ] || "$bench" generate "$site" "$size"
    serve "$site"
    url="http://127.0.0.1:$port"

    ours=$("$bench" crawl "$url/")
    stats=$(echo "$ours" | head -n 1)
    floor=$(echo "$ours" | sed -n 's/^floor_wall=//p')
    get() { echo "$stats" | tr ' ' '\n' | sed -n "s/^$1=//p"; }

    : >"$out/access.log"
    start=$(date +%s.%N)
    (cd "$out" && wget --spider -r -l 5 -nd -e robots=off -q "$url/" || true)
    wget_s=$(calc "$(date +%s.%N) - $start")
    # wget asks for each page twice (HEAD, then GET): its pages are its GETs.
    wget_pages=$(grep -c '"GET ' "$out/access.log" || true)
    stop_nginx

    ours_per_page=$(calc "$(get wall) / $(get pages)")
    wget_per_page=$(calc "$wget_s / $wget_pages")
    printf '%-7s %-7s %-8s %-8s %-12s %-8s %-13s %-11s %-12s %-9s %-10s\n' "$size" \
        "$(get pages)" "$(get wall)" "$(get pages_per_s)" "$(get cpu_ms_per_page)" \
        "$(get peak_rss_mib)" "$(get worst_pump_gap_ms)" "$wget_pages" \
        "$(calc "1000 * $wget_per_page")" "$(calc "$ours_per_page / $wget_per_page")" \
        "$(calc "$(get wall) / $floor")"
done
