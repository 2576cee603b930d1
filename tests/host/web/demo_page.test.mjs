// The development host's demo page in a real browser: ktx-host started with
// its demo on free ports, Debian's chromium driven headless by playwright-core.
// The steps share one host and one page, in order: what a person would do.
//
// Environment (set by ctest): KTX_HOST, the ktx-host program; KTX_TEST_ARTIFACTS,
// where the screenshot goes; KTX_PLAYWRIGHT, the playwright-core folder;
// KTX_CHROMIUM, the browser. Exits 77 (skipped) when the browser or its driver
// is not installed (scripts/bootstrap.sh installs both).
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';

const hostProgram = process.env.KTX_HOST;
const artifacts = process.env.KTX_TEST_ARTIFACTS ?? path.join(tmpdir(), 'ktx-test-artifacts');
const playwrightCore =
  process.env.KTX_PLAYWRIGHT ?? '/var/cache/ktx/playwright/node_modules/playwright-core';
const chromiumPath = process.env.KTX_CHROMIUM ?? '/usr/bin/chromium';
const WAIT = 60_000; // generous: the 32-bit host may run under an emulator

if (!hostProgram || !existsSync(hostProgram)) {
  console.error(`KTX_HOST must name the ktx-host program (got "${hostProgram ?? ''}")`);
  process.exit(1);
}
for (const [what, where] of [['playwright-core', playwrightCore], ['chromium', chromiumPath]]) {
  if (!existsSync(where)) {
    console.log(`skipped: ${what} is not installed at ${where} (run scripts/bootstrap.sh)`);
    process.exit(77);
  }
}
const { chromium } = createRequire(import.meta.url)(playwrightCore);

const sleep = (ms) => new Promise((resolve) => { setTimeout(resolve, ms); });

// ktx-host with a private run file; resolves once it has written the file.
async function startHost() {
  const folder = mkdtempSync(path.join(tmpdir(), 'ktx-demo-page-'));
  const runFile = path.join(folder, 'run.json');
  const child = spawn(hostProgram, ['--run-file', runFile, '--log-level', '3'],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  child.stdout.on('data', (chunk) => { output += chunk; });
  child.stderr.on('data', (chunk) => { output += chunk; });
  let exit = null;
  const exited = new Promise((resolve) => {
    child.on('exit', (code, signal) => { exit = { code, signal }; resolve(exit); });
  });
  const deadline = Date.now() + WAIT;
  while (!existsSync(runFile)) {
    if (exit || Date.now() > deadline) {
      child.kill('SIGKILL');
      throw new Error(`ktx-host did not start:\n${output}`);
    }
    await sleep(100);
  }
  const run = JSON.parse(readFileSync(runFile, 'utf8'));
  return {
    base: `http://127.0.0.1:${run.port}`,
    token: run.token,
    output: () => output,
    async stop() {
      if (!exit) child.kill('SIGTERM');
      const timer = setTimeout(() => child.kill('SIGKILL'), WAIT);
      const result = await exited;
      clearTimeout(timer);
      rmSync(folder, { recursive: true, force: true });
      return result;
    },
  };
}

let host;
let context;
let page;
let profile;
const requests = []; // every URL the page asked for
const pageErrors = [];

before(async () => {
  host = await startHost();
  profile = mkdtempSync(path.join(tmpdir(), 'ktx-chromium-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    viewport: { width: 1280, height: 900 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  context.setDefaultTimeout(WAIT);
  context.on('request', (request) => requests.push(`${request.method()} ${request.url()}`));
  page = context.pages()[0] ?? await context.newPage();
  page.on('pageerror', (error) => pageErrors.push(String(error)));
});

after(async () => {
  await context?.close();
  if (profile) rmSync(profile, { recursive: true, force: true });
  if (host) {
    const { code, signal } = await host.stop();
    assert.equal(code, 0, `ktx-host ended with ${code ?? signal}:\n${host.output()}`);
  }
});

const card = (id) => page.locator(`#offers .card[data-offer-id="${id}"]`);
const OFFERS_EVENTS = '#event-log li[data-uri="/tav-personalized-offers/v1/offers"]';
const offersEvents = () => page.locator(OFFERS_EVENTS).count();
// Waits until the element's text contains every one of `parts`.
async function waitForText(selector, ...parts) {
  await page.waitForFunction(([where, texts]) => {
    const node = document.querySelector(where);
    return node !== null && texts.every((text) => node.textContent.includes(text));
  }, [selector, parts], { timeout: WAIT });
}

test('the page and the host answer only with the token; its files are public', async () => {
  const get = (target, headers = {}) => fetch(`${host.base}${target}`, { headers });
  const html = { Accept: 'text/html' };
  assert.equal((await get('/', html)).status, 401);
  const withToken = await get(`/?token=${host.token}`, html);
  assert.equal(withToken.status, 200);
  assert.match(withToken.headers.get('content-security-policy'), /connect-src 'self'/);
  assert.match(await withToken.text(), /<script type="module" src="\/web\/app.js">/);
  // Scripts and curl still get the JSON index.
  const index = await get('/', { Authorization: `Bearer ${host.token}` });
  assert.equal((await index.json()).plugin, 'tav-personalized-offers');
  const script = await get('/web/app.js');
  assert.equal(script.status, 200);
  assert.match(script.headers.get('content-type'), /^text\/javascript/);
  const bearer = { Authorization: `Bearer ${host.token}` };
  for (const target of ['/web/%2e%2e/CMakeLists.txt', '/web/.hidden.js', '/web/app.mjs']) {
    assert.equal((await get(target)).status, 401, target);
    assert.equal((await get(target, bearer)).status, 404, target);
  }
});

test('the cards appear with what the plug-in serves', async () => {
  await page.goto(`${host.base}/?token=${host.token}`);
  await page.waitForFunction(() => document.querySelectorAll('#offers .card').length === 4);
  await waitForText('#live', 'connected');
  await waitForText('#status', 'enabled');
  assert.equal(await page.textContent('#themed'), 'on');
  assert.ok(await page.evaluate(() => document.body.classList.contains('themed')));
  assert.match(await page.textContent('#player'), /^demo-id-token · summoner 2814749767106561/);

  const owned = await card('po-skin-1').textContent();
  for (const part of ['Skin', 'Starforged Vessa', 'Champion 31 · Skin 31004', '1350 QP', '810 QP',
    'Save 540 QP (40%)', 'Not owned', 'Revealed']) {
    assert.ok(owned.includes(part), `"${part}" in ${owned}`);
  }
  assert.match(owned, /Expires in 6d \d\d:\d\d:\d\d/);
  const bundle = await card('po-skin-2').textContent();
  for (const part of ['SkinWithChampion', 'Frostbound Orin', '2325 QP', '1065 QP',
    'Save 1260 QP (54%)']) {
    assert.ok(bundle.includes(part), `"${part}" in ${bundle}`);
  }
  // Unrevealed: face down, nothing of the offer shown but its expiry.
  const hidden = card('po-skin-3');
  assert.match(await hidden.getAttribute('class'), /face-down/);
  assert.ok(!(await hidden.textContent()).includes('Tidecaller'));
});

test('a reveal turns the card', async () => {
  await card('po-skin-3').locator('button.reveal').click();
  await waitForText('#offers .card[data-offer-id="po-skin-3"]', 'Tidecaller Kael', 'Revealed');
  assert.doesNotMatch(await card('po-skin-3').getAttribute('class'), /face-down/);
  await waitForText('#result', 'Revealed po-skin-3');
});

test('a purchase shows the result and the wallet; the list comes back as the event', async () => {
  const eventsBefore = await offersEvents();
  const from = requests.length;
  await card('po-skin-2').locator('button.purchase').click();
  await waitForText('#result', 'Purchased po-skin-2', 'CHAMPION_SKIN 48007: paid 675 QP',
    'CHAMPION 48: paid 390 QP', 'Wallet: 3935 QP');
  await waitForText('#offers .card[data-offer-id="po-skin-2"]', 'Owned');
  assert.ok(await offersEvents() > eventsBefore);
  // The page asked for nothing but the purchase: the new list is the event's.
  const asked = requests.slice(from).filter((line) => !line.includes('/web/'));
  assert.deepEqual(asked,
    [`POST ${host.base}/tav-personalized-offers/v1/offers/po-skin-2/purchase`]);

  mkdirSync(artifacts, { recursive: true });
  const screenshot = path.join(artifacts, 'demo-page.png');
  await page.screenshot({ path: screenshot, fullPage: true });
  console.log(`screenshot: ${screenshot}`);
});

test('an injected fulfilment notification of an offered item refreshes the list', async () => {
  const eventsBefore = await offersEvents();
  await page.selectOption('#fulfilment-type', 'CHAMPION_SKIN');
  await page.fill('#fulfilment-item', '57002');
  await page.click('#inject-fulfilment');
  await waitForText('#operator-result', 'CHAMPION_SKIN 57002 delivered to 1 subscription(s)');
  await page.waitForFunction(
    ([selector, count]) => document.querySelectorAll(selector).length > count,
    [OFFERS_EVENTS, eventsBefore]);
});

test('switching player shows the new player\'s offers', async () => {
  // The last action of the previous player (the purchase above) goes with them.
  assert.equal(await page.locator('#result').isVisible(), true);
  await page.fill('#player-token', 'second-player');
  await page.click('#switch-player');
  await waitForText('#player', 'second-player');
  await waitForText('#operator-result', 'Signed in as second-player');
  assert.equal(await page.locator('#result').isVisible(), false);
  // Another player's catalogue: nothing bought, nothing revealed yet.
  await waitForText('#offers .card[data-offer-id="po-skin-2"]', 'Not owned');
  assert.match(await card('po-skin-3').getAttribute('class'), /face-down/);
  assert.equal(await page.locator('#offers .card').count(), 4);
});

test('disabling the feature shows the disabled state and the plug-in\'s refusal', async () => {
  await page.click('#disable');
  await waitForText('#status', 'disabled');
  assert.ok(await page.evaluate(() => document.body.classList.contains('feature-disabled')));
  assert.ok(await page.isVisible('#disabled-note'));
  await card('po-skin-4').locator('button.reveal').click();
  await waitForText('#result', 'Reveal of po-skin-4 failed',
    '404: Personalized Offers not enabled');
});

test('a deleted configuration turns the themed look off; restored, the offers come back', async () => {
  await page.click('#delete-config');
  await waitForText('#themed', 'off');
  assert.ok(!(await page.evaluate(() => document.body.classList.contains('themed'))));
  await waitForText('#offers-message', '404: Personalized Offers not enabled');
  assert.equal(await page.locator('#offers .card').count(), 0);

  // The configuration as last seen: with the feature disabled.
  await page.click('#restore-config');
  await waitForText('#operator-result', 'Configuration restored');
  await waitForText('#themed', 'on');
  await page.click('#enable');
  await waitForText('#status', 'enabled');
  await page.waitForFunction(() => document.querySelectorAll('#offers .card').length === 4);
});

test('the page talked to nothing but the host and raised no error', () => {
  const elsewhere = requests.filter((line) => {
    const url = line.slice(line.indexOf(' ') + 1);
    return !url.startsWith(`${host.base}/`) && !url.startsWith('data:');
  });
  assert.deepEqual(elsewhere, []);
  assert.deepEqual(pageErrors, []);
});
