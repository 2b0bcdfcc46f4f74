// The report of a real replay, opened in headless Chromium as an operator opens it.
// Usage: node report_browser_test.mjs FLOWDECK SAMPLE_LOG OUTPUT_DIR
// Exit status: 0 passed, 1 failed, 77 skipped (no Chromium or no playwright-core).
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const SKIP = 77;
const CHROMIUM = process.env.FLOWDECK_CHROMIUM || '/usr/bin/chromium';
const PROBE = '203.0.113.66';
const HOSTILE_ADDRESS = '198.51.100.23';
const HOSTILE_AGENT =
  '<script>window.__pwned=1</script>" onmouseover="window.__pwned=2" x="<img src=x onerror=window.__pwned=3>';
const HOSTILE_PATH = '/search?q=<img/src=x/onerror=window.__pwned=4>';

const [flowdeck, sampleLog, outputDir] = process.argv.slice(2);
if (!flowdeck || !sampleLog || !outputDir) {
  console.error('usage: node report_browser_test.mjs FLOWDECK SAMPLE_LOG OUTPUT_DIR');
  process.exit(2);
}
if (!fs.existsSync(CHROMIUM)) {
  console.log(`skipped: ${CHROMIUM} is missing (Debian package chromium)`);
  process.exit(SKIP);
}
let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch (error) {
  console.log('skipped: playwright-core is not installed in tests/report/browser ' +
              `(npm ci --prefix tests/report/browser): ${error.message}`);
  process.exit(SKIP);
}

let failures = 0, passes = 0;
function check(condition, what, detail = '') {
  if (condition) {
    ++passes;
    console.log(`ok: ${what}`);
  } else {
    ++failures;
    console.log(`FAILED: ${what}${detail ? ` (${detail})` : ''}`);
  }
}

// The sample up to 08:19, while the probe is still held, then a visitor whose user agent and
// path are markup, in the Combined format with Apache's escaping of double quotes.
function writeLog(file) {
  const sample = fs.readFileSync(sampleLog, 'utf8').split('\n').filter(Boolean);
  const held = sample.filter((line) => /\[07\/Dec\/2026:08:(0\d|1[0-8]):/.test(line));
  const agent = HOSTILE_AGENT.replace(/"/g, '\\"');
  const hostile = [];
  for (let s = 1; s <= 29; s += 4) {
    const second = String(s).padStart(2, '0');
    hostile.push(`${HOSTILE_ADDRESS} - - [07/Dec/2026:08:19:${second} +0000] ` +
                 `"GET ${s % 8 === 1 ? HOSTILE_PATH : '/index.html'} HTTP/1.1" 200 512 "-" "${agent}"`);
  }
  fs.writeFileSync(file, [...held, ...hostile].join('\n') + '\n');
}

// The same morning again two days later: a run whose time span and chart labels carry dates.
function writeDaysLog(file) {
  const sample = fs.readFileSync(sampleLog, 'utf8').split('\n').filter(Boolean);
  const held = sample.filter((line) => /\[07\/Dec\/2026:08:(0\d|1[0-8]):/.test(line));
  const later = held.map((line) => line.replace('[07/Dec/2026:', '[09/Dec/2026:'));
  fs.writeFileSync(file, [...held, ...later].join('\n') + '\n');
}

function flowdeckRun(args) {
  execFileSync(flowdeck, args, { stdio: ['ignore', 'pipe', 'inherit'] });
}

async function visibleAddresses(page) {
  return page.$$eval('#visitor-table > tbody:not([hidden]) > tr.visitor > td:nth-child(2)',
                     (cells) => cells.map((cell) => cell.textContent));
}

// At this width every card's label and value stand on one line inside the card, no card
// reaches past the page, the page itself does not scroll sideways, and the alert chart's time
// labels stand apart.
async function checkLayout(page, width, run = '') {
  const layout = await page.evaluate(() => {
    const lines = (element) => {
      const range = document.createRange();
      range.selectNodeContents(element);
      return new Set([...range.getClientRects()].filter((r) => r.width > 0)
        .map((r) => Math.round(r.top))).size;
    };
    const view = document.documentElement.clientWidth;
    const cards = [...document.querySelectorAll('.figures .figure')].map((card) => {
      const box = card.getBoundingClientRect();
      return { label: card.querySelector('dt').textContent,
               lines: [lines(card.querySelector('dt')), lines(card.querySelector('dd'))],
               overflow: card.scrollWidth > card.clientWidth,
               outside: box.left < 0 || box.right > view };
    });
    const labels = [...document.querySelectorAll('svg.alert-chart text.time')].map((text) => {
      const box = text.getBoundingClientRect();
      return { text: text.textContent, left: box.left, right: box.right };
    });
    return { cards, labels, pageWidth: document.documentElement.scrollWidth, view };
  });
  const broken = layout.cards.filter((c) => c.lines[0] !== 1 || c.lines[1] !== 1 || c.overflow ||
                                           c.outside);
  check(layout.cards.length >= 8 && broken.length === 0,
        `at ${width} px${run ? ` ${run}` : ''} every card holds its label and value on one line each`,
        JSON.stringify(broken));
  check(layout.pageWidth <= layout.view, `at ${width} px${run ? ` ${run}` : ''} the page does not scroll sideways`,
        `${layout.pageWidth} > ${layout.view}`);
  const overlapping = layout.labels.filter((label, i) =>
    i + 1 < layout.labels.length && label.right > layout.labels[i + 1].left);
  check(layout.labels.length >= 2 && overlapping.length === 0,
        `at ${width} px${run ? ` ${run}` : ''} the alert chart's time labels do not overlap`,
        JSON.stringify(layout.labels));
}

async function main() {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'flowdeck-report-'));
  fs.mkdirSync(outputDir, { recursive: true });
  const log = path.join(work, 'sample-hostile.log');
  const run = path.join(work, 'run');
  const report = path.join(outputDir, 'report-browser.html');
  writeLog(log);
  flowdeckRun(['replay', '--quiet', '--out', run, log]);
  flowdeckRun(['report', '--output', report, run]);
  const daysLog = path.join(work, 'sample-days.log');
  const daysReport = path.join(outputDir, 'report-browser-days.html');
  writeDaysLog(daysLog);
  flowdeckRun(['replay', '--quiet', '--report', daysReport, '--out', path.join(work, 'days'),
               daysLog]);
  const snapshot = fs.readFileSync(path.join(run, 'KvCorvane.xml'), 'utf8');
  const expectedKeys = [...snapshot.matchAll(/<USER KEY="([^"]*)"/g)].map((m) => m[1]);

  const context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1366, height: 900 },
  });
  try {
    const pageUrl = pathToFileURL(report).href;
    const outside = [];
    await context.route('**/*', (route) => {
      if ([pageUrl, pathToFileURL(daysReport).href].includes(route.request().url())) {
        return route.continue();
      }
      outside.push(route.request().url());
      return route.abort();
    });
    await context.addInitScript(() => {
      window.__violations = [];
      document.addEventListener('securitypolicyviolation',
                                (event) => window.__violations.push(event.violatedDirective));
    });
    const page = context.pages()[0] || await context.newPage();
    const dialogs = [], errors = [];
    page.on('dialog', (dialog) => { dialogs.push(dialog.message()); dialog.dismiss(); });
    page.on('pageerror', (error) => errors.push(error.message));
    await page.goto(pageUrl);

    const rows = await visibleAddresses(page);
    check(rows.length === expectedKeys.length && expectedKeys.length > 0,
          `the visitors table has one row per visitor held (${expectedKeys.length})`,
          `rows ${rows.length}`);
    const keys = await page.$$eval('#visitor-table > tbody > tr.visitor button.open',
                                   (buttons) => buttons.map((b) => b.textContent));
    check(JSON.stringify(keys) === JSON.stringify(expectedKeys),
          'its rows are the snapshot\'s visitors in the snapshot\'s order');
    check(rows.includes(PROBE) && rows.includes(HOSTILE_ADDRESS),
          'the probe and the hostile visitor are listed');
    const held = await page.locator('.figures .figure', { hasText: 'Visitors held' })
      .locator('dd').textContent();
    check(held === String(expectedKeys.length), 'the header counts the visitors held', held);
    const alerts = fs.readFileSync(path.join(run, 'KvCorvaneAlerts.Out'), 'latin1').split(/\r?\n/)
      .map((line) => line.split(line[0])).filter((f) => f.length === 13 && /^[12]$/.test(f[11]))
      .map((f) => f[2]);
    const noted = await page.$$eval('#noted-table > tbody > tr > td:first-child',
                                    (cells) => cells.map((cell) => cell.textContent));
    check(alerts.length > 0 && [...new Set(alerts)].every((key) => noted.includes(key)),
          'every visitor alerted at level 1 or 2 is listed, held at the end or not',
          `alerted ${[...new Set(alerts)].join(' ')}; listed ${noted.join(' ')}`);
    const shieldRows = await page.$$eval('#shield-table > tbody > tr',
      (rows) => rows.map((row) => [2, 4, 5].map((i) => row.cells[i].textContent).join(" ")));
    check(new Set(shieldRows).size === shieldRows.length, 'one row per shield',
          shieldRows.join('; '));

    await page.click('#visitor-table thead th:nth-child(5) button');
    const first = await page.$eval('#visitor-table > tbody:first-of-type > tr.visitor',
      (row) => ({ address: row.cells[1].textContent, level: Number(row.cells[4].dataset.sort),
                  highlighted: row.parentElement.classList.contains('lvl2') }));
    const levels = await page.$$eval('#visitor-table > tbody > tr.visitor',
                                     (rs) => rs.map((row) => Number(row.cells[4].dataset.sort)));
    check(first.address === PROBE, 'sorting by level puts the probe first', first.address);
    check(levels.every((level, i) => i === 0 || levels[i - 1] >= level),
          'the levels then run from high to low', levels.join(','));
    console.log(`note: the probe is at level ${first.level}`);
    check(first.level !== 2 || first.highlighted, 'a level-2 row stands out');

    await page.fill('#visitor-search', 'curl');
    check(JSON.stringify(await visibleAddresses(page)) === JSON.stringify([PROBE]),
          'searching "curl" leaves only the probe');
    await page.fill('#visitor-search', HOSTILE_ADDRESS);
    check(JSON.stringify(await visibleAddresses(page)) === JSON.stringify([HOSTILE_ADDRESS]),
          'searching an address leaves only that visitor');
    check((await page.textContent('#visitor-status')) === `1 of ${expectedKeys.length} visitors`,
          'the search says how many visitors it shows');
    await page.fill('#visitor-search', '');
    check((await visibleAddresses(page)).length === expectedKeys.length,
          'clearing the search shows every visitor again');

    const hostileBody = page.locator('#visitor-table > tbody', { hasText: HOSTILE_ADDRESS });
    await hostileBody.locator('tr.visitor > td:nth-child(4)').hover();
    await hostileBody.locator('button.open').click();
    const runs = hostileBody.locator('tr.runs');
    check(await runs.isVisible(), 'a row opens to show the visitor\'s runs of hits');
    const agentText = await runs.locator('dl.details dd').first().textContent();
    check(agentText === HOSTILE_AGENT, 'the hostile user agent shows as text', agentText);
    check((await hostileBody.locator('tr.visitor > td:nth-child(4)').getAttribute('title')) === HOSTILE_AGENT,
          'the hostile user agent is the browser cell\'s tooltip, as text');
    const paths = await runs.locator('table.run-table td:nth-child(5)').allTextContents();
    check(paths.includes('/search'), 'the runs show their paths', paths.join(' '));
    const queries = await runs.locator('table.run-table td:nth-child(6)').allTextContents();
    check(queries.some((q) => q.includes('<img/src=x/onerror')), 'a hostile query shows as text');

    const injected = await page.evaluate(() => ({
      pwned: window.__pwned,
      scripts: document.scripts.length,
      handlers: document.querySelectorAll('[onmouseover],[onerror],img,iframe,object,embed').length,
      violations: window.__violations,
    }));
    check(injected.pwned === undefined, 'no injected script ran', String(injected.pwned));
    check(dialogs.length === 0, 'no dialog opened', dialogs.join('; '));
    check(injected.scripts === 2 && injected.handlers === 0,
          'the page holds only its own two scripts and no injected element');
    check(injected.violations.length === 0, 'nothing was refused by the page\'s policy',
          injected.violations.join(','));
    check(errors.length === 0, 'the page\'s script raised no error', errors.join('; '));
    check(outside.length === 0, 'the page reached for nothing outside itself', outside.join(' '));

    for (const [width, height] of [[1280, 900], [390, 844]]) {
      await page.setViewportSize({ width, height });
      await page.evaluate(() => window.scrollTo(0, 0));
      await checkLayout(page, width);
      const screenshot = path.join(outputDir, `report-browser-${width}.png`);
      await page.screenshot({ path: screenshot, fullPage: true });
      console.log(`screenshot: ${screenshot}`);
    }
    const days = await context.newPage();
    await days.goto(pathToFileURL(daysReport).href);
    for (const [width, height] of [[1280, 900], [390, 844]]) {
      await days.setViewportSize({ width, height });
      await checkLayout(days, width, 'over days');
      const screenshot = path.join(outputDir, `report-browser-days-${width}.png`);
      await days.screenshot({ path: screenshot, fullPage: true });
      console.log(`screenshot: ${screenshot}`);
    }
  } finally {
    await context.close();
    fs.rmSync(work, { recursive: true, force: true });
  }
}

try {
  await main();
} catch (error) {
  ++failures;
  console.log(`FAILED: ${error.stack || error}`);
}
console.log(`${passes} passed, ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
