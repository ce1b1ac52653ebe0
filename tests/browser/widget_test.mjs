// Opens the 12 rendered HTML widgets (4 states x 3 families) in headless chromium, checks each
// shows its state's texts and buttons inside its family's box, and saves a screenshot of each.
//
// Usage: node widget_test.mjs <path to korvel> <build dir>

import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const [korvel, buildArgument] = process.argv.slice(2);
const buildDir = buildArgument || process.env.KORVEL_BUILD_DIR;
if (!korvel || !buildDir) {
  console.error('Usage: node widget_test.mjs <path to korvel> <build dir>');
  process.exit(2);
}

const require = createRequire(import.meta.url);
let chromium;
try {
  ({ chromium } = require('playwright-core'));
} catch {
  console.error(`playwright-core is not installed in ${here}: run \`npm ci\` there (./scripts/test does it).`);
  process.exit(1);
}
const executablePath = '/usr/bin/chromium';
if (!existsSync(executablePath)) {
  console.error('chromium is not installed at /usr/bin/chromium: install the Debian package chromium.');
  process.exit(1);
}

const sizes = { small: [170, 170], medium: [364, 170], large: [364, 382] };
const now = '2026-03-04T14:15:00Z';
const states = {
  idle: { write: ['--state', 'idle'], at: '2026-03-04T14:15:30Z', status: 'Ready to record', controls: ['Start recording'] },
  recording: {
    write: ['--state', 'recording', '--elapsed', '125'],
    at: '2026-03-04T14:15:30Z',
    status: 'Recording 2:35',
    controls: ['Pause recording', 'Stop recording'],
  },
  paused: {
    write: ['--state', 'paused', '--elapsed', '3725'],
    at: '2026-03-04T14:15:30Z',
    status: 'Paused · 1:02:05',
    controls: ['Resume recording', 'Stop recording'],
  },
  // A recording nobody refreshed for more than 90 seconds.
  unavailable: {
    write: ['--state', 'recording', '--elapsed', '125'],
    at: '2026-03-04T14:20:00Z',
    status: 'Open Korvel to refresh',
    controls: ['Open Korvel'],
  },
};
const meetings = [
  'm-1,Quarterly planning with the whole product team and friends,2026-03-04T09:00:00Z,3725,Transcribing',
  'm-2,Standup,2026-03-03T09:00:00Z,900',
  'bad/id,Hidden because its id cannot be linked,2026-03-02T09:00:00Z,60',
  'm-3,,2026-03-02T09:00:00Z,1800,Summarising',
  'm-4,Design review,2026-03-01T15:00:00Z,2700',
  'm-5,Hiring sync,2026-02-28T11:00:00Z,1500',
  'm-6,One too many for large,2026-02-27T11:00:00Z,1200',
];
// The large family fits five rows, four under the two-line unavailable status.
const expectedRows = (state, family) => ({ small: 0, medium: 2, large: state === 'unavailable' ? 4 : 5 })[family];

const htmlDir = join(buildDir, 'widget-html');
const screenshots = join(buildDir, 'widget-screenshots');
mkdirSync(htmlDir, { recursive: true });
mkdirSync(screenshots, { recursive: true });
const home = mkdtempSync(join(buildDir, 'widget-browser-home-'));

function korvelRun(args) {
  return execFileSync(korvel, args, { env: { ...process.env, KORVEL_HOME: home }, encoding: 'utf8' });
}

const pages = [];
for (const [state, spec] of Object.entries(states)) {
  const statusFile = join(home, `${state}.json`);
  const meetingArgs = meetings.flatMap((m) => ['--meeting', m]);
  korvelRun(['status', 'write', '--status-file', statusFile, '--now', now, '--show-titles', ...spec.write, ...meetingArgs]);
  for (const family of Object.keys(sizes)) {
    const file = join(htmlDir, `${state}-${family}.html`);
    writeFileSync(file, korvelRun(['widget', 'render', '--status-file', statusFile, '--now', spec.at, '--family', family, '--format', 'html']));
    pages.push({ state, family, file });
  }
}

const failures = [];
const browser = await chromium.launch({ executablePath, headless: true, args: ['--no-sandbox'] });
try {
  const context = await browser.newContext({ viewport: { width: 480, height: 480 }, deviceScaleFactor: 2 });
  for (const { state, family, file } of pages) {
    const name = `${state}-${family}`;
    const fail = (message) => failures.push(`${name}: ${message}`);
    const page = await context.newPage();
    page.on('request', (request) => {
      if (!request.url().startsWith('file:')) fail(`loads an outside resource ${request.url()}`);
    });
    page.on('pageerror', (error) => fail(`script error ${error.message}`));
    await page.goto(pathToFileURL(file).href);
    const report = await page.evaluate(() => {
      const widget = document.getElementById('widget');
      const box = widget.getBoundingClientRect();
      const outside = [];
      for (const element of widget.querySelectorAll('*')) {
        const r = element.getBoundingClientRect();
        if (r.width === 0 && r.height === 0) continue;
        if (r.left < box.left - 0.5 || r.top < box.top - 0.5 || r.right > box.right + 0.5 || r.bottom > box.bottom + 0.5) {
          outside.push(`${element.tagName.toLowerCase()}.${element.className.baseVal ?? element.className}`);
        }
        // Text that does not fit its own line must be cut with an ellipsis, never spill.
        if (element.matches('.row-title, .status') && element.scrollHeight > r.height + 1) outside.push(`${element.className} spills`);
      }
      const status = widget.querySelector('[data-role=status]');
      return {
        state: widget.dataset.state,
        width: box.width,
        height: box.height,
        outside,
        status: status ? status.innerText.replace(/\s+/g, ' ').trim() : null,
        controls: [...widget.querySelectorAll('[data-role=control]')].map((c) => c.getAttribute('aria-label')),
        visibleControls: [...widget.querySelectorAll('[data-role=control]')].every((c) => c.getBoundingClientRect().width >= 14),
        rows: [...widget.querySelectorAll('[data-role=row]')].map((r) => r.innerText),
        empty: widget.querySelector('[data-role=empty]')?.innerText ?? null,
        text: widget.innerText,
      };
    });
    const spec = states[state];
    const [width, height] = sizes[family];
    if (report.state !== state) fail(`shows state ${report.state}`);
    if (report.width !== width || report.height !== height) fail(`is ${report.width}x${report.height}, not ${width}x${height}`);
    if (report.outside.length) fail(`draws outside its box: ${report.outside.join(', ')}`);
    if (report.status !== spec.status) fail(`status line reads "${report.status}", not "${spec.status}"`);
    if (JSON.stringify(report.controls) !== JSON.stringify(spec.controls)) fail(`controls are ${JSON.stringify(report.controls)}`);
    if (!report.visibleControls) fail('a control is narrower than 14 points');
    if (!report.text.includes('Korvel')) fail('has no header');
    if (report.rows.length !== expectedRows(state, family)) fail(`shows ${report.rows.length} meetings, not ${expectedRows(state, family)}`);
    if (family !== 'small') {
      if (!report.rows[0]?.includes('Quarterly planning') || !report.rows[0]?.includes('1:02:05')) fail(`first row is "${report.rows[0]}"`);
      if (report.rows.some((r) => r.includes('Hidden because'))) fail('shows a meeting whose id cannot be linked');
      if (report.rows.join('\n').includes('Transcribing') !== (family === 'large')) fail('processing label in the wrong family');
    }
    if (family === 'large') {
      if (!report.text.includes('Recent meetings')) fail('large has no "Recent meetings" heading');
      if (!report.rows[2]?.includes('Untitled meeting')) fail(`third row is "${report.rows[2]}", not the untitled one`);
    }
    await page.locator('#widget').screenshot({ path: join(screenshots, `${name}.png`) });
    await page.close();
  }
} finally {
  await browser.close();
  rmSync(home, { recursive: true, force: true });
}

if (failures.length) {
  console.error(failures.join('\n'));
  process.exit(1);
}
console.log(`All ${pages.length} widgets render within their families' sizes; screenshots in ${screenshots}`);
