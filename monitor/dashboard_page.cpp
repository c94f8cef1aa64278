#include "dashboard_page.h"

namespace monitor {

namespace {

constexpr const char* kHead = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>moto_bridge monitor</title>
<style>
:root { --bg:#f4f5f7; --card:#fff; --ink:#1d2330; --dim:#667085; --ok:#1a7f37; --bad:#b42318; --warn:#b54708; --line:#e4e7ec; }
@media (prefers-color-scheme: dark) { :root { --bg:#11151c; --card:#1b212b; --ink:#e6e9ef; --dim:#98a2b3; --ok:#4ac26b; --bad:#f97066; --warn:#fdb022; --line:#2c3440; } }
* { box-sizing:border-box; }
body { margin:0; font:15px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif; background:var(--bg); color:var(--ink); }
header { padding:12px 16px; display:flex; flex-wrap:wrap; gap:8px 16px; align-items:baseline; }
header h1 { font-size:20px; margin:0; }
header .meta { color:var(--dim); font-size:13px; }
main { padding:0 12px 24px; display:grid; gap:12px; grid-template-columns:repeat(auto-fit,minmax(300px,1fr)); }
section { background:var(--card); border:1px solid var(--line); border-radius:10px; padding:12px 14px; min-width:0; }
section.wide { grid-column:1/-1; }
h2 { font-size:13px; text-transform:uppercase; letter-spacing:.06em; color:var(--dim); margin:0 0 8px; }
.state { font-size:18px; font-weight:600; }
.up { color:var(--ok); } .down { color:var(--bad); } .warn { color:var(--warn); }
.small { color:var(--dim); font-size:13px; }
.scroll { overflow-x:auto; }
table { border-collapse:collapse; width:100%; font-variant-numeric:tabular-nums; }
th, td { text-align:left; padding:5px 8px; border-bottom:1px solid var(--line); white-space:nowrap; }
th { color:var(--dim); font-weight:500; font-size:12px; }
tr.running td { background:rgba(26,127,55,.08); }
#counters { display:grid; grid-template-columns:repeat(auto-fill,minmax(230px,1fr)); gap:2px 24px; font-size:14px; }
#counters div { display:flex; justify-content:space-between; gap:8px; border-bottom:1px dotted var(--line); }
#counters span { color:var(--dim); } #counters b { font-weight:500; font-variant-numeric:tabular-nums; white-space:nowrap; }
.call { margin:4px 0 10px; }
.slot + .slot { border-top:1px solid var(--line); padding-top:6px; }
.slot h3 { font-size:13px; font-weight:600; margin:2px 0; }
.call b { font-size:16px; }
#conn { font-size:12px; }
</style>
</head>
<body>
<header>
<h1>moto_bridge <span id="call-sign"></span></h1>
<span class="meta" id="daemon-info"></span>
<span class="meta" id="conn">connecting&hellip;</span>
</header>
<main>
<section><h2>Repeater</h2><div id="repeater-state" class="state"></div><div id="repeater-detail" class="small"></div></section>
<section><h2>Network master</h2><div id="master-state" class="state"></div><div id="master-detail" class="small"></div></section>
<section><h2>Calls in progress</h2><div id="calls-in-progress"></div></section>
<section class="wide"><h2>Last heard</h2><div class="scroll"><table>
<thead><tr><th>Time</th><th>Direction</th><th>Slot</th><th>Source</th><th>Destination</th><th>Duration</th><th>Ended</th><th>BER max</th><th>Bursts with errors</th><th>Uncorrectable</th><th>Jitter buffer</th></tr></thead>
<tbody id="last-heard"></tbody></table></div></section>
<section class="wide"><h2>Position reports</h2><div class="scroll"><table>
<thead><tr><th>Time</th><th>Slot</th><th>Source</th><th>Latitude</th><th>Longitude</th><th>Speed</th><th>Decimal degrees</th><th>Mode</th></tr></thead>
<tbody id="positions"></tbody></table></div></section>
<section class="wide"><h2>Counters since start</h2><div id="counters"></div></section>
</main>
<script id="initial-state" type="application/json">)HTML";

constexpr const char* kTail = R"HTML(</script>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
const esc = (v) => String(v).replace(/[&<>"']/g, (c) => "&#" + c.charCodeAt(0) + ";");
const two = (n) => (n < 10 ? "0" : "") + n;
function when(t) {
  if (t === null || t === undefined) return "&ndash;";
  const d = new Date(t * 1000);
  return esc(d.getFullYear() + "-" + two(d.getMonth() + 1) + "-" + two(d.getDate()) + " " +
             two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds()));
}
function span(s) { s = Math.max(0, Math.round(s)); return s < 60 ? s + " s" : Math.floor(s / 60) + " min " + two(s % 60) + " s"; }
function who(id, call) { return esc(id) + (call ? " <b>" + esc(call) + "</b>" : ""); }
const DIRS = { rf_to_net: "RF &rarr; net", net_to_rf: "net &rarr; RF" };
const SLOTS = ["1", "2"];
// The calls running on timeslot s, in the order of DIRS.
function runningOn(st, s) {
  const on = st.calls_in_progress.by_slot[s];
  return Object.keys(DIRS).map((dir) => on[dir]).filter((c) => c);
}
// The calls on air, on every timeslot.
function onAir(st) { return SLOTS.flatMap((s) => runningOn(st, s)); }
// "a / b": a figure of the calls on timeslot 1 and on timeslot 2.
function perSlot(c, key) { return c.by_slot["1"][key] + " / " + c.by_slot["2"][key]; }
function bothSlots(c, key) { return c.by_slot["1"][key] + c.by_slot["2"][key]; }
let state = JSON.parse($("initial-state").textContent);
let receivedAt = Date.now() / 1000;

function elapsed(c) {
  let d = c.duration;
  if (c.end === null && state.status.live) d += Date.now() / 1000 - receivedAt;
  return span(d);
}
function jitter(c) {
  const j = c.jitter_buffer;
  if (!j) return "&ndash;";
  let s = esc(j.lead_ms) + " ms " + esc(j.mode);
  if (j.bursts !== undefined) s += ", late " + esc(j.late) + ", lost " + esc(j.lost) + ", filled " + esc(j.filled);
  return s;
}
// Plain text: the counters escape what they show.
function busiest(s) {
  return s && s.busiest ? s.busiest + " (" + s.busiest_datagrams + ") on port " + s.port : "none";
}
function render() {
  const st = state.status, d = st.daemon, r = st.repeater, m = st.master;
  $("call-sign").textContent = d.call_sign || "";
  const info = [];
  if (d.repeater_id) info.push("repeater " + d.repeater_id);
  if (d.bridge_id) info.push("bridge peer " + d.bridge_id);
  if (d.tx_hz) info.push("TX " + (d.tx_hz / 1e6).toFixed(4) + " MHz");
  if (d.rx_hz) info.push("RX " + (d.rx_hz / 1e6).toFixed(4) + " MHz");
  if (d.version) info.push("version " + d.version);
  info.push("jitter buffer " + d.jitter_buffer);
  info.push((d.timeslots.length > 1 ? "timeslots " : "timeslot ") + d.timeslots.join(", "));
  $("daemon-info").textContent = info.join(" \u00b7 ");
  $("repeater-state").innerHTML = r.registered ? '<span class="up">Registered</span>' : '<span class="down">Not registered</span>';
  let rd = "since " + when(r.since);
  if (r.peer_id) rd += " &middot; repeater peer " + esc(r.peer_id);
  for (const p of r.peers) rd += "<br>peer " + esc(p.id) + " at " + esc(p.address) + ":" + esc(p.port);
  rd += "<br>registrations " + esc(st.counters.registrations) + ", again after a loss " + esc(st.counters.re_registrations);
  $("repeater-detail").innerHTML = rd;
  $("master-state").innerHTML = m.logged_in ? '<span class="up">Logged in</span>' : '<span class="down">Not logged in</span>';
  let md = "since " + when(m.since) + (m.address ? " &middot; " + esc(m.address) : "");
  md += "<br>logins " + esc(m.logins) + ", last " + when(m.last_login);
  md += "<br>RDAC announcements " + esc(m.rdac.announcements) + (m.rdac.last ? ", last " + when(m.rdac.last) : "");
  $("master-detail").innerHTML = md;
  // Each bridged timeslot, and any other a call is on.
  const slots = SLOTS.filter((s) => d.timeslots.includes(Number(s)) || runningOn(st, s).length > 0);
  $("calls-in-progress").innerHTML = slots.map((s) => {
    const running = runningOn(st, s);
    return '<div class="slot" id="on-air-' + s + '"><h3>Timeslot ' + s + "</h3>" +
      (running.length === 0 ? '<span class="small">none</span>' : running.map((c) =>
      '<div class="call" data-call="' + esc(c.id) + '"><b>' + DIRS[c.direction] + "</b> " + who(c.source, c.callsign) +
      " &rarr; " + who(c.destination, c.destination_callsign) + '<br><span class="small">since ' + when(c.start) +
      ', <span class="elapsed">' + elapsed(c) + "</span>" +
      (c.direction === "net_to_rf" ? ", BER max " + esc(c.ber_max.toFixed(1)) + " %, bursts with errors " + esc(c.bursts_with_errors) : "") +
      "</span></div>").join("")) + "</div>";
  }).join("");
  $("last-heard").innerHTML = state.calls.map((c) =>
    '<tr class="' + (c.end === null ? "running" : "") + '"><td>' + when(c.start) + "</td><td>" + DIRS[c.direction] +
    "</td><td>TS" + esc(c.slot) + "</td><td>" + who(c.source, c.callsign) + "</td><td>" + who(c.destination, c.destination_callsign) +
    "</td><td>" + (c.end === null ? elapsed(c) : span(c.duration)) + "</td><td>" +
    (c.ended_by === null ? '<span class="up">on air</span>' : c.ended_by === "timeout" ? '<span class="warn">time-out</span>' : "end") +
    "</td><td>" + esc(c.ber_max.toFixed(1)) + " %</td><td>" + esc(c.bursts_with_errors) + "</td><td>" +
    esc(c.uncorrectable_frames) + "</td><td>" + jitter(c) + "</td></tr>").join("") ||
    '<tr><td colspan="11" class="small">no calls yet</td></tr>';
  $("positions").innerHTML = state.positions.map((p) =>
    "<tr><td>" + when(p.time) + "</td><td>TS" + esc(p.slot) + "</td><td>" + who(p.source, p.callsign) + "</td><td>" + esc(p.lat_text) + "</td><td>" +
    esc(p.lon_text) + "</td><td>" + esc(p.speed_text) + "</td><td>" +
    (p.latitude !== null && p.longitude !== null ? esc(p.latitude.toFixed(5)) + ", " + esc(p.longitude.toFixed(5)) : "&ndash;") +
    "</td><td>" + esc(p.mode) + "</td></tr>").join("") || '<tr><td colspan="8" class="small">no position reports yet</td></tr>';
  const c = st.counters, rows = [
    ["Calls RF &rarr; net, TS1 / TS2", perSlot(c, "calls_rf_to_net")],
    ["Calls net &rarr; RF, TS1 / TS2", perSlot(c, "calls_net_to_rf")], ["Positions, TS1 / TS2", perSlot(c, "positions")],
    ["Logins", c.logins], ["Bursts with errors", bothSlots(c, "bursts_with_errors")],
    ["Uncorrectable frames", bothSlots(c, "uncorrectable_frames")], ["Sequence gaps", bothSlots(c, "sequence_gaps")],
    ["Out of order", bothSlots(c, "out_of_order")], ["Time-outs, TS1 / TS2", perSlot(c, "call_timeouts")],
    ["Dropped: bad signature", c.dropped.bad_signature], ["Dropped: not the master", c.dropped.not_network_master],
    ["Dropped: too long / reflected / unasked reply",
     c.dropped.too_long + " / " + c.dropped.reflected + " / " + c.dropped.unasked_keep_alive_reply],
    ["Dropped (minute summaries)", c.dropped.in_summaries],
    ["Busiest dropped sender", busiest(c.dropped.last_summary)], ["Re-registrations", c.re_registrations],
    ["Jitter late / lost / filled",
     bothSlots(c, "jitter_late") + " / " + bothSlots(c, "jitter_lost") + " / " + bothSlots(c, "jitter_filled")],
    ["Daemon starts", c.daemon_starts], ["Log lines", c.log_lines]];
  $("counters").innerHTML = rows.map((r) => "<div><span>" + r[0] + "</span><b>" + esc(r[1]) + "</b></div>").join("");
}
let pending = false;
async function refresh() {
  pending = false;
  try {
    const [s, c, p] = await Promise.all(["/api/status", "/api/calls", "/api/positions"].map((u) =>
      fetch(u, { cache: "no-store" }).then((r) => r.json())));
    state = { status: s, calls: c, positions: p };
    receivedAt = Date.now() / 1000;
    render();
  } catch (e) { $("conn").textContent = "update failed, retrying"; }
}
function changed() { if (!pending) { pending = true; setTimeout(refresh, 300); } }
render();
// A headless or automated browser waits for the network to fall quiet
// before it reports the page; an open event stream never does. There the
// page asks for the state every two seconds instead.
const snapshotter = navigator.webdriver || /HeadlessChrome/.test(navigator.userAgent);
if (snapshotter) {
  $("conn").textContent = "updated every 2 s";
  setInterval(refresh, 2000);
} else if (window.EventSource) {
  const events = new EventSource("/api/events");
  events.onopen = () => { $("conn").textContent = "live"; };
  events.onmessage = (m) => { if (JSON.parse(m.data).what !== "hello") changed(); };
  events.onerror = () => { $("conn").textContent = "reconnecting\u2026"; changed(); };
}
setInterval(() => {
  if (!state.status.live) return;
  if (onAir(state.status).length) render();
}, 1000);
</script>
</body>
</html>
)HTML";

}  // namespace

std::string dashboard_page(const std::string& initial_json) {
  std::string page = kHead;
  page.reserve(page.size() + initial_json.size() + 16384);
  // Inside <script>, "<" would let a text end the element; JSON allows \u003c.
  for (char c : initial_json) {
    if (c == '<')
      page += "\\u003c";
    else
      page += c;
  }
  page += kTail;
  return page;
}

}  // namespace monitor
