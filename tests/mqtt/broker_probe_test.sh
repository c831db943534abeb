#!/usr/bin/env bash
# The client against a real broker, through `marquo-probe mqtt`: Debian's
# mosquitto, started here on a free port of 127.0.0.1 and stopped when the
# test ends. One case per run:
#
#   broker_probe_test.sh CASE PROBE [EMULATOR...]
#
# CASE is receive, restart, password, sigstop, qos, publish or persistent; PROBE the built
# marquo-probe; EMULATOR the command that runs it (scripts/wine-run.sh for
# the Windows build). Every wait is bounded, so a hang fails the case.
set -uo pipefail
case_name=$1
probe=$2
shift 2
emulator=("$@")

work=$(mktemp -d)
broker_pid=
probe_pid=
cleanup() {
  [ -n "$probe_pid" ] && kill "$probe_pid" 2>/dev/null
  if [ -n "$broker_pid" ]; then
    kill -CONT "$broker_pid" 2>/dev/null
    kill "$broker_pid" 2>/dev/null
    wait "$broker_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL ($case_name): $*"
  echo "---- probe output"
  cat "$work/probe.out" 2>/dev/null
  echo "---- broker log"
  tail -n 30 "$work/broker.log" 2>/dev/null
  exit 1
}

port=
pub_auth=() # the credentials mosquitto_pub needs, if any
# Writes the broker's configuration; $1 adds a password file.
write_config() {
  {
    echo "listener $port 127.0.0.1"
    echo "user $(id -un)"
    echo "persistence false"
    echo "log_dest file $work/broker.log"
    echo "log_type all"
    # Large enough that the broker itself never drops a burst.
    echo "max_queued_messages 100000"
    if [ "${1:-}" = password ]; then
      echo "allow_anonymous false"
      echo "password_file $work/passwords"
    else
      echo "allow_anonymous true"
    fi
  } >"$work/broker.conf"
}

# Starts the broker on $port and waits until it listens.
start_broker() {
  : >"$work/broker.log"
  mosquitto -c "$work/broker.conf" >>"$work/broker.stderr" 2>&1 &
  broker_pid=$!
  for _ in $(seq 50); do
    grep -q "listen socket on port $port" "$work/broker.log" 2>/dev/null && return 0
    kill -0 "$broker_pid" 2>/dev/null || break
    sleep 0.1
  done
  wait "$broker_pid" 2>/dev/null
  broker_pid=
  return 1
}

# A free port: tried at random until one is not in use.
start_first_broker() {
  for _ in $(seq 20); do
    port=$((20000 + RANDOM % 40000))
    write_config "$@"
    start_broker && return 0
  done
  echo "FAIL ($case_name): no broker could be started"
  cat "$work/broker.stderr"
  exit 1
}

stop_broker() {
  kill "$broker_pid" 2>/dev/null
  wait "$broker_pid" 2>/dev/null
  broker_pid=
}

# Starts the probe with its output in a file. Under Wine the program writes
# that file itself (wine-run.sh would pass the output on only at the end).
start_probe() {
  if ((${#emulator[@]})); then
    MARQUO_WINE_DIRECT=1 "${emulator[@]}" "$probe" mqtt --port "$port" "$@" >"$work/probe.out" 2>&1 &
  else
    "$probe" mqtt --port "$port" "$@" >"$work/probe.out" 2>&1 &
  fi
  probe_pid=$!
}

# Waits up to $2 seconds for a line matching the pattern $1 (grep -E) to
# appear $3 times (default 1).
wait_for() {
  local pattern=$1 seconds=$2 times=${3:-1}
  local end=$((SECONDS + seconds))
  while ((SECONDS < end)); do
    (($(grep -cE "$pattern" "$work/probe.out" 2>/dev/null) >= times)) && return 0
    sleep 0.1
  done
  fail "no \"$pattern\" (x$times) within $seconds s"
}

# The probe is subscribed once one of these markers has come back to it.
wait_subscribed() {
  local end=$((SECONDS + 20))
  while ((SECONDS < end)); do
    mosquitto_pub -p "$port" "${pub_auth[@]}" -t "$1" -m ready 2>/dev/null
    grep -qE "^msg 0 0 $1 ready$" "$work/probe.out" && return 0
    sleep 0.2
  done
  fail "the subscription to $1 did not take within 20 s"
}

wait_probe_end() {
  local end=$((SECONDS + ${1:-30}))
  while ((SECONDS < end)); do
    if ! kill -0 "$probe_pid" 2>/dev/null; then
      wait "$probe_pid"
      probe_status=$?
      probe_pid=
      return 0
    fi
    sleep 0.1
  done
  fail "the probe did not end"
}

case "$case_name" in
receive)
  # A 64 KiB message and a burst of a thousand, each once and in order.
  start_first_broker
  start_probe --sub t 0 --sub ready 0 --seconds 60
  wait_for '^online$' 20
  wait_subscribed ready
  head -c 65536 /dev/zero | tr '\0' 'x' | mosquitto_pub -p "$port" -t t -s ||
    fail "mosquitto_pub failed"
  seq 1 1000 | mosquitto_pub -p "$port" -t t -l || fail "mosquitto_pub failed"
  wait_for '^msg 0 0 t ' 30 1001
  big=$(grep '^msg 0 0 t ' "$work/probe.out" | head -n 1 | cut -d' ' -f5)
  [ "${#big}" -eq 65536 ] || fail "the 64 KiB message arrived with ${#big} bytes"
  grep '^msg 0 0 t ' "$work/probe.out" | tail -n +2 | cut -d' ' -f5 >"$work/burst"
  seq 1 1000 | cmp -s - "$work/burst" || fail "the burst did not arrive once each, in order"
  kill -TERM "$probe_pid" 2>/dev/null
  # Under Wine a POSIX signal does not reach the program as Ctrl+C; its
  # --seconds ends it there.
  ;;
restart)
  # The broker stopped and started again on the same port: the client
  # notices, reconnects within about 7 s and renews its subscription.
  start_first_broker
  start_probe --sub ready 0 --seconds 90
  wait_for '^online$' 20
  wait_subscribed ready
  stop_broker
  wait_for '^offline dropped$' 10
  start_broker || fail "the broker did not start again on port $port"
  restarted=$SECONDS
  wait_for '^online$' 10 2
  ((SECONDS - restarted <= 8)) || fail "online again only after $((SECONDS - restarted)) s"
  wait_subscribed ready
  ;;
password)
  # Bad credentials are refused once, and no further attempt follows; good
  # ones connect.
  : >"$work/passwords"
  mosquitto_passwd -b "$work/passwords" cabinet right >/dev/null 2>&1 ||
    fail "mosquitto_passwd failed"
  start_first_broker password
  pub_auth=(-u cabinet -P right)
  start_probe --user cabinet --password wrong --seconds 8
  wait_probe_end 40
  grep -qE '^mon Connection (BAD LOGIN|NOT AUTHORISED)$' "$work/probe.out" ||
    fail "no refusal text"
  (($(grep -c '^mon Connecting to ' "$work/probe.out") == 1)) || fail "attempted again"
  grep -q '^online$' "$work/probe.out" && fail "online with bad credentials"
  start_probe --user cabinet --password right --sub ready 0 --seconds 60
  wait_for '^online$' 20
  wait_subscribed ready
  ;;
sigstop)
  # A broker that stops answering while the TCP connection stays open is
  # noticed within about 20 s; once it answers again the client is back.
  start_first_broker
  start_probe --sub ready 0 --seconds 120
  wait_for '^online$' 20
  wait_subscribed ready
  kill -STOP "$broker_pid"
  stopped=$SECONDS
  wait_for '^mon Nothing received from the broker' 30
  ((SECONDS - stopped <= 25)) || fail "noticed only after $((SECONDS - stopped)) s"
  kill -CONT "$broker_pid"
  resumed=$SECONDS
  wait_for '^online$' 40 2
  ((SECONDS - resumed <= 32)) || fail "online again only after $((SECONDS - resumed)) s"
  ;;
qos)
  # Bursts of a thousand at QoS 1 and at QoS 2, each delivered once and in
  # order.
  start_first_broker
  start_probe --sub t 2 --sub ready 0 --seconds 120
  wait_for '^online$' 20
  wait_subscribed ready
  seq 1 1000 | mosquitto_pub -p "$port" -t t -q 1 -l || fail "mosquitto_pub failed"
  seq 1 1000 | mosquitto_pub -p "$port" -t t -q 2 -l || fail "mosquitto_pub failed"
  wait_for '^msg 2 0 t ' 60 1000
  for qos in 1 2; do
    grep "^msg $qos 0 t " "$work/probe.out" | cut -d' ' -f5 >"$work/burst$qos"
    seq 1 1000 | cmp -s - "$work/burst$qos" ||
      fail "the QoS $qos burst did not arrive once each, in order"
  done
  ;;
publish)
  # What the client publishes at QoS 1 and 2 arrives once, and its
  # in-flight store is empty afterwards (every packet answered).
  start_first_broker
  mosquitto_sub -p "$port" -q 2 -t 'out/#' -v -C 2 -W 60 >"$work/sub.out" 2>&1 &
  sub_pid=$!
  sleep 1
  start_probe --pub out/1 one 1 0 --pub out/2 two 2 0 --seconds 5
  wait_probe_end 40
  wait "$sub_pid" || fail "mosquitto_sub did not get both messages: $(cat "$work/sub.out")"
  [ "$(cat "$work/sub.out")" = $'out/1 one\nout/2 two' ] || fail "mosquitto_sub got: $(cat "$work/sub.out")"
  grep -q '^mon ACK Message 1 disposed of\.$' "$work/probe.out" || fail "no PUBACK handled"
  grep -q '^mon COMP Message 2 disposed of\.$' "$work/probe.out" || fail "no PUBCOMP handled"
  grep -q 'Re-issuing' "$work/probe.out" && fail "a packet was sent again"
  ;;
persistent)
  # A persistent session whose connection is cut while QoS 1 and 2 messages
  # are published for it gets all of them after it reconnects, each QoS 2
  # message once. The cut: the probe is stopped until the broker gives up
  # on it (1.5 x its keep-alive of 2 s), so the broker drops the connection
  # while the client, its stores and its session live on.
  start_first_broker
  start_probe --id cabinet-test --no-clean --keepalive 2 --sub p 2 --sub ready 0 --seconds 120
  wait_for '^online$' 20
  wait_subscribed ready
  kill -STOP "$probe_pid"
  seq 1 50 | mosquitto_pub -p "$port" -t p -q 1 -l || fail "mosquitto_pub failed"
  seq 51 100 | mosquitto_pub -p "$port" -t p -q 2 -l || fail "mosquitto_pub failed"
  end=$((SECONDS + 15))
  until grep -q 'cabinet-test.*timeout\|timeout.*cabinet-test' "$work/broker.log" || ((SECONDS > end)); do
    sleep 0.2
  done
  kill -CONT "$probe_pid"
  wait_for '^offline dropped$' 20
  wait_for '^online$' 30 2
  # Every message arrives; at QoS 1 a message may come twice (a PUBACK lost
  # in the cut), at QoS 2 never.
  end=$((SECONDS + 30))
  while ((SECONDS < end)); do
    grep -E '^msg [12] 0 p ' "$work/probe.out" | cut -d' ' -f5 | sort -n | uniq >"$work/got"
    seq 1 100 | cmp -s - "$work/got" && break
    sleep 0.2
  done
  seq 1 100 | cmp -s - "$work/got" || fail "messages queued for the session were lost"
  grep -E '^msg 2 0 p ' "$work/probe.out" | cut -d' ' -f5 | sort -n >"$work/qos2"
  seq 51 100 | cmp -s - "$work/qos2" || fail "a QoS 2 message was not delivered exactly once"
  ;;
*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac
echo "PASS ($case_name)"
