#include "report/PageAssets.h"

namespace report {

std::string_view PageStyle() {
  return R"css(
:root{--ink:#1d2430;--muted:#5b6573;--line:#d9dee5;--bg:#f4f6f8;--card:#fff;--accent:#2f5d9e;
--l1:#d48a00;--l2:#c62828;--l2bg:#fdecea}
*{box-sizing:border-box}
body{margin:0;font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;
color:var(--ink);background:var(--bg)}
header.page{padding:14px 24px;background:#1d2430;color:#fff}
header.page h1{margin:0;font-size:20px;font-weight:600}
header.page p{margin:2px 0 0;color:#c5ccd6;font-size:13px;overflow-wrap:anywhere}
main{max-width:1320px;margin:0 auto;padding:16px 24px 40px}
.figures{display:flex;flex-wrap:wrap;gap:10px;margin:0 0 18px}
.figure{flex:1 0 auto;min-width:110px;white-space:nowrap;background:var(--card);
border:1px solid var(--line);border-radius:8px;padding:8px 12px;margin:0}
.figure dt{font-size:11px;color:var(--muted);text-transform:uppercase;letter-spacing:.05em}
.figure dd{margin:2px 0 0;font-size:24px;font-weight:600;font-variant-numeric:tabular-nums}
.figure.text dd{font-size:14px;font-weight:500;line-height:34px;font-variant-numeric:normal}
.figure.l1 dd{color:var(--l1)}.figure.l2 dd{color:var(--l2)}
section{background:var(--card);border:1px solid var(--line);border-radius:8px;padding:14px 16px;margin:0 0 18px}
h2{font-size:17px;margin:0 0 10px}
h2 .count{color:var(--muted);font-weight:400}
.note{color:var(--muted);margin:6px 0}
.problem{color:var(--l2)}
.table-wrap{overflow-x:auto}
table{border-collapse:collapse;width:100%;font-size:13px}
th,td{text-align:left;padding:5px 8px;border-bottom:1px solid var(--line);vertical-align:top}
thead th{background:#eef1f5;font-weight:600;white-space:nowrap}
.num{text-align:right;font-variant-numeric:tabular-nums}
.time{white-space:nowrap;font-variant-numeric:tabular-nums}
.wrap{overflow-wrap:anywhere;min-width:12em}
th button{font:inherit;background:none;border:0;padding:0;cursor:pointer;color:inherit}
th button:focus-visible,button.open:focus-visible,input:focus-visible{outline:2px solid var(--accent);outline-offset:2px}
th[aria-sort=ascending] button::after{content:" \25B2";font-size:10px}
th[aria-sort=descending] button::after{content:" \25BC";font-size:10px}
.badge{display:inline-block;min-width:1.8em;text-align:center;border-radius:10px;padding:0 6px;
font-weight:600;background:#e7ebf0}
.badge.l1{background:#fff0d1;color:#7a4d00}.badge.l2{background:var(--l2);color:#fff}
tbody.lvl2>tr.visitor>td{background:var(--l2bg)}
tbody.lvl2>tr.visitor>td:first-child{box-shadow:inset 4px 0 0 var(--l2)}
button.open{font:inherit;background:none;border:0;padding:0;cursor:pointer;color:var(--accent);
text-align:left;overflow-wrap:anywhere}
button.open::before{content:"\25B8\00a0";color:var(--muted)}
button.open[aria-expanded=true]::before{content:"\25BE\00a0"}
tr.runs>td{background:#fafbfc;padding:10px 12px 14px}
.details{display:grid;grid-template-columns:max-content 1fr;gap:2px 12px;margin:0 0 10px}
.details dt{color:var(--muted)}.details dd{margin:0;overflow-wrap:anywhere}
table.run-table{font-size:12px}

.shielded{color:var(--l2);font-weight:600}
#noted-table tr.lvl2>td{background:var(--l2bg)}
#noted-table tr.lvl2>td:first-child{box-shadow:inset 4px 0 0 var(--l2)}
#noted-table td.agent{max-width:22em;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
#noted-table td.shields{white-space:nowrap}
svg.gaps{display:block}
svg.gaps polyline{fill:none;stroke:var(--accent);stroke-width:1.5;stroke-linejoin:round}
tbody.lvl2 svg.gaps polyline{stroke:var(--l2)}
.chart-wrap{overflow-x:auto}
svg.alert-chart{display:block;width:100%;height:auto;max-height:280px}
.alert-chart .grid{stroke:var(--line)}
.alert-chart .tick{font-size:11px;fill:var(--muted)}
rect.l1{fill:var(--l1)}rect.l2{fill:var(--l2)}rect.lx{fill:#8a94a3}
.legend{display:flex;gap:16px;font-size:12px;color:var(--muted);margin:4px 0 0}
.legend span::before{content:"";display:inline-block;width:10px;height:10px;margin-right:5px;vertical-align:-1px}
.legend .l1::before{background:var(--l1)}.legend .l2::before{background:var(--l2)}
.legend .lx::before{background:#8a94a3}
.tools{display:flex;gap:12px;align-items:center;flex-wrap:wrap;margin:0 0 10px}
.tools input{flex:1 1 240px;max-width:440px;padding:7px 10px;font:inherit;border:1px solid #b8c0cc;border-radius:6px}
.tools output{color:var(--muted)}
.muted{color:var(--muted)}
td.pace{min-width:128px}
td.lifted{min-width:10em}
ul.spared{margin:4px 0 6px;padding-left:20px;font-size:13px;overflow-wrap:anywhere}
td.pace .muted{font-size:12px}
@media (max-width:640px){
header.page,main{padding-left:10px;padding-right:10px}
section{padding:10px;border-radius:6px}
.figure{flex:1 0 calc(50% - 5px);min-width:auto}
.figure dd{font-size:20px}
.figure.text dd{font-size:12px;line-height:29px}
th,td{padding:4px 6px}
svg.alert-chart{min-width:520px}
.alert-chart .tick{font-size:15px}
}
@media print{
body{background:#fff;font-size:9pt}
header.page{background:none;color:#000;padding:0 0 6px}
header.page p{color:#333}
main{max-width:none;padding:0}
section{border:0;padding:0;margin:0 0 12px}
.tools{display:none}
th button::after,button.open::before{content:none!important}
button.open{color:inherit}
.table-wrap{overflow:visible}

thead{display:table-header-group}
tr{break-inside:avoid}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
}
)css";
}

std::string_view PageScript() {
  return R"js(
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('report-data').textContent);
  var table = document.getElementById('visitor-table');
  if (!table) return;
  var bodies = Array.prototype.slice.call(table.tBodies);
  var texts = bodies.map(function (body) { return body.textContent.toLowerCase(); });
  var search = document.getElementById('visitor-search');
  var status = document.getElementById('visitor-status');
  var collator = new Intl.Collator(undefined, {numeric: true, sensitivity: 'base'});
  var headers = Array.prototype.slice.call(table.tHead.rows[0].cells);
  bodies.forEach(function (body, i) { body.setAttribute('data-position', i); });

  function showCount() {
    var shown = bodies.filter(function (body) { return !body.hidden; }).length;
    status.textContent = shown === data.visitors ? 'all ' + shown + ' visitors'
        : shown + ' of ' + data.visitors + ' visitors';
  }

  function filter() {
    var words = search.value.toLowerCase().split(/\s+/).filter(Boolean);
    bodies.forEach(function (body) {
      var text = texts[body.getAttribute('data-position')];
      body.hidden = !words.every(function (word) { return text.indexOf(word) >= 0; });
    });
    showCount();
  }

  function sortKey(body, column) {
    var cell = body.rows[0].cells[column];
    var key = cell.getAttribute('data-sort');
    return key !== null ? key : cell.textContent.trim();
  }

  function compare(column, numeric, sign) {
    return function (a, b) {
      var x = sortKey(a, column), y = sortKey(b, column), order;
      if (numeric) {
        x = parseFloat(x); y = parseFloat(y);
        if (isNaN(x) || isNaN(y)) order = isNaN(x) - isNaN(y);
        else order = sign * (x - y);
      } else {
        order = sign * collator.compare(x, y);
      }
      return order || a.getAttribute('data-position') - b.getAttribute('data-position');
    };
  }

  function sortBy(th, column) {
    var current = th.getAttribute('aria-sort');
    var direction = current ? (current === 'ascending' ? 'descending' : 'ascending')
        : th.getAttribute('data-first') || 'ascending';
    headers.forEach(function (header) { header.removeAttribute('aria-sort'); });
    th.setAttribute('aria-sort', direction);
    bodies.slice().sort(compare(column, th.getAttribute('data-type') === 'number',
        direction === 'ascending' ? 1 : -1)).forEach(function (body) { table.appendChild(body); });
  }

  headers.forEach(function (th, column) {
    var button = th.querySelector('button');
    if (button) button.addEventListener('click', function () { sortBy(th, column); });
  });

  table.addEventListener('click', function (event) {
    var button = event.target.closest('button.open');
    if (!button) return;
    var runs = document.getElementById(button.getAttribute('aria-controls'));
    var open = button.getAttribute('aria-expanded') !== 'true';
    button.setAttribute('aria-expanded', open ? 'true' : 'false');
    runs.hidden = !open;
  });

  search.addEventListener('input', filter);
  document.getElementById('visitor-tools').hidden = false;
  showCount();
})();
)js";
}

}  // namespace report
