#include "WebPage.h"

namespace vt {

QByteArray webPage()
{
    return QByteArrayLiteral(R"html(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vantrel</title>
<style>
body{font-family:sans-serif;margin:1em;background:#f4f4f4;color:#222}
h1{font-size:1.3em;margin:0 0 .5em} h2{font-size:1.1em;margin:1em 0 .3em}
table{border-collapse:collapse;width:100%;background:#fff} td,th{padding:.3em .5em;border-bottom:1px solid #ddd;text-align:left}
.bar{background:#ddd;height:.8em;width:10em;display:inline-block}.bar>span{display:block;height:100%;background:#3a7}
#login{display:none}.bad{color:#b00}button{margin-right:.4em}
</style></head><body>
<h1>Vantrel</h1>
<div id="login"><p>The API key (Options, Remote control):</p><input id="key" size="40"><button id="go">Open</button><p id="why" class="bad"></p></div>
<div id="main" style="display:none">
<p><span id="state"></span> <span id="speed"></span> <span id="left"></span>
<button id="pause">Pause</button><button id="resume">Resume</button></p>
<form id="upload"><input type="file" id="nzb" accept=".nzb,.gz"> <button type="submit">Add NZB</button> <span id="added"></span></form>
<h2>Queue</h2><table><thead><tr><th>Name</th><th>Category</th><th>Status</th><th>Progress</th><th>Size</th><th>Left</th></tr></thead><tbody id="queue"></tbody></table>
<h2>History</h2><table><thead><tr><th>Name</th><th>Category</th><th>Status</th><th>Folder</th><th>Size</th></tr></thead><tbody id="history"></tbody></table>
</div>
<script>
'use strict';
const $ = id => document.getElementById(id);
let key = localStorage.getItem('vantrelKey') || '';
function api(mode, extra, body) {
  const q = new URLSearchParams(Object.assign({mode: mode, output: 'json', apikey: key}, extra || {}));
  return fetch('api?' + q.toString(), body ? {method: 'POST', body: body} : {}).then(r => r.json());
}
function cell(row, text) { const td = document.createElement('td'); td.textContent = text; row.appendChild(td); return td; }
function showLogin(why) { $('main').style.display = 'none'; $('login').style.display = 'block'; $('why').textContent = why || ''; }
function refresh() {
  api('queue').then(d => {
    if (!d.queue) { showLogin(d.error); return; }
    $('login').style.display = 'none'; $('main').style.display = 'block';
    const q = d.queue;
    $('state').textContent = q.status; $('speed').textContent = q.speed; $('left').textContent = q.sizeleft + ' left';
    const body = $('queue'); body.replaceChildren();
    for (const s of q.slots) {
      const tr = document.createElement('tr'); tr.className = 'slot';
      cell(tr, s.filename); cell(tr, s.cat); cell(tr, s.status);
      const bar = document.createElement('span'); bar.className = 'bar';
      const fill = document.createElement('span'); fill.style.width = s.percentage + '%'; bar.appendChild(fill);
      const progress = cell(tr, ''); progress.appendChild(bar); progress.append(' ' + s.percentage + ' %');
      cell(tr, s.size); cell(tr, s.timeleft);
      body.appendChild(tr);
    }
  }).catch(e => showLogin(String(e)));
  api('history', {limit: 50}).then(d => {
    if (!d.history) return;
    const body = $('history'); body.replaceChildren();
    for (const s of d.history.slots) {
      const tr = document.createElement('tr'); tr.className = 'done';
      cell(tr, s.name); cell(tr, s.category); cell(tr, s.status + (s.fail_message ? ': ' + s.fail_message : ''));
      cell(tr, s.storage); cell(tr, s.size);
      body.appendChild(tr);
    }
  });
}
$('go').onclick = () => { key = $('key').value.trim(); localStorage.setItem('vantrelKey', key); refresh(); };
$('pause').onclick = () => api('pause').then(refresh);
$('resume').onclick = () => api('resume').then(refresh);
$('upload').onsubmit = ev => {
  ev.preventDefault();
  const f = $('nzb').files[0]; if (!f) return;
  const form = new FormData(); form.append('name', f, f.name);
  api('addfile', {}, form).then(d => { $('added').textContent = d.status ? 'Added ' + f.name : (d.error || 'refused'); refresh(); });
};
if (new URLSearchParams(location.search).get('apikey')) { key = new URLSearchParams(location.search).get('apikey'); localStorage.setItem('vantrelKey', key); }
// Signed in with the user name and password, the key is not needed.
refresh();
setInterval(() => { if ($('main').style.display !== 'none') refresh(); }, 2000);
</script></body></html>
)html");
}

} // namespace vt
