#!/usr/bin/env bash
# Checks the loopback test server with the native curl command:  selftest.sh [FIRST_BASE_PORT]
# Makes certificates and a served folder in a temporary directory, starts testserver.py on a free
# base port, runs every route, rule and record case, stops the server. Exits non-zero on a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
server_pid=
passed=0
failed=0

cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

ok() { passed=$((passed + 1)); echo "ok    $1"; }
bad() { failed=$((failed + 1)); echo "FAIL  $1${2:+ ($2)}"; }
# expect NAME ACTUAL WANTED
expect() { if [ "$2" = "$3" ]; then ok "$1"; else bad "$1" "got '$2', want '$3'"; fi; }

# Waits up to 10 s for a condition (a command); bounded poll.
poll() {
  for _ in $(seq 1 100); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# A base port whose seven server ports are all free.
base=$(python3 - "${1:-28000}" <<'EOF'
import socket, sys
start = int(sys.argv[1])
for base in range(start, start + 3000, 100):
    socks = []
    try:
        for off in (80, 81, 82, 83, 443, 444, 445):
            s = socket.socket()
            s.bind(("127.0.0.1", base + off))
            socks.append(s)
        print(base)
        break
    except OSError:
        pass
    finally:
        for s in socks:
            s.close()
EOF
)
[ -n "$base" ] || { echo "no free base port"; exit 1; }

www=$tmp/www state=$tmp/state certs=$tmp/certs out=$tmp/out
mkdir -p "$www/qx" "$www/dl/update/pc_tessaro_setup" "$www/download/release" "$out"
head -c 200000 /dev/urandom >"$www/a.bin"
echo '{"rez9":{"ver":"9.0"}}' >"$www/qx/tessaroex"
head -c 5000 /dev/urandom >"$www/dl/update/pc_tessaro_setup/x.exe"
head -c 3000 /dev/urandom >"$www/download/release/y.exe"
echo spaced >"$www/with space.txt"
half=$((200000 / 2))

bash "$here/make-certs.sh" "$certs" || { echo "make-certs.sh failed"; exit 1; }
for f in ca.pem ca.der localhost.pem otherhost.pem untrusted-localhost.pem publisher.pem publisher.key \
  publisher-chain.pem other-publisher.pem untrusted-publisher.pem untrusted-ca.pem; do
  [ -s "$certs/$f" ] || bad "certificate file $f"
done
subject() { openssl x509 -in "$certs/$1" -noout -subject -nameopt multiline | sed -n 's/^ *commonName *= //p'; }
expect "root CA name" "$(subject ca.pem)" "Orvanta Test Root CA"
expect "publisher name" "$(subject publisher.pem)" "Orvanta Test Publisher"
expect "other publisher name" "$(subject other-publisher.pem)" "Someone Else Ltd"
expect "untrusted publisher name" "$(subject untrusted-publisher.pem)" "Orvanta Test Publisher"
verify() { openssl verify -CAfile "$certs/$1" "$certs/$2" >/dev/null 2>&1; }
verify ca.pem localhost.pem && verify ca.pem publisher.pem && verify ca.pem other-publisher.pem \
  && ! verify ca.pem untrusted-localhost.pem && ! verify ca.pem untrusted-publisher.pem \
  && ok "certificate chains" || bad "certificate chains"
openssl x509 -in "$certs/publisher.pem" -noout -ext extendedKeyUsage | grep -q "Code Signing" \
  && openssl x509 -in "$certs/localhost.pem" -noout -ext subjectAltName | grep -q "DNS:localhost" \
  && ok "certificate usages" || bad "certificate usages"
stamp=$(cat "$certs/.done")
bash "$here/make-certs.sh" "$certs"
expect "make-certs.sh does nothing a second time" "$(cat "$certs/.done")" "$stamp"

# Authenticode signing works with these files when a PE is at hand to sign.
if command -v osslsigncode >/dev/null && command -v x86_64-w64-mingw32-gcc >/dev/null; then
  printf 'int main(void){return 0;}\n' >"$tmp/t.c"
  x86_64-w64-mingw32-gcc -o "$tmp/t.exe" "$tmp/t.c" \
    && osslsigncode sign -certs "$certs/publisher-chain.pem" -key "$certs/publisher.key" -h sha256 \
      -in "$tmp/t.exe" -out "$tmp/ts.exe" >/dev/null \
    && osslsigncode verify -CAfile "$certs/ca.pem" -in "$tmp/ts.exe" >/dev/null 2>&1 \
    && ok "osslsigncode signs and verifies with the publisher" || bad "osslsigncode signs and verifies"
fi

python3 "$here/testserver.py" --base-port "$base" --root "$www" --state "$state" --certs "$certs" \
  </dev/null 2>"$tmp/server.err" &
server_pid=$!
if poll test -s "$state/ready"; then
  expect "ready file holds the pid" "$(head -n 1 "$state/ready")" "$server_pid"
else
  bad "server ready" "$(cat "$tmp/server.err")"
  echo "$passed passed, $failed failed"
  exit 1
fi

H=http://127.0.0.1:$((base + 80))
S=https://localhost:$((base + 443))
# get URL [curl options]: prints "exit-code http-code bytes", body in $out/body, headers in $out/head
get() {
  local url=$1
  shift
  local w
  w=$(curl -s -o "$out/body" -D "$out/head" -w '%{http_code} %{size_download} %{num_redirects}' "$@" "$url")
  echo "$? $w"
}
same() { cmp -s "$out/body" "$1"; }
has_length() { grep -qi '^content-length:' "$out/head"; }

# Files on every plain port, with a length, query ignored for the lookup.
for off in 80 81 82 83; do
  r=$(get "http://127.0.0.1:$((base + off))/files/a.bin?x=1&y=2")
  [ "${r% *}" = "0 200 200000" ] && same "$www/a.bin" && has_length && ok "GET /files on port +$off" \
    || bad "GET /files on port +$off" "$r"
done
r=$(get "$H/files/missing.bin")
[ "${r% *}" = "0 404 $(stat -c %s "$out/body")" ] && grep -q "<html" "$out/body" && ok "missing file gives a 404 page" \
  || bad "missing file gives a 404 page" "$r"
r=$(get "$H/files/../../../etc/passwd" --path-as-is)
expect "path outside the root is not served" "${r% * *}" "0 404"
r=$(get "$H/files/with%20space.txt")
expect "percent-encoded name" "${r% *}" "0 200 7"
r=$(curl -s -I -o /dev/null -w '%{http_code} %{size_download}' "$H/files/a.bin"; echo " $?")
expect "HEAD gives headers only" "$r" "200 0 0"

# Plain paths map into the root.
for p in qx/tessaroex dl/update/pc_tessaro_setup/x.exe download/release/y.exe; do
  r=$(get "$H/$p")
  [ "${r% * *}" = "0 200" ] && same "$www/$p" && has_length && ok "GET /$p" || bad "GET /$p" "$r"
done

r=$(get "$H/nolength/a.bin")
[ "${r% *}" = "0 200 200000" ] && same "$www/a.bin" && ! has_length && ok "no Content-Length body" \
  || bad "no Content-Length body" "$r"

r=$(get "$H/redirect/5/a.bin?q=1" -L)
[ "$r" = "0 200 200000 5" ] && same "$www/a.bin" && ok "/redirect/5 gives exactly 5 redirects" \
  || bad "/redirect/5 gives exactly 5 redirects" "$r"
r=$(get "$H/redirect/6/a.bin" -L --max-redirs 5)
expect "/redirect/6 overruns a limit of 5" "${r%% *}" "47"
r=$(get "$H/redirect/0/a.bin" -L)
expect "/redirect/0 serves the file" "$r" "0 200 200000 0"
r=$(get "$H/redirect/1/a.bin")
[ "${r% * *}" = "0 302" ] && grep -qi "^location: http://127.0.0.1:$((base + 80))/files/a.bin" "$out/head" \
  && ok "redirect Location" || bad "redirect Location" "$r $(grep -i location "$out/head")"

r=$(get "$H/stall/a.bin" --max-time 2)
expect "/stall sends half and then nothing" "${r% *}" "28 200 $half"
r=$(get "$H/reset/a.bin")
code=${r%% *}
[ "$code" != 0 ] && [ "$code" != 18 ] && [ "$code" != 28 ] && ok "/reset gives a connection error ($code)" \
  || bad "/reset gives a connection error" "$r"
r=$(get "$H/short/a.bin")
expect "/short gives curl error 18" "${r% *}" "18 200 $half"
r=$(get "$H/trickle/a.bin?bytes=20000&ms=10")
[ "${r% *}" = "0 200 200000" ] && same "$www/a.bin" && has_length && ok "/trickle delivers all" \
  || bad "/trickle delivers all" "$r"
r=$(get "$H/status/500")
[ "${r% * *}" = "0 500" ] && grep -q "500" "$out/body" && ok "/status/500" || bad "/status/500" "$r"

# A rate cap slows a 200000-byte body to at least 0.4 s at 400000 bytes/s.
echo 400000 >"$state/rate"
t=$(curl -s -o /dev/null -w '%{time_total}' "$H/files/a.bin")
rm -f "$state/rate"
awk -v t="$t" 'BEGIN { exit !(t >= 0.4) }' && ok "rate file caps bodies" || bad "rate file caps bodies" "$t s"

# HTTPS: trusted CA passes, wrong host and untrusted CA fail.
r=$(get "$S/files/a.bin" --cacert "$certs/ca.pem")
[ "${r% *}" = "0 200 200000" ] && same "$www/a.bin" && ok "HTTPS with the test CA" || bad "HTTPS with the test CA" "$r"
r=$(get "https://localhost:$((base + 444))/files/a.bin" --cacert "$certs/ca.pem")
expect "HTTPS with another host's certificate fails" "${r%% *}" "60"
r=$(get "https://localhost:$((base + 445))/files/a.bin" --cacert "$certs/ca.pem")
expect "HTTPS with the untrusted CA fails" "${r%% *}" "60"
r=$(get "https://localhost:$((base + 444))/files/a.bin" --cacert "$certs/ca.pem" -k)
expect "wrong-host port serves the same routes" "${r% *}" "0 200 200000"
r=$(get "$S/nolength/a.bin" --cacert "$certs/ca.pem")
[ "${r% *}" = "0 200 200000" ] && ! has_length && ok "HTTPS body ended by close" || bad "HTTPS body ended by close" "$r"
r=$(get "$S/short/a.bin" --cacert "$certs/ca.pem")
expect "HTTPS /short gives curl error 18" "${r% *}" "18 200 $half"
r=$(get "$S/redirect/2/a.bin" --cacert "$certs/ca.pem" -L)
expect "HTTPS redirects stay on HTTPS" "$r" "0 200 200000 2"
r=$(get "$S/status/404" --cacert "$certs/ca.pem")
expect "HTTPS 404" "${r% * *}" "0 404"

# Rules: a path fails while the file is there, works again once it is gone.
mkdir -p "$state/rules"
printf '{"port": 0, "path": "/files/a.bin", "action": "404"}' >"$state/rules/10.json"
r=$(get "$H/files/a.bin")
expect "rule makes a path 404" "${r% * *}" "0 404"
r=$(get "$H/files/qx/tessaroex")
expect "rule leaves other paths alone" "${r% * *}" "0 200"
rm "$state/rules/10.json"
r=$(get "$H/files/a.bin")
expect "removed rule no longer applies" "${r% *}" "0 200 200000"
printf '{"port": %d, "path": "/dl/update/pc_tessaro_setup/x.exe", "action": "500", "times": 1}' \
  $((base + 82)) >"$state/rules/20.json"
r1=$(get "http://127.0.0.1:$((base + 83))/dl/update/pc_tessaro_setup/x.exe")
r2=$(get "http://127.0.0.1:$((base + 82))/dl/update/pc_tessaro_setup/x.exe")
r3=$(get "http://127.0.0.1:$((base + 82))/dl/update/pc_tessaro_setup/x.exe")
expect "rule with port and times" "${r1% * *} / ${r2% * *} / ${r3% * *}" "0 200 / 0 500 / 0 200"
rm "$state/rules/20.json"
rule() { printf '{"path": "/files/a.bin", "action": "%s"}' "$1" >"$state/rules/30.json"; }
rule close
r=$(get "$H/files/a.bin")
expect "rule close: no response" "${r%% *}" "52"
rule short
r=$(get "$H/files/a.bin")
expect "rule short" "${r% *}" "18 200 $half"
rule reset
r=$(get "$H/files/a.bin")
[ "${r%% *}" != 0 ] && [ "${r%% *}" != 18 ] && ok "rule reset" || bad "rule reset" "$r"
rule stall
r=$(get "$H/files/a.bin" --max-time 1)
expect "rule stall" "${r% *}" "28 200 $half"
rule "redirect:$H/files/qx/tessaroex"
r=$(get "$H/files/a.bin" -L)
[ "${r% * *}" = "0 200" ] && same "$www/qx/tessaroex" && ok "rule redirect" || bad "rule redirect" "$r"
rule "delay_ms:300"
r=$(get "$H/files/a.bin")
t=$(curl -s -o /dev/null -w '%{time_total}' "$H/files/a.bin")
[ "${r% *}" = "0 200 200000" ] && awk -v t="$t" 'BEGIN { exit !(t >= 0.3) }' && ok "rule delay" || bad "rule delay" "$r $t"
rm "$state/rules/30.json"
printf '{"path": "/collection/biz/upload", "action": "hang"}' >"$state/rules/40.json"
r=$(curl -s -o /dev/null -w '%{http_code}' --max-time 1 -d '[]' "$S/collection/biz/upload" --cacert "$certs/ca.pem"; echo " $?")
expect "rule hang on a POST: no answer" "$r" "000 28"
rm "$state/rules/40.json"

# Records.
r=$(curl -s --cacert "$certs/ca.pem" -H "Content-Type:application/json;charset=UTF-8" -H "timestamp: 123" \
  -H "signature: abcdef01" --data-binary '[{"a": 1}]' "$S/collection/biz/upload")
expect "collection reply" "$r" '{"code":0}'
rec_ok() { ls "$state/records/$1/"*.json >/dev/null 2>&1; }
poll rec_ok collection
python3 - "$state/records/collection" $((base + 443)) <<'EOF' && ok "collection record" || bad "collection record"
import base64, glob, json, sys
files = sorted(glob.glob(sys.argv[1] + "/*.json"))
r = json.load(open(files[-1]))
assert r["port"] == int(sys.argv[2]) and r["path"] == "/collection/biz/upload", r
assert r["headers"]["timestamp"] == "123" and r["headers"]["signature"] == "abcdef01", r
assert r["headers"]["content-type"] == "application/json;charset=UTF-8", r
order = [h.lower() for h in r["header_order"]]
assert order.index("timestamp") < order.index("signature"), order
assert r["body"] == '[{"a": 1}]' and base64.b64decode(r["body_b64"]) == b'[{"a": 1}]', r
EOF
curl -s -o /dev/null -H "platform:GW" --data-binary '[{"newType":5}]' "$H/common/baidu/ocpc"
curl -s -o /dev/null --data-binary '[{"newType":4}]' "$H/common/baidu/ocpc"
expect "ocpc records are numbered" "$(cd "$state/records/ocpc" && ls *.json | tr '\n' ' ')" "000001.json 000002.json "
head -c 3000000 /dev/urandom >"$tmp/big.bin"
r=$(curl -s --data-binary "@$tmp/big.bin" "$H/record/bigpost")
python3 - "$state/records/bigpost/000001.json" "$tmp/big.bin" <<'EOF' && ok "large binary POST recorded" || bad "large binary POST recorded"
import base64, json, sys
r = json.load(open(sys.argv[1]))
assert base64.b64decode(r["body_b64"]) == open(sys.argv[2], "rb").read()
assert r["body"] is None
EOF
r=$(curl -s -o /dev/null -w '%{http_code}' -d x "$H/not/recorded")
expect "POST elsewhere is 404" "$r" "404"

# Request log: one JSON line per request with port, path and query.
python3 - "$state/requests.log" $((base + 81)) <<'EOF' && ok "requests.log" || bad "requests.log"
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
assert any(l["port"] == int(sys.argv[2]) and l["path"] == "/files/a.bin?x=1&y=2" and l["method"] == "GET" for l in lines)
assert all("headers" in l for l in lines)
EOF

# The server survives clients that vanish mid-body.
for _ in 1 2 3; do curl -s -o /dev/null --max-time 0.2 "$H/trickle/a.bin?bytes=100&ms=50"; done
r=$(get "$H/files/a.bin")
expect "server still serves after aborted clients" "${r% *}" "0 200 200000"
grep -q Traceback "$tmp/server.err" && bad "no tracebacks from the server" "$(cat "$tmp/server.err")" \
  || ok "no tracebacks from the server"

kill "$server_pid"
gone() { ! kill -0 "$server_pid" 2>/dev/null; }
if poll gone; then
  wait "$server_pid"
  expect "server exits cleanly on SIGTERM" "$?" "0"
  [ ! -e "$state/ready" ] && ok "ready file removed" || bad "ready file removed"
else
  bad "server exits on SIGTERM"
fi
server_pid=

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
