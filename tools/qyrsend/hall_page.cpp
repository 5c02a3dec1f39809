#include "hall_page.h"

namespace qyrsend {

namespace {

constexpr std::string_view kPage = R"PAGE(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>QyrDelay</title>
<style>
:root { --up:#1f9d55; --down:#d64545; --warn:#e0a100; --unknown:#8a8f98; --busy:#2f7fd8; }
* { box-sizing:border-box; }
body { margin:0; font:15px/1.35 "Microsoft YaHei","WenQuanYi Micro Hei","Noto Sans CJK SC",sans-serif; background:#14171c; color:#e8eaed; }
header { display:flex; flex-wrap:wrap; align-items:center; gap:8px; padding:8px 12px; background:#1d2128; position:sticky; top:0; z-index:2; }
header h1 { font-size:18px; margin:0 12px 0 0; }
#summary { font-size:17px; margin-right:auto; }
#banner { padding:6px 12px; background:#223; display:none; }
#banner.ok { background:#174d2e; display:block; } #banner.bad { background:#5a1f1f; display:block; }
button { font:inherit; padding:4px 10px; border:1px solid #555; border-radius:4px; background:#2a2f38; color:inherit; cursor:pointer; }
button:hover { background:#353b46; } button.danger { border-color:#a33; } button:disabled { opacity:.5; }
section.zone { margin:8px 12px; }
.zonehead { display:flex; align-items:center; gap:6px; margin:6px 0; }
.zonehead h2 { font-size:16px; margin:0 8px 0 0; }
.tiles { display:grid; grid-template-columns:repeat(auto-fill,minmax(190px,1fr)); gap:6px; }
.tile { border-left:8px solid var(--unknown); background:#222731; padding:6px 8px; border-radius:4px; cursor:pointer; min-height:92px; }
.tile .name { font-weight:bold; font-size:16px; white-space:nowrap; overflow:hidden; text-overflow:ellipsis; }
.tile .host, .tile .detail, .tile .result { font-size:12px; color:#aab; white-space:nowrap; overflow:hidden; text-overflow:ellipsis; }
.tile .state { font-size:14px; }
.tile.up { border-color:var(--up); } .tile.down { border-color:var(--down); }
.tile.waking, .tile.powering_off { border-color:var(--busy); }
.tile.counting_down, .tile.cancelled { border-color:var(--warn); }
.tile.unknown { border-color:var(--unknown); }
.tile.failedslot { box-shadow:inset 0 0 0 2px var(--warn); }
body.wall header h1, body.wall .zonehead button, body.wall .tile .host, body.wall .tile .detail, body.wall .tile .result { display:none; }
body.wall section.zone { margin:2px 6px; }
body.wall .zonehead { margin:2px 0; }
body.wall .tiles { grid-template-columns:repeat(auto-fill,minmax(88px,1fr)); gap:3px; }
body.wall .tile { min-height:0; height:78px; padding:4px; border-left-width:0; border-top:10px solid var(--unknown); }
body.wall .tile.up { border-color:var(--up); background:#173524; } body.wall .tile.down { border-color:var(--down); background:#3f1d1d; }
body.wall .tile.waking, body.wall .tile.powering_off { border-color:var(--busy); }
body.wall .tile.counting_down, body.wall .tile.cancelled { border-color:var(--warn); }
body.wall .tile .name { font-size:20px; } body.wall .tile .state { font-size:14px; }
.overlay { position:fixed; inset:0; background:rgba(0,0,0,.6); display:none; align-items:center; justify-content:center; z-index:5; }
.overlay.open { display:flex; }
.dialog { background:#1d2128; padding:16px; border-radius:6px; min-width:320px; max-width:520px; }
.dialog p { margin:0 0 12px; } .dialog .row { display:flex; gap:8px; justify-content:flex-end; margin-top:12px; }
input { font:inherit; padding:4px 6px; background:#111; color:inherit; border:1px solid #555; border-radius:4px; }
#hold { position:relative; overflow:hidden; } #hold .fill { position:absolute; left:0; top:0; bottom:0; width:0; background:rgba(214,69,69,.5); }
</style>
</head>
<body>
<header>
  <h1 data-t="title"></h1>
  <span id="summary"></span>
  <button id="checkAll" data-t="checkAll"></button>
  <button id="wakeAll" data-t="wakeAll"></button>
  <button id="startAll" data-t="startAll"></button>
  <button id="offAll" class="danger" data-t="offAll"></button>
  <button id="rebootAll" class="danger" data-t="rebootAll"></button>
  <button id="wall" data-t="wall"></button>
  <button id="lang">English</button>
</header>
<div id="banner"></div>
<main id="zones"></main>

<div class="overlay" id="login"><div class="dialog">
  <p data-t="loginText"></p>
  <input id="token" type="password" size="40" autocomplete="off">
  <p id="loginError" style="color:#f88;margin-top:8px"></p>
  <div class="row"><button id="loginGo" data-t="loginGo"></button></div>
</div></div>

<div class="overlay" id="confirm"><div class="dialog">
  <p id="confirmText"></p>
  <div id="typed" style="display:none"><p id="typedText"></p><input id="typedCount" size="6" inputmode="numeric"></div>
  <div class="row">
    <button id="confirmNo" data-t="no"></button>
    <button id="hold" class="danger" style="display:none"><span class="fill"></span><span data-t="hold"></span></button>
    <button id="confirmYes" class="danger" data-t="yes"></button>
  </div>
</div></div>

<div class="overlay" id="pcmenu"><div class="dialog">
  <p id="pcTitle"></p>
  <div class="row" style="justify-content:flex-start;flex-wrap:wrap">
    <button data-act="check" data-t="check"></button>
    <button data-act="wake" data-t="wake"></button>
    <button data-act="start" data-t="start"></button>
    <button data-act="off" class="danger" data-t="off"></button>
    <button data-act="reboot" class="danger" data-t="reboot"></button>
    <button id="pcClose" data-t="close"></button>
  </div>
</div></div>

<script>
"use strict";
const T = {
  zh: {
    title:"展厅", checkAll:"全部检查", wakeAll:"全部唤醒", startAll:"开馆", offAll:"全馆关机",
    rebootAll:"全馆重启", wall:"墙面模式", check:"检查", wake:"唤醒", start:"开机并确认", off:"关机",
    reboot:"重启", close:"关闭", yes:"确定", no:"取消", hold:"按住两秒", loginGo:"进入",
    loginText:"请输入这个展厅的令牌(在 qyrsend serve 启动时显示的令牌文件里):",
    loginWrong:"令牌不对。", loginMany:"错误次数太多,请一分钟后再试。",
    summary:(s)=>`${s.pcs} 台电脑:${s.up} 台在线,${s.programs_running} 个程序在运行,${s.down} 台离线` + (s.unknown?`,${s.unknown} 台未知`:""),
    noZone:"全馆", whole:"全馆", pcs:(n)=>`${n} 台电脑`,
    ask:(act,n,zone)=>`${({off:"关闭",reboot:"重启",wake:"唤醒",start:"开机并确认",check:"检查"})[act]} ${zone} 的 ${n} 台电脑?`,
    typed:(n)=>`请输入台数 ${n} 确认,或按住红色按钮两秒。`,
    state:{unknown:"未知",up:"运行中",down:"离线",waking:"唤醒中",powering_off:"正在关机",counting_down:"关机倒计时",cancelled:"已在电脑上取消"},
    reason:{no_answer:(t)=>`自 ${t} 起无应答`,refused:()=>"连接被拒绝:QyrDelay 未运行或端口未开",allow_list:()=>"被它的允许列表拒绝",
      older_program:()=>"回复 ERR:不支持状态查询的旧版 QyrDelay",not_status:()=>"回复的不是状态行",error:()=>"无法连接"},
    slot:{run:"运行",wait:"等待",restart:"待重启",failed:"失败",ended:"已退出",none:"无",opened:"已打开"},
    up:"已运行", power:{off:"关机",reboot:"重启",cancelled:"已取消",failed:"系统拒绝"},
    result:{sending:"发送中",sent:"已发送",OK:"OK",ERR:"ERR",timeout:"超时",refused:"被拒绝",closed:"被关闭",reply:"回复异常",error:"出错","no MAC":"没有 MAC",queued:"排队中"},
    step:{waking:"唤醒中",answering:"已应答","programs running":"程序启动中",ready:"就绪",failed:"失败"},
    fail:[[/never answered \(no MAC/, "始终无应答(没有 MAC,无法唤醒)"],[/never answered/,"始终无应答"],
      [/answers but program (\d) is still (\w+)/,(m)=>`已应答,但程序${m[1]} 仍是 ${m[2]}`],
      [/answers but program (\d) (\w+)/,(m)=>`已应答,但程序${m[1]} ${m[2]}`],
      [/answers ERR/,"回复 ERR:旧版 QyrDelay"],[/allow-list/,"被它的允许列表拒绝"],[/not a status line/,"回复的不是状态行"]],
    ready:(t)=>`展厅就绪 ${t}`, notReady:(l)=>`未就绪:${l}`, running:"开馆进行中…",
  },
  en: {
    title:"Hall", checkAll:"Check all", wakeAll:"Wake all", startAll:"Start the hall", offAll:"Power off the hall",
    rebootAll:"Restart the hall", wall:"Wall mode", check:"Check", wake:"Wake", start:"Start and verify", off:"Power off",
    reboot:"Restart", close:"Close", yes:"OK", no:"Cancel", hold:"Hold for two seconds", loginGo:"Enter",
    loginText:"Enter this hall's token (in the token file that qyrsend serve printed at its start):",
    loginWrong:"Wrong token.", loginMany:"Too many wrong tries; wait a minute.",
    summary:(s)=>`${s.pcs} PCs: ${s.up} up, ${s.programs_running} programs running, ${s.down} down` + (s.unknown?`, ${s.unknown} unknown`:""),
    noZone:"Hall", whole:"the whole hall", pcs:(n)=>`${n} PCs`,
    ask:(act,n,zone)=>`${({off:"Power off",reboot:"Restart",wake:"Wake",start:"Start and verify",check:"Check"})[act]} ${n} PCs of ${zone}?`,
    typed:(n)=>`Type the count, ${n}, to confirm, or hold the red button for two seconds.`,
    state:{unknown:"unknown",up:"up",down:"down",waking:"waking",powering_off:"powering off",counting_down:"counting down",cancelled:"cancelled at the PC"},
    reason:{no_answer:(t)=>`no answer since ${t}`,refused:()=>"connection refused: QyrDelay not running or port closed",allow_list:()=>"refused by its allow-list",
      older_program:()=>"answered ERR: an older QyrDelay without status",not_status:()=>"a reply that is not a status line",error:()=>"cannot reach it"},
    slot:null, up:"up", power:{off:"off",reboot:"restart",cancelled:"cancelled",failed:"refused by the system"},
    result:null, step:null, fail:[],
    ready:(t)=>`hall ready at ${t}`, notReady:(l)=>`not ready: ${l}`, running:"starting the hall…",
  },
};
let lang = localStorage.getItem("qyrLang") || "zh";
let hall = null, pending = null, pendingPc = null, startId = null;
const $ = (id) => document.getElementById(id);
const L = () => T[lang];
const clock = (iso) => iso ? iso.substring(11, 19) : "";
function upText(s) { const d = Math.floor(s / 86400), h = Math.floor(s / 3600) % 24, m = Math.floor(s / 60) % 60;
  return (d ? d + "d " : "") + h + ":" + String(m).padStart(2, "0") + ":" + String(s % 60).padStart(2, "0"); }
function zoneLabel(name) { return name === "" ? L().noZone : name; }
function resultText(r) {
  if (!r) return "";
  const t = L();
  if (r.startsWith("failed: ")) {
    for (const [re, out] of t.fail) { const m = r.match(re); if (m) return (t.step ? t.step.failed : "failed") + ": " + (typeof out === "function" ? out(m) : out); }
    return r;
  }
  if (t.step && t.step[r]) return t.step[r];
  if (t.result && t.result[r]) return t.result[r];
  return r;
}
function applyLang() {
  document.documentElement.lang = lang === "zh" ? "zh-CN" : "en";
  document.querySelectorAll("[data-t]").forEach((e) => { e.textContent = L()[e.dataset.t]; });
  $("lang").textContent = lang === "zh" ? "English" : "中文";
  render();
}
async function api(path, body) {
  const init = body === undefined ? {} : { method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body) };
  const res = await fetch(path, init);
  if (res.status === 401) { $("login").classList.add("open"); throw new Error("401"); }
  return res;
}
function tileFor(pc) {
  const t = L();
  const el = document.createElement("div");
  el.className = "tile " + pc.state;
  el.dataset.host = pc.host;
  el.dataset.state = pc.state;
  const add = (cls, text) => { const d = document.createElement("div"); d.className = cls; d.textContent = text; el.appendChild(d); return d; };
  add("name", pc.name || pc.host);
  add("host", pc.host);
  let state = t.state[pc.state] || pc.state;
  add("state", state);
  let detail = "";
  if (pc.reason && (pc.state === "down" || pc.state === "waking")) {
    detail = t.reason[pc.reason](clock(pc.since));
  } else if (pc.slots) {
    detail = t.up + " " + upText(pc.up_s) + "  " + pc.slots.map((s, i) => (i + 1) + "=" + (t.slot ? t.slot[s] : s)).join(" ");
    if (pc.slots.includes("failed")) el.classList.add("failedslot");
  }
  if (pc.power) detail += "  ⏻ " + t.power[pc.power.what] + " " + pc.power.at;
  const d = add("detail", detail);
  d.dataset.reason = pc.reason || "";
  if (pc.result) add("result", t.actionName(pc.result.action) + ": " + resultText(pc.result.result)).dataset.result = pc.result.result;
  el.title = pc.host + "\n" + state + "\n" + detail;
  el.addEventListener("click", () => openPc(pc));
  return el;
}
T.zh.actionName = (a) => ({check:"检查",wake:"唤醒",off:"关机",reboot:"重启",start:"开馆"})[a] || a;
T.en.actionName = (a) => ({check:"check",wake:"wake",off:"power off",reboot:"restart",start:"start"})[a] || a;
function render() {
  if (!hall) return;
  const t = L();
  $("summary").textContent = t.summary(hall.summary);
  const main = $("zones");
  main.textContent = "";
  for (const zone of hall.zones) {
    const sec = document.createElement("section");
    sec.className = "zone";
    sec.dataset.zone = zone.name;
    const head = document.createElement("div");
    head.className = "zonehead";
    const h = document.createElement("h2");
    h.textContent = zoneLabel(zone.name) + " · " + t.pcs(zone.pcs.length);
    head.appendChild(h);
    for (const act of ["check", "wake", "start", "off", "reboot"]) {
      const b = document.createElement("button");
      b.textContent = t[act];
      b.dataset.act = act;
      if (act === "off" || act === "reboot") b.className = "danger";
      b.addEventListener("click", () => ask(act, { zone: zone.name }, zone.pcs.length, zoneLabel(zone.name), false));
      head.appendChild(b);
    }
    sec.appendChild(head);
    const tiles = document.createElement("div");
    tiles.className = "tiles";
    for (const pc of zone.pcs) tiles.appendChild(tileFor(pc));
    sec.appendChild(tiles);
    main.appendChild(sec);
  }
  const start = startId !== null ? (hall.actions || []).find((a) => a.id === startId) : null;
  const banner = $("banner");
  if (start) {
    banner.dataset.summary = start.summary;
    if (!start.done) { banner.className = "ok"; banner.textContent = t.running; }
    else if (start.summary.startsWith("hall ready at ")) { banner.className = "ok"; banner.textContent = t.ready(start.summary.substring(14)); }
    else { banner.className = "bad"; banner.textContent = t.notReady(start.summary.replace(/^not ready: /, "")); }
  }
}
async function refresh() {
  try {
    const res = await api("/api/hall");
    if (res.ok) { hall = await res.json(); $("login").classList.remove("open"); render(); }
  } catch (e) { /* shown by the login box or the next try */ }
}
function countAll() { return hall ? hall.zones.reduce((n, z) => n + z.pcs.length, 0) : 0; }
function ask(act, target, count, where, whole) {
  if (act === "check") return send(act, target);
  pending = { act, target };
  $("confirmText").textContent = L().ask(act, count, where);
  const strict = whole && (act === "off" || act === "reboot");
  $("typed").style.display = strict ? "block" : "none";
  $("hold").style.display = strict ? "inline-block" : "none";
  $("typedText").textContent = L().typed(count);
  $("typedCount").value = "";
  pending.count = strict ? count : null;
  $("confirm").classList.add("open");
  if (strict) $("typedCount").focus();
}
async function send(act, target) {
  const res = await api("/api/action", Object.assign({ action: act }, target));
  if (res.status === 202) {
    const { id } = await res.json();
    if (act === "start") startId = id;
  } else {
    const err = await res.json().catch(() => ({ error: res.statusText }));
    alert(err.error || res.statusText);
  }
  refresh();
}
function confirmed() {
  if (!pending) return;
  if (pending.count !== null && $("typedCount").value.trim() !== String(pending.count)) { $("typedCount").focus(); return; }
  const p = pending; pending = null;
  $("confirm").classList.remove("open");
  send(p.act, p.target);
}
function openPc(pc) {
  pendingPc = pc;
  $("pcTitle").textContent = (pc.name ? pc.name + " · " : "") + pc.host + " · " + zoneLabel(pc.zone);
  $("pcmenu").classList.add("open");
}
document.querySelectorAll("#pcmenu [data-act]").forEach((b) => b.addEventListener("click", () => {
  $("pcmenu").classList.remove("open");
  ask(b.dataset.act, { hosts: [pendingPc.host] }, 1, pendingPc.name || pendingPc.host, false);
}));
$("pcClose").addEventListener("click", () => $("pcmenu").classList.remove("open"));
$("confirmYes").addEventListener("click", confirmed);
$("typedCount").addEventListener("keydown", (e) => { if (e.key === "Enter") confirmed(); });
$("confirmNo").addEventListener("click", () => { pending = null; $("confirm").classList.remove("open"); });
let holdTimer = null;
function holdStart() {
  const fill = $("hold").querySelector(".fill");
  fill.style.transition = "width 2s linear"; fill.style.width = "100%";
  holdTimer = setTimeout(() => { holdTimer = null; if (pending) pending.count = null; confirmed(); holdStop(); }, 2000);
}
function holdStop() {
  if (holdTimer) { clearTimeout(holdTimer); holdTimer = null; }
  const fill = $("hold").querySelector(".fill"); fill.style.transition = "none"; fill.style.width = "0";
}
$("hold").addEventListener("pointerdown", holdStart);
["pointerup", "pointerleave"].forEach((e) => $("hold").addEventListener(e, holdStop));
$("checkAll").addEventListener("click", () => ask("check", {}, countAll(), L().whole, true));
$("wakeAll").addEventListener("click", () => ask("wake", {}, countAll(), L().whole, true));
$("startAll").addEventListener("click", () => ask("start", {}, countAll(), L().whole, true));
$("offAll").addEventListener("click", () => ask("off", {}, countAll(), L().whole, true));
$("rebootAll").addEventListener("click", () => ask("reboot", {}, countAll(), L().whole, true));
$("wall").addEventListener("click", () => { document.body.classList.toggle("wall"); localStorage.setItem("qyrWall", document.body.classList.contains("wall") ? "1" : ""); });
$("lang").addEventListener("click", () => { lang = lang === "zh" ? "en" : "zh"; localStorage.setItem("qyrLang", lang); applyLang(); });
async function login() {
  const res = await fetch("/api/login", { method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ token: $("token").value.trim() }) });
  if (res.ok) { $("login").classList.remove("open"); $("loginError").textContent = ""; $("token").value = ""; refresh(); return; }
  $("loginError").textContent = res.status === 429 ? L().loginMany : L().loginWrong;
}
$("loginGo").addEventListener("click", login);
$("token").addEventListener("keydown", (e) => { if (e.key === "Enter") login(); });
if (localStorage.getItem("qyrWall") || location.hash === "#wall") document.body.classList.add("wall");
applyLang();
refresh();
setInterval(refresh, 1500);
</script>
</body>
</html>
)PAGE";

}  // namespace

std::string_view HallPage() { return kPage; }

}  // namespace qyrsend
