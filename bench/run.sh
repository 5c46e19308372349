#!/usr/bin/env bash
# The crawl benchmark: bash bench/run.sh [PAGES...]   (default: 1000 5000)
#
# Installs what it needs, builds an optimised Corvane and measures it on 127.0.0.1, in four
# parts (BENCH_PARTS picks some of them; default all: "sites python hostile extract"):
#
# sites    A deterministic generated site of each size, crawled by Corvane's real window
#          offscreen and by `wget --spider -r -l 5`: pages requested, seconds, pages per
#          second, CPU per page, peak memory, the longest wait for a turn of the window's event
#          queue, wget's time per page, and Corvane's time over the server's own floor (the
#          same pages fetched in sequence on one kept-alive connection).
# python   The Python 3.11 documentation of Debian's python3-doc, served by nginx holding every
#          response 20 ms: Corvane, `wget -r -l 5 --follow-tags=a,area` and the floor (wrk, one
#          connection, over the pages Corvane requested), in ms per page and as ratios; then
#          the same site without delay: Corvane's CPU per page, and its results (the twelve
#          lists, the counts and the sitemap) compared with the baseline's. The command line
#          `corvane --crawl` is measured beside the window on both, and its sitemap and lists
#          compared with the window's.
# hostile  A page of 200,000 distinct external links of about 60 characters (memory per listed
#          link: peak memory over that of a one-link page, divided by 200,000), a page with
#          one 2 MiB link and a page of 100,000 nested div elements: the longest wait for a
#          turn of the event queue and the time the page takes.
# extract  The link extractor's throughput against gumbo's on the Python docs' pages.
# big      Two sites: one whose level-4 page links 100,000 distinct internal addresses of
#          about 60 characters, and one of 1,000 level-4 pages linking 1,000 such addresses
#          each (BENCH_BIG_SITES="LINKSxPAGES ...", default "100000x1 1000x1000";
#          BENCH_BIG_LINKS=N alone means "Nx1"): for each step a user takes (the crawl, Build
#          Sitemap, Hide, Show, Export, New) the CPU milliseconds it keeps the program busy
#          (its repaints and layouts after the handler included), the milliseconds its handler
#          takes, the window's longest wait for a turn of its event queue (the display
#          server's share included), and the resident memory after the step and at its peak
#          so far; the crawl's CPU microseconds per filed link and bytes per filed link at its
#          peak; the files Export wrote. Then the command line over the same site: its CPU
#          seconds and peak memory, crawl, build and export together.
#
# The window runs as on a user's desktop: under Xvfb, on Qt's X11 platform.
# BENCH_PLATFORM=offscreen runs it on Qt's offscreen platform instead, which leaves out most
# of the cost of drawing; its figures are marked as such.
# BASELINE=/path/to/corvane-bench measures another build beside this one in the same run, on
# every figure above (a row "baseline" beside "this"). The baseline's driver must know the
# crawl options this one passes (--dump, --pages, --no-floor). BENCH_ROUNDS (default 2): how
# often each build crawls the Python docs, with and without delay; the best crawl counts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/bench/out"
port=${BENCH_PORT:-18080}
parts=${BENCH_PARTS:-sites python hostile extract big}
platform=${BENCH_PLATFORM:-xcb}
baseline=${BASELINE:-}
rounds=${BENCH_ROUNDS:-2} # crawls of the Python docs per build; the best one counts
python_docs=/usr/share/doc/python3/html
sizes=("$@")
((${#sizes[@]})) || sizes=(1000 5000)

"$root/scripts/deps.sh"
needed=(nginx libnginx-mod-http-lua wget wrk python3-doc xvfb)
missing=()
for package in "${needed[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
"$root/scripts/build.sh" "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
bench="$root/build-bench/bench/corvane-bench"
builds=(this)
declare -A binary=([this]="$bench")
if [ -n "$baseline" ]; then
    [ -x "$baseline" ] || { echo "BASELINE $baseline is not an executable" >&2; exit 2; }
    builds+=(baseline)
    binary[baseline]=$baseline
fi
mkdir -p "$out"
# Qt wants a runtime folder of the user's own; root's shell often has none.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$out/runtime}
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
has_part() { [[ " $parts " == *" $1 "* ]]; }

stop_nginx() { [ -f "$out/nginx.pid" ] && kill "$(cat "$out/nginx.pid")" 2>/dev/null; rm -f "$out/nginx.pid"; }
xvfb_pid=
stop_all() { stop_nginx; [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; true; }
trap stop_all EXIT

export QT_QPA_PLATFORM=$platform
if [ "$platform" = xcb ]; then
    # Xvfb picks a free display and writes its number once it accepts connections.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$out/xvfb.display" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$out/xvfb.display" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$out/xvfb.display")"
    echo "(the window runs under Xvfb on Qt's X11 platform, display $DISPLAY)"
else
    echo "(the window runs on Qt's $platform platform: OFFSCREEN FIGURES, drawing left out)"
fi
echo

serve() { # serve DIR [DELAY_MS]: nginx on 127.0.0.1:$port, one worker, connections kept alive
    local delay=${2:-0} hold=""
    # nginx has no delay of its own: the Lua module holds each request in the server.
    ((delay)) && hold="access_by_lua_block { ngx.sleep($delay / 1000) }"
    cat >"$out/nginx.conf" <<CONF
load_module /usr/share/nginx/modules/ndk_http_module.so;
load_module /usr/share/nginx/modules/ngx_http_lua_module.so;
worker_processes 1;
pid $out/nginx.pid;
error_log $out/nginx-error.log;
events { worker_connections 256; }
http {
    access_log $out/access.log;
    include /etc/nginx/mime.types;
    keepalive_requests 1000000;
    keepalive_timeout 60s;
    server { listen 127.0.0.1:$port; root $1; $hold }
}
CONF
    : >"$out/access.log"
    nginx -c "$out/nginx.conf"
    # Any answer will do (wget's 8): a directory without index.html answers 403.
    for _ in $(seq 50); do
        wget -q -O /dev/null "http://127.0.0.1:$port/" && return 0
        (($? == 8)) && return 0
        sleep 0.1
    done
    echo "nginx did not start" >&2
    return 1
}

# cli_run: the command line crawls the site being served $rounds times, into $out/cli; the
# fastest run's wall and CPU seconds and the pages it requested go into cli_wall, cli_cpu and
# cli_pages.
cli_run() {
    local times wall user sys
    cli_wall=""
    rm -rf "$out/cli" && mkdir -p "$out/cli"
    for _ in $(seq "$rounds"); do
        : >"$out/access.log"
        times=$( { TIMEFORMAT='%R %U %S'; time env -u DISPLAY -u WAYLAND_DISPLAY \
            "$root/build-bench/app/corvane" --crawl "http://127.0.0.1:$port/" --quiet \
            --export "$out/cli" --lists "$out/cli/lists.json" >/dev/null 2>"$out/cli/stderr"; } \
            2>&1 | tail -n 1) || true
        read -r wall user sys <<<"$times"
        if [ -z "$cli_wall" ] || (($(calc "($wall < $cli_wall)" 0))); then
            cli_wall=$wall
            cli_cpu=$(calc "$user + $sys")
            cli_pages=$(gets)
        fi
    done
}

calc() { awk "BEGIN { printf \"%.${2:-3}f\", $1 }"; }
field() { echo "$1" | head -n 1 | tr ' ' '\n' | sed -n "s/^$2=//p"; }
gets() { grep -c '"GET ' "$out/access.log" || true; }

if has_part sites; then
    echo "== generated sites (no delay)"
    printf '%-8s %-7s %-7s %-8s %-8s %-12s %-8s %-13s %-11s %-12s %-9s %-10s\n' build size \
        pages seconds pages/s cpu-ms/page rss-MiB worst-gap-ms wget-pages wget-ms/page \
        ours/wget ours/floor
    for size in "${sizes[@]}"; do
        site="$out/site-$size"
        [ -f "$site/index.html" ] || "$bench" generate "$site" "$size"
        serve "$site"
        url="http://127.0.0.1:$port"
        : >"$out/access.log"
        start=$(date +%s.%N)
        (cd "$out" && wget --spider -r -l 5 -nd -e robots=off -q "$url/" || true)
        wget_s=$(calc "$(date +%s.%N) - $start" 5)
        # wget asks for each page twice (HEAD, then GET): its pages are its GETs.
        wget_pages=$(gets)
        wget_per_page=$(calc "$wget_s / $wget_pages" 6)
        for build in "${builds[@]}"; do
            ours=$("${binary[$build]}" crawl "$url/")
            floor=$(echo "$ours" | sed -n 's/^floor_wall=//p')
            per_page=$(calc "$(field "$ours" wall) / $(field "$ours" pages)" 6)
            printf '%-8s %-7s %-7s %-8s %-8s %-12s %-8s %-13s %-11s %-12s %-9s %-10s\n' \
                "$build" "$size" "$(field "$ours" pages)" "$(field "$ours" wall)" \
                "$(field "$ours" pages_per_s)" "$(field "$ours" cpu_ms_per_page)" \
                "$(field "$ours" peak_rss_mib)" "$(field "$ours" worst_pump_gap_ms)" \
                "$wget_pages" "$(calc "1000 * $wget_per_page")" \
                "$(calc "$per_page / $wget_per_page")" "$(calc "$(field "$ours" wall) / $floor")"
        done
        stop_nginx
    done
    echo
fi

if has_part python; then
    url="http://127.0.0.1:$port"
    echo "== Python 3.11 docs (python3-doc), every response held 20 ms by the server"
    serve "$python_docs" 20
    # Each build crawls $rounds times, the builds taking turns; the fastest crawl counts, as
    # the one least disturbed by the rest of the machine.
    declare -A crawled
    for _ in $(seq "$rounds"); do
        for build in "${builds[@]}"; do
            c=$("${binary[$build]}" crawl "$url/" --no-floor --pages "$out/python-pages-$build.txt")
            [ -n "${crawled[$build]:-}" ] &&
                (($(calc "($(field "$c" wall) >= $(field "${crawled[$build]}" wall))" 0))) ||
                crawled[$build]=$c
        done
    done
    # The command line on the same site, as often: no window, no lists to lay out.
    cli_run  # sets cli_wall, cli_cpu and cli_pages for the best of $rounds runs
    : >"$out/access.log"
    rm -rf "$out/wget-python"
    start=$(date +%s.%N)
    wget -r -l 5 --follow-tags=a,area -e robots=off -q -P "$out/wget-python" "$url/" || true
    wget_s=$(calc "$(date +%s.%N) - $start" 5)
    wget_pages=$(gets)
    rm -rf "$out/wget-python"
    wget_ms=$(calc "1000 * $wget_s / $wget_pages")

    # The floor: the pages this build requested, one after another on one connection, for
    # about as long as one pass over them takes.
    sed -e 's#^[a-z]*://[^/]*##' -e 's/#.*//' -e 's#^$#/#' "$out/python-pages-this.txt" \
        >"$out/python-paths.txt"
    cat >"$out/floor.lua" <<'LUA'
local paths, at = {}, 0
function init(args) for line in io.lines(args[1]) do paths[#paths + 1] = line end end
function request() at = at % #paths + 1 return wrk.format("GET", paths[at]) end
LUA
    seconds=$(($(wc -l <"$out/python-paths.txt") * 21 / 1000 + 1))
    rps=$(wrk -t1 -c1 -d"${seconds}s" -s "$out/floor.lua" "$url" -- "$out/python-paths.txt" |
        sed -n 's/^Requests\/sec: *//p')
    floor_ms=$(calc "1000 / $rps")
    stop_nginx

    printf '%-16s %-7s %-11s %-13s %-10s %-10s\n' client pages ms/page worst-gap-ms ours/wget \
        ours/floor
    for build in "${builds[@]}"; do
        c=${crawled[$build]}
        ms=$(calc "1000 * $(field "$c" wall) / $(field "$c" pages)")
        printf '%-16s %-7s %-11s %-13s %-10s %-10s\n' "corvane $build" "$(field "$c" pages)" \
            "$ms" "$(field "$c" worst_pump_gap_ms)" "$(calc "$ms / $wget_ms")" \
            "$(calc "$ms / $floor_ms")"
    done
    cli_ms=$(calc "1000 * $cli_wall / $cli_pages")
    printf '%-16s %-7s %-11s %-13s %-10s %-10s\n' "corvane --crawl" "$cli_pages" "$cli_ms" - \
        "$(calc "$cli_ms / $wget_ms")" "$(calc "$cli_ms / $floor_ms")"
    printf '%-16s %-7s %-11s\n' "wget" "$wget_pages" "$wget_ms"
    printf '%-16s %-7s %-11s\n' "floor (wrk -c1)" "$(wc -l <"$out/python-paths.txt")" "$floor_ms"
    echo

    echo "== Python 3.11 docs without delay"
    serve "$python_docs"
    printf '%-16s %-7s %-12s %-8s %-13s\n' build pages cpu-ms/page rss-MiB worst-gap-ms
    declare -A idle
    for _ in $(seq "$rounds"); do
        for build in "${builds[@]}"; do
            c=$("${binary[$build]}" crawl "$url/" --no-floor --dump "$out/python-results-$build.txt")
            cpu_ms=$(field "$c" cpu_ms_per_page)
            [ -n "${idle[$build]:-}" ] &&
                (($(calc "($cpu_ms >= $(field "${idle[$build]}" cpu_ms_per_page))" 0))) ||
                idle[$build]=$c
        done
    done
    declare -A cpu
    for build in "${builds[@]}"; do
        c=${idle[$build]}
        cpu[$build]=$(field "$c" cpu_ms_per_page)
        printf '%-16s %-7s %-12s %-8s %-13s\n' "corvane $build" "$(field "$c" pages)" \
            "${cpu[$build]}" "$(field "$c" peak_rss_mib)" "$(field "$c" worst_pump_gap_ms)"
    done
    cli_run
    printf '%-16s %-7s %-12s\n' "corvane --crawl" "$cli_pages" \
        "$(calc "1000 * $cli_cpu / $cli_pages")"
    stop_nginx
    # The command line's sitemap and lists against the window's, in the window's dump format.
    if cmp -s <(sed '1,/^== sitemap$/d' "$out/python-results-this.txt") "$out/cli/sitemap.xml" &&
        python3 - "$out/cli/lists.json" <<'PY' | cmp -s - <(sed '/^== sitemap$/,$d' "$out/python-results-this.txt"); then
import json, sys
lists = json.load(open(sys.argv[1]))
print("internal count: %d\nexternal count: %d" % (lists["counts"]["internal"], lists["counts"]["external"]))
for side, name in (("internal", "lstLinks"), ("external", "lstExternal")):
    for level, entries in enumerate(lists[side]):
        print("== %s%d (%d)" % (name, level, len(entries)))
        for entry in entries:
            print(entry)
PY
        echo "command line's sitemap and lists: identical to the window's"
    else
        echo "command line's sitemap or lists DIFFER from the window's ($out/cli)"
    fi
    if [ -n "$baseline" ]; then
        echo "cpu this/baseline: $(calc "${cpu[this]} / ${cpu[baseline]}")"
        if diff -u "$out/python-results-baseline.txt" "$out/python-results-this.txt" \
            >"$out/python-results.diff"; then
            echo "results (lists, counts, sitemap): identical to the baseline's"
        else
            echo "results DIFFER from the baseline's ($(grep -c '^[-+][^-+]' "$out/python-results.diff") lines; $out/python-results.diff):"
            head -n 40 "$out/python-results.diff"
        fi
    fi
    echo
fi

if has_part hostile; then
    hostile="$out/hostile"
    mkdir -p "$hostile"
    [ -f "$hostile/links.html" ] || awk 'BEGIN {
        print "<!DOCTYPE html>\n<html><head><title>200000 links</title></head><body>"
        for (i = 0; i < 200000; i++)
            printf "<a href=\"http://h%03d.example.invalid/section/topic/page-%06d.html\"></a>\n", i % 1000, i
        print "</body></html>" }' >"$hostile/links.html"
    [ -f "$hostile/onelink.html" ] || awk 'BEGIN {
        print "<!DOCTYPE html>\n<html><head><title>one link</title></head><body>"
        print "<a href=\"http://h000.example.invalid/section/topic/page-000000.html\"></a>"
        print "</body></html>" }' >"$hostile/onelink.html"
    [ -f "$hostile/longlink.html" ] || awk 'BEGIN {
        path = "abcdefghijklmnopqrstuvwxyz012345"
        while (length(path) < 2097152) path = path path
        print "<!DOCTYPE html>\n<html><head><title>a 2 MiB link</title></head><body>"
        printf "<a href=\"http://long.example.invalid/%s\">long</a>\n", substr(path, 1, 2097152 - 31)
        print "</body></html>" }' >"$hostile/longlink.html"
    [ -f "$hostile/deepdiv.html" ] || awk 'BEGIN {
        print "<!DOCTYPE html>\n<html><head><title>100000 nested divs</title></head><body>"
        for (i = 0; i < 100000; i++) printf "<div>"
        printf "<a href=\"http://deep.example.invalid/\">deep</a>"
        for (i = 0; i < 100000; i++) printf "</div>"
        print "\n</body></html>" }' >"$hostile/deepdiv.html"
    serve "$hostile"
    # A page that takes longer than this is reported as taking at least this long.
    limit=${BENCH_PAGE_LIMIT_S:-120}
    echo "== hostile pages (no delay; each page crawled alone, at most ${limit} s)"
    printf '%-16s %-14s %-14s %-15s %-15s %-14s %-14s %-14s\n' build B-per-link \
        rss-200k-MiB rss-1link-MiB long:gap-ms long:page-ms deep:gap-ms deep:page-ms
    hostile_crawl() { # hostile_crawl BUILD PAGE: the crawl's figures, or nothing on timeout
        timeout "$limit" "${binary[$1]}" crawl "http://127.0.0.1:$port/$2.html" --no-floor || true
    }
    page_ms() { [ -n "$1" ] && calc "1000 * $(field "$1" wall)" 0 || echo ">$((limit * 1000))"; }
    gap_ms() { [ -n "$1" ] && field "$1" worst_pump_gap_ms || echo "?"; }
    for build in "${builds[@]}"; do
        one=$(hostile_crawl "$build" onelink)
        many=$(hostile_crawl "$build" links)
        long=$(hostile_crawl "$build" longlink)
        deep=$(hostile_crawl "$build" deepdiv)
        per_link="?"
        [ -n "$one" ] && [ -n "$many" ] && per_link=$(calc \
            "1048576 * ($(field "$many" peak_rss_mib) - $(field "$one" peak_rss_mib)) / 200000" 0)
        printf '%-16s %-14s %-14s %-15s %-15s %-14s %-14s %-14s\n' "corvane $build" \
            "$per_link" "$(field "$many" peak_rss_mib)" "$(field "$one" peak_rss_mib)" \
            "$(gap_ms "$long")" "$(page_ms "$long")" "$(gap_ms "$deep")" "$(page_ms "$deep")"
    done
    stop_nginx
    echo
fi

if has_part big; then
    # Each site LINKSxPAGES: a chain of pages down to PAGES level-4 pages, each linking LINKS
    # distinct internal addresses of about 60 characters.
    big_sites=${BENCH_BIG_SITES:-${BENCH_BIG_LINKS:+${BENCH_BIG_LINKS}x1}}
    big_sites=${big_sites:-100000x1 1000x1000}
    for big_site in $big_sites; do
        big_links=${big_site%x*}
        big_pages=${big_site#*x}
        big="$out/big-$big_site"
        [ -f "$big/done" ] || {
            rm -rf "$big"
            mkdir -p "$big"
            # index.html links l0.html, which links l1.html, and so on to l3.html, which links
            # the level-4 pages l4-0000.html, l4-0001.html, ...
            for page in index 0 1 2; do
                name=$([ "$page" = index ] && echo index || echo "l$page")
                next=$([ "$page" = index ] && echo 0 || echo $((page + 1)))
                printf '<!DOCTYPE html><html><head><title>%s</title></head><body><a href="/l%s.html">next</a></body></html>\n' \
                    "$name" "$next" >"$big/$name.html"
            done
            awk -v pages="$big_pages" -v n="$big_links" -v dir="$big" 'BEGIN {
                index_page = dir "/l3.html"
                print "<!DOCTYPE html>\n<html><head><title>l3</title></head><body>" >index_page
                for (p = 0; p < pages; p++) {
                    printf "<a href=\"/l4-%04d.html\">part</a>\n", p >index_page
                    file = sprintf("%s/l4-%04d.html", dir, p)
                    print "<!DOCTYPE html>\n<html><head><title>catalogue</title></head><body>" >file
                    for (i = 0; i < n; i++)
                        printf "<a href=\"/catalogue/section-%03d/item-%07d.html\">item</a>\n",
                            i % 1000, p * n + i >file
                    print "</body></html>" >file
                    close(file)
                }
                print "</body></html>" >index_page }'
            touch "$big/done"
        }
        serve "$big"
        echo "== big site: $big_pages level-4 page(s) linking $big_links internal addresses each (no delay)"
        printf '%-16s %-8s %-9s %-11s %-13s %-8s %-9s\n' build step cpu-ms handler-ms \
            worst-gap-ms rss-MiB peak-MiB
        for build in "${builds[@]}"; do
            rm -rf "$out/big-export"
            mkdir -p "$out/big-export"
            figures=$("${binary[$build]}" steps "http://127.0.0.1:$port/" "$out/big-export")
            while read -r line; do
                printf '%-16s %-8s %-9s %-11s %-13s %-8s %-9s\n' "corvane $build" \
                    "$(field "$line" step)" "$(field "$line" busy_ms)" \
                    "$(field "$line" handler_ms)" "$(field "$line" worst_pump_gap_ms)" \
                    "$(field "$line" rss_mib)" "$(field "$line" peak_mib)"
            done <<<"$figures"
            crawl_line=$(echo "$figures" | grep '^step=crawl ')
            echo "corvane $build: $(field "$crawl_line" links) links filed," \
                "$(field "$crawl_line" us_per_link) us of CPU per link in the crawl," \
                "$(field "$crawl_line" bytes_per_link) bytes per link at the crawl's peak" \
                "(over the memory before it); Export wrote: $(cd "$out/big-export" && ls | wc -l)" \
                "files ($(cd "$out/big-export" && ls | head -n 3 | tr '\n' ' ')...)"
            # The command line over the same site: its CPU seconds and peak resident memory
            # for the crawl, the build and the export together.
            cli="$(dirname "${binary[$build]}")/../app/corvane"
            rm -rf "$out/big-cli" && mkdir -p "$out/big-cli"
            cli_figures=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/time -f '%U %S %M' \
                "$cli" --crawl "http://127.0.0.1:$port/" --quiet --export "$out/big-cli" \
                2>&1 >/dev/null | tail -n 1)
            read -r cli_user cli_sys cli_kib <<<"$cli_figures"
            echo "corvane $build --crawl: $(calc "$cli_user + $cli_sys" 2) CPU s," \
                "peak $(calc "$cli_kib / 1024" 1) MiB; wrote $(cd "$out/big-cli" && ls | wc -l) files"
        done
        stop_nginx
        echo
    done
fi

if has_part extract; then
    echo "== link extractor on the Python docs' pages"
    # HOOK: the extractor's own benchmark (bench/ExtractBench.cpp, target
    # corvane-extract-bench) runs here once it is part of the build.
    extract="$root/build-bench/bench/corvane-extract-bench"
    if [ -x "$extract" ]; then
        "$extract" "$python_docs"
    else
        echo "not measured: this build has no corvane-extract-bench"
    fi
fi
