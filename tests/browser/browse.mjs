// Drives headless Chromium through a served installation as its owner would:
// visits three tracked pages of the demo site, logs in, starts a parse and follows
// it in its window, picks "Current Day" from the selector and submits a custom
// frame of today, and checks what the pages show and that every file they load
// is there. Exits non-zero on the first failed check.
//
//   [QM_CHROMIUM=PROGRAM] node browse.mjs SITE_URL INSTALLATION_URL PASSWORD SCREENSHOT_FOLDER PROFILE_FOLDER
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';

const [site, installation, password, shots, profile] = process.argv.slice(2);

const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.QM_CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  viewport: { width: 800, height: 900 },
});
context.setDefaultTimeout(30000);

// Every answer of this server that is not a success is a missing file, but for the
// icon that Chromium asks for on its own, which no page names.
const failures = [];
context.on('response', (response) => {
  const url = response.url();
  if (url.startsWith(site) && response.status() >= 400 && !url.endsWith('/favicon.ico')) {
    failures.push(`${response.status()} ${url}`);
  }
});
context.on('requestfailed', (request) => failures.push(`failed ${request.url()}`));

// The rows of the report tables as arrays of cell texts.
const rows = (page) => page.$$eval('tr.dat', (trs) => trs.map((tr) => [...tr.cells].map((td) => td.innerText.trim())));
const row = (all, label) => all.find((cells) => cells.some((text) => text === label));

try {
  const page = context.pages()[0] ?? (await context.newPage());

  // A visitor from another site: the home page, then two pages through the site's links.
  await page.goto(`${site}/`, { referer: 'http://www.example-blog.net/tools.html' });
  for (const link of ['Products', 'About']) {
    await Promise.all([page.waitForEvent('load'), page.click(`nav >> text=${link}`)]);
  }

  // The owner logs in.
  await page.goto(`${installation}/login.html`);
  await page.fill('input[name=pass]', password);
  await Promise.all([page.waitForNavigation(), page.click('form[name=login] input[type=image]')]);
  assert.match(await page.innerText('body'), /Generating HTML Reports[\s\S]*Parsing Server Log File/);
  await page.screenshot({ path: `${shots}/start-page.png`, fullPage: true });

  // The parse runs in its own window, which follows it until it has finished.
  const [progress] = await Promise.all([
    page.waitForEvent('popup'),
    page.click('form[target=progress] input[type=image]'),
  ]);
  await progress.waitForFunction(() => document.title === 'Finished parsing log file', null,
                                 { timeout: 60000, polling: 250 });
  assert.match(await progress.innerText('body'), /Data processed:\s+3\s+Hits/);
  assert.match(await progress.innerText('body'), /100% completed/);
  await progress.screenshot({ path: `${shots}/parse-window.png` });
  await progress.close();

  // "Current Day" from the selector.
  await page.selectOption('select[name=type]', 'cday');
  await Promise.all([page.waitForNavigation(), page.click('form:has(select[name=type]) input[type=image]')]);
  const today = new Date();
  const month = today.toLocaleString('en-US', { month: 'long' });
  const title = `Stats for ${month} ${today.getDate()}, ${today.getFullYear()}`;
  let text = await page.innerText('body');
  assert.ok(text.includes(title), `no "${title}" in the report`);
  let all = await rows(page);
  assert.equal(row(all, 'Unique Visitors').at(-1), '1');
  assert.equal(row(all, 'Page Views').at(-1), '3');
  for (const path of ['/', '/products.html', '/about.html']) assert.ok(row(all, path), `no row of ${path}`);
  assert.ok(text.includes('Visitor\'s Paths'), 'no paths section');
  // Its links to another site open a window of their own that gets no hold on this page.
  const rels = await page.$$eval('a[target][href^=http]', (links) => links.map((a) => a.rel));
  assert.ok(rels.length >= 2 && rels.every((rel) => rel === 'noopener noreferrer'), `links with rel ${rels}`);
  await page.screenshot({ path: `${shots}/report-current-day.png`, fullPage: true });

  // A custom frame: today as the ending date, the starting date left at M/D/Y.
  await page.selectOption('select[name=de]', String(today.getDate()));
  await Promise.all([page.waitForNavigation(), page.click('form:has(input[value=custom]) input[type=image]')]);
  text = await page.innerText('body');
  assert.ok(text.includes(title), `no "${title}" in the custom report`);
  all = await rows(page);
  assert.equal(row(all, 'Unique Visitors').at(-1), '1');
  assert.equal(row(all, 'Page Views').at(-1), '3');
  await page.screenshot({ path: `${shots}/report-custom-frame.png`, fullPage: true });

  // Every image of the report page was there and could be drawn.
  const broken = await page.$$eval('img', (imgs) => imgs.filter((img) => !img.complete || img.naturalWidth === 0)
    .map((img) => img.src));
  assert.deepEqual(broken, [], 'images that did not load');
  assert.deepEqual(failures, [], 'files the pages name that the server does not have');
  console.log(`browser test: all checks passed; screenshots in ${shots}`);
} finally {
  await context.close();
}
