// Opens the rendered HTML widgets (4 states and a recording with titles hidden, x 3 families) in
// headless chromium, light and dark, checks each shows its state's texts, badge and buttons inside
// its family's box in readable colours, and saves a screenshot of each.
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
const title = 'Weekly sync with the platform team about the release';
const shown = ['--show-titles', '--title', title];
// `stacked` is the status as read where small and medium give the time its own line.
const states = {
  idle: {
    write: ['--state', 'idle', ...shown],
    at: '2026-03-04T14:15:30Z',
    status: 'Ready to record',
    controls: ['Start recording'],
    labels: ['Start'],
  },
  recording: {
    write: ['--state', 'recording', '--elapsed', '125', ...shown],
    at: '2026-03-04T14:15:30Z',
    status: 'Recording 2:35',
    controls: ['Pause recording', 'Stop recording'],
    labels: ['Pause', 'Stop'],
    badge: 'recording',
    title: true,
    // The timer keeps counting on the page: a minute later it reads 3:35.
    minuteLater: /3:35/,
  },
  paused: {
    write: ['--state', 'paused', '--elapsed', '3725', ...shown],
    at: '2026-03-04T14:15:30Z',
    status: 'Paused · 1:02:05',
    stacked: 'Paused 1:02:05',
    controls: ['Resume recording', 'Stop recording'],
    labels: ['Resume', 'Stop'],
    badge: 'paused',
    title: true,
  },
  // A recording nobody refreshed for more than 90 seconds.
  unavailable: {
    write: ['--state', 'recording', '--elapsed', '125', ...shown],
    at: '2026-03-04T14:20:00Z',
    status: 'Open Korvel to refresh',
    controls: ['Open Korvel'],
    labels: ['Open Korvel'],
  },
  // The recorder did not publish titles: its placeholders show, never the real title.
  private: {
    write: ['--state', 'recording', '--elapsed', '125', '--title', title],
    at: '2026-03-04T14:15:30Z',
    status: 'Recording 2:35',
    controls: ['Pause recording', 'Stop recording'],
    labels: ['Pause', 'Stop'],
    badge: 'recording',
    hiddenTitles: true,
    shows: 'recording',
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
const schemes = ['light', 'dark'];

const htmlDir = join(buildDir, 'widget-html');
const screenshots = join(buildDir, 'widget-screenshots');
mkdirSync(htmlDir, { recursive: true });
// Old screenshots would pass for this run's.
rmSync(screenshots, { recursive: true, force: true });
mkdirSync(screenshots, { recursive: true });
const home = mkdtempSync(join(buildDir, 'widget-browser-home-'));

function korvelRun(args) {
  return execFileSync(korvel, args, { env: { ...process.env, KORVEL_HOME: home }, encoding: 'utf8' });
}

const pages = [];
for (const [state, spec] of Object.entries(states)) {
  const statusFile = join(home, `${state}.json`);
  const meetingArgs = meetings.flatMap((m) => ['--meeting', m]);
  korvelRun(['status', 'write', '--status-file', statusFile, '--now', now, ...spec.write, ...meetingArgs]);
  for (const family of Object.keys(sizes)) {
    const file = join(htmlDir, `${state}-${family}.html`);
    writeFileSync(file, korvelRun(['widget', 'render', '--status-file', statusFile, '--now', spec.at, '--family', family, '--format', 'html']));
    pages.push({ state, family, file });
  }
}

const failures = [];
const badgeColours = {};
const browser = await chromium.launch({ executablePath, headless: true, args: ['--no-sandbox'] });
try {
  const context = await browser.newContext({ viewport: { width: 480, height: 480 }, deviceScaleFactor: 2 });
  for (const { state, family, file } of pages) {
    let name = `${state}-${family}`;
    const fail = (message) => failures.push(`${name}: ${message}`);
    const spec = states[state];
    const page = await context.newPage();
    page.on('request', (request) => {
      if (!request.url().startsWith('file:')) fail(`loads an outside resource ${request.url()}`);
    });
    page.on('pageerror', (error) => fail(`script error ${error.message}`));
    // A fake clock keeps the live timer (and so the screenshots) still until the test moves it.
    await page.clock.install({ time: new Date(spec.at) });
    await page.goto(pathToFileURL(file).href);
    for (const scheme of schemes) {
      name = `${state}-${family}-${scheme}`;
      await page.emulateMedia({ colorScheme: scheme });
      const report = await page.evaluate(() => {
        const rgb = (colour) => colour.match(/[\d.]+/g).map(Number);
        const luminance = ([r, g, b]) =>
          [r, g, b].map((c) => (c / 255 <= 0.03928 ? c / 255 / 12.92 : ((c / 255 + 0.055) / 1.055) ** 2.4))
            .reduce((sum, c, i) => sum + c * [0.2126, 0.7152, 0.0722][i], 0);
        const contrast = (a, b) => {
          const [x, y] = [luminance(rgb(a)), luminance(rgb(b))].sort((p, q) => q - p);
          return (x + 0.05) / (y + 0.05);
        };
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
          const clamped = getComputedStyle(element).webkitLineClamp !== 'none';
          if (element.matches('.row-title, .status') && !clamped && element.scrollHeight > r.height + 1) outside.push(`${element.className} spills`);
          // The state word and its time are what a glance reads: they may shrink, never be cut.
          if (element.matches('.status .word, .status .time') && element.scrollWidth > element.clientWidth + 0.5) outside.push(`${element.className} cut`);
        }
        const status = widget.querySelector('[data-role=status]');
        const surface = getComputedStyle(widget).backgroundColor;
        // Every text the widget draws must stand out from its background (4.5:1 for normal text).
        const faint = [];
        for (const element of widget.querySelectorAll('.word span, .time, .row-title, .row-details span, .current-title, .control span, .heading, .empty')) {
          const ratio = contrast(getComputedStyle(element).color, surface);
          if (ratio < 4.5) faint.push(`${element.className || element.textContent} ${ratio.toFixed(1)}:1`);
        }
        const controls = [...widget.querySelectorAll('[data-role=control]')];
        const badge = widget.querySelector('[data-badge]');
        const badgeBox = badge?.getBoundingClientRect();
        return {
          surface: luminance(rgb(surface)),
          faint,
          badge: badge && badgeBox.width >= 12 && badgeBox.height >= 12 ? badge.dataset.badge : null,
          badgeColour: badge ? getComputedStyle(badge).color : null,
          title: widget.querySelector('[data-role=title]')?.innerText ?? null,
          controlHeights: controls.map((c) => c.getBoundingClientRect().height),
          labels: controls.map((c) => c.innerText.trim()),
          cutLabels: controls.filter((c) => c.scrollWidth > c.clientWidth + 0.5).map((c) => c.innerText),
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
      const [width, height] = sizes[family];
      const stacked = family !== 'large';
      if (report.state !== (spec.shows ?? state)) fail(`shows state ${report.state}`);
      if (report.width !== width || report.height !== height) fail(`is ${report.width}x${report.height}, not ${width}x${height}`);
      if (report.outside.length) fail(`draws outside its box: ${report.outside.join(', ')}`);
      const status = (stacked && spec.stacked) || spec.status;
      if (report.status !== status) fail(`status line reads "${report.status}", not "${status}"`);
      if (JSON.stringify(report.controls) !== JSON.stringify(spec.controls)) fail(`controls are ${JSON.stringify(report.controls)}`);
      if (!report.visibleControls) fail('a control is narrower than 14 points');
      if (JSON.stringify(report.labels) !== JSON.stringify(spec.labels)) fail(`button labels are ${JSON.stringify(report.labels)}`);
      if (report.controlHeights.some((h) => h < 28)) fail(`buttons are ${report.controlHeights.join(', ')} px tall, not 28`);
      if (report.cutLabels.length) fail(`button labels cut: ${report.cutLabels.join(', ')}`);
      if (scheme === 'dark' ? report.surface > 0.1 : report.surface < 0.8) fail(`background luminance ${report.surface.toFixed(2)} in ${scheme}`);
      if (report.faint.length) fail(`faint text: ${report.faint.join('; ')}`);
      if (report.badge !== (spec.badge ?? null)) fail(`badge is ${report.badge}, not ${spec.badge ?? 'none'}`);
      badgeColours[`${spec.badge}-${scheme}`] = report.badgeColour;
      if (report.title !== (spec.title ? title : null) && !(spec.title && report.title?.startsWith('Weekly sync'))) {
        fail(`current title is ${JSON.stringify(report.title)}`);
      }
      if (spec.hiddenTitles && (report.text.includes('Weekly sync') || report.text.includes('Quarterly'))) fail('shows a title that was not published');
      if (!report.text.includes('Korvel')) fail('has no header');
      if (report.rows.length !== expectedRows(state, family)) fail(`shows ${report.rows.length} meetings, not ${expectedRows(state, family)}`);
      if (family !== 'small' && spec.hiddenTitles) {
        if (!report.rows.every((r) => r.startsWith('Meeting'))) fail(`rows are ${JSON.stringify(report.rows)}`);
      } else if (family !== 'small') {
        if (!report.rows[0]?.includes('Quarterly planning') || !report.rows[0]?.includes('1:02:05')) fail(`first row is "${report.rows[0]}"`);
        if (report.rows.some((r) => r.includes('Hidden because'))) fail('shows a meeting whose id cannot be linked');
        if (report.rows.join('\n').includes('Transcribing') !== (family === 'large')) fail('processing label in the wrong family');
      }
      if (family === 'large' && !spec.hiddenTitles) {
        if (!report.text.includes('Recent meetings')) fail('large has no "Recent meetings" heading');
        if (!report.rows[2]?.includes('Untitled meeting')) fail(`third row is "${report.rows[2]}", not the untitled one`);
      }
      await page.locator('#widget').screenshot({ path: join(screenshots, `${name}.png`) });
    }
    if (spec.minuteLater) {
      await page.clock.runFor(60_000);
      const later = await page.locator('[data-role=status]').innerText();
      if (!spec.minuteLater.test(later)) fail(`a minute later the status reads "${later}"`);
    }
    await page.close();
  }
  for (const scheme of schemes) {
    if (badgeColours[`recording-${scheme}`] === badgeColours[`paused-${scheme}`]) failures.push(`recording and paused share a colour in ${scheme}`);
  }
} finally {
  await browser.close();
  rmSync(home, { recursive: true, force: true });
}

if (failures.length) {
  console.error(failures.join('\n'));
  process.exit(1);
}
console.log(`All ${pages.length * schemes.length} widgets render, light and dark, within their families' sizes; screenshots in ${screenshots}`);
