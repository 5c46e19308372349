#!/usr/bin/env python3
"""Holds the page reader's links against a headless Chromium's `document.links`.

  python3 bench/browser-links.py BUILD_DIR [--json OUT] [--chromium PATH]

Takes the hand-made pages of the link tests with the links the page reader reads on them
(BUILD_DIR/bench/corvane-test-page-links), serves each page from a server on 127.0.0.1 at its
own address (Chromium resolves every host name to that server, so that pages keep their
addresses and nothing leaves the machine), loads it in Chromium in an iframe of a same-origin
wrapper page (which selects each row on the server before loading it) and reads the iframe's
`document.links` hrefs, in order. Each page is read twice: with scripting disabled (an iframe
sandboxed without scripts, as a crawler reads pages) and with scripting enabled. Prints every
row where the lists differ and a summary; with --json, writes all rows with both readings.
"""
import argparse
import base64
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import urllib.parse

WRAPPER = """<!DOCTYPE html><meta charset=utf-8><title>links</title><body><pre id=out></pre><script>
const rows = %(rows)s;
const sandboxed = %(sandboxed)s;
async function load(row) {
  await fetch('/__select?row=' + row.id, {cache: 'no-store'});
  return new Promise((resolve) => {
    const frame = document.createElement('iframe');
    if (sandboxed)
      frame.setAttribute('sandbox', 'allow-same-origin');
    frame.onload = () => {
      const d = frame.contentDocument;
      const result = {id: row.id, links: Array.from(d.links, (a) => a.href),
                      url: d.URL, baseURI: d.baseURI, compatMode: d.compatMode,
                      characterSet: d.characterSet,
                      dom: d.documentElement ? d.documentElement.outerHTML.slice(0, 2000) : null};
      frame.remove();
      resolve(result);
    };
    frame.src = row.path;
    document.body.appendChild(frame);
  });
}
(async () => {
  const results = [];
  for (const row of rows)
    results.push(await load(row));
  const text = JSON.stringify(results);
  await fetch('/__results', {method: 'POST', body: text});
  document.getElementById('out').textContent = text;
})();
</script>
"""


class Pages:
    def __init__(self, rows):
        self.rows = rows
        self.wrapper = b""
        self.current = None  # the row the wrapper loads next, which it selects first
        self.served = []
        self.results = None
        self.done = threading.Event()


def make_handler(pages):
    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def send(self, status, body, content_type):
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(body)

        def do_GET(self):
            if self.path == "/__wrapper.html":
                self.send(200, pages.wrapper, "text/html; charset=utf-8")
                return
            if self.path.startswith("/__select?row="):
                pages.current = int(self.path.split("=", 1)[1])
                self.send(200, b"", "text/plain")
                return
            row = pages.rows.get(pages.current)
            if row is not None and self.path == row["path"]:
                pages.served.append(row["id"])
                self.send(200, row["body"], "text/html; charset=" + row["encoding"])
            else:
                self.send(404, b"", "text/plain")

        def do_POST(self):
            # Chromium's own background requests reach this server too.
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            if self.path != "/__results":
                self.send(404, b"", "text/plain")
                return
            pages.results = json.loads(body)
            self.send(204, b"", "text/plain")
            pages.done.set()

    return Handler


def browser_links(chromium, rows, sandboxed):
    """{row id: Chromium's reading} for rows that all share one origin."""
    pages = Pages({row["id"]: row for row in rows})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), make_handler(pages))
    port = server.server_address[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()
    origin = rows[0]["origin"]
    pages.wrapper = (WRAPPER % {
        "rows": json.dumps([{"id": r["id"], "path": r["path"]} for r in rows]),
        "sandboxed": "true" if sandboxed else "false",
    }).encode()
    profile = tempfile.mkdtemp(prefix="browser-links-")
    command = [
        chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--disable-default-apps", "--disable-extensions", "--mute-audio",
        "--user-data-dir=" + profile,
        "--host-resolver-rules=MAP * 127.0.0.1:%d" % port,
        "--virtual-time-budget=600000", "--dump-dom", origin + "/__wrapper.html",
    ]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    try:
        pages.done.wait(timeout=600)
    finally:
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        process.wait()
        server.shutdown()
        shutil.rmtree(profile, ignore_errors=True)
    if pages.results is None:
        sys.exit("chromium gave no result for " + origin)
    if sorted(pages.served) != sorted(r["id"] for r in rows):
        sys.exit("the pages served are not the rows: %r" % pages.served)
    return {r["id"]: r for r in pages.results}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--json")
    parser.add_argument("--chromium", default="chromium")
    args = parser.parse_args()

    tool = os.path.join(args.build, "bench", "corvane-test-page-links")
    rows = [json.loads(line) for line in
            subprocess.run([tool], check=True, capture_output=True).stdout.splitlines()]
    for i, row in enumerate(rows):
        row["id"] = i
        url = urllib.parse.urlsplit(row["url"])
        row["origin"] = "%s://%s" % (url.scheme, url.netloc)
        row["path"] = url.path + ("?" + url.query if url.query else "")
        html = base64.b64decode(row["html"])
        encoding = row["encoding"].lower()
        # The reader is given the page as text (in UTF-8) and its encoding; the browser gets
        # the page's bytes in that encoding.
        row["body"] = html if encoding == "utf-8" else html.decode("utf-8").encode(encoding)

    origins = {}
    for row in rows:
        origins.setdefault(row["origin"], []).append(row)
    for mode, sandboxed in (("noscript", True), ("script", False)):
        for group in origins.values():
            for id, result in browser_links(args.chromium, group, sandboxed).items():
                rows[id][mode] = result

    equal = {"noscript": 0, "script": 0}
    for row in rows:
        for mode in equal:
            if row[mode]["links"] == row["ours"]:
                equal[mode] += 1
        if row["noscript"]["links"] != row["ours"] or row["script"]["links"] != row["ours"]:
            print("== %s / %s (%s, %s)" % (row["table"], row["row"], row["url"], row["encoding"]))
            print("   page:      %r" % base64.b64decode(row["html"])[:300])
            print("   ours:      %s" % json.dumps(row["ours"]))
            for mode in equal:
                r = row[mode]
                same = "same" if r["links"] == row["ours"] else "DIFFERS"
                print("   chromium, %-8s %s: %s  [%s, base %s]" % (
                    mode + ":", same, json.dumps(r["links"]), r["compatMode"], r["baseURI"]))
    print("rows: %d; equal to Chromium with scripting disabled: %d; with scripting enabled: %d"
          % (len(rows), equal["noscript"], equal["script"]))
    if args.json:
        for row in rows:
            del row["body"]
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()
