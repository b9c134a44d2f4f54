// What the add-on's tests share: their own per-user folders and product
// list (set before the module is loaded), the module itself, and the
// second processes: the Tellwire peer and the sample application.
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn, spawnSync } = require('node:child_process');
const readline = require('node:readline');

// Under the sanitizers Node runs with their runtimes preloaded; the
// processes the tests start (and those the add-on launches) need none.
delete process.env.LD_PRELOAD;

const addonPath = process.env.TVD_ADDON;
const peerPath = process.env.TELLWIRE_PEER;
const sampleAppPath = process.env.TAVREL_SAMPLE_APP;
if (!addonPath || !peerPath || !sampleAppPath)
  throw new Error('TVD_ADDON, TELLWIRE_PEER and TAVREL_SAMPLE_APP must name the built files');

// Fresh HOME, XDG_RUNTIME_DIR (mode 0700), XDG_CONFIG_HOME and product
// list for this test process; the returned root is removed at exit.
function ownFolders() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tvd-addon-'));
  const folders = { root, home: path.join(root, 'home'), runtime: path.join(root, 'run'),
    config: path.join(root, 'config'), products: path.join(root, 'installed-products.xml') };
  fs.mkdirSync(folders.home, { mode: 0o700 });
  fs.mkdirSync(folders.runtime, { mode: 0o700 });
  fs.mkdirSync(folders.config, { mode: 0o700 });
  writeProductList(folders, []);
  Object.assign(process.env, { HOME: folders.home, XDG_RUNTIME_DIR: folders.runtime,
    XDG_CONFIG_HOME: folders.config, MORVANE_INSTALLED_PRODUCTS: folders.products, LC_ALL: 'en_US.UTF-8' });
  // A peer that has not quite ended may still be writing into its mailbox:
  // removal tries again while a folder refills.
  process.on('exit', () => fs.rmSync(root, { recursive: true, force: true, maxRetries: 10, retryDelay: 20 }));
  return folders;
}

function xml(text) {
  return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
}

// apps: [{ specifier, path, displayName }], all in one configuration file.
function writeProductList(folders, apps) {
  const config = path.join(folders.root, 'products.xml');
  const products = apps.map((a) => `  <Other morvaneCode="/morvane/tellwire/${xml(a.specifier)}">\n` +
    `    <Data key="Path">${xml(a.path)}</Data>\n` +
    `    <Data key="DisplayName">${xml(a.displayName)}</Data>\n  </Other>\n`).join('');
  fs.writeFileSync(config, `<?xml version="1.0" encoding="UTF-8"?>\n<Configuration>\n${products}</Configuration>\n`);
  fs.writeFileSync(folders.products, '<?xml version="1.0" encoding="UTF-8"?>\n<InstalledProducts>\n' +
    (apps.length ? `  <Product><KPVConfigPath>${xml(config)}</KPVConfigPath><LaunchString>${xml(apps[0].path)}</LaunchString></Product>\n` : '') +
    '</InstalledProducts>\n');
}

const sampleApps = [{ specifier: 'sampleapp-1.0', path: sampleAppPath, displayName: 'Tavrel Sample Application' }];

function loadAddon() {
  return require(addonPath);
}

// Words on the peer's lines travel %-escaped.
function escape(word) {
  return Buffer.from(String(word), 'utf8').toString('latin1')
    .replace(/[^\x21-\x7e]|%/g, (c) => '%' + c.charCodeAt(0).toString(16).toUpperCase().padStart(2, '0'));
}

function unescape(word) {
  return Buffer.from(word.replace(/%([0-9A-F]{2})/g, (m, h) => String.fromCharCode(parseInt(h, 16))), 'latin1')
    .toString('utf8');
}

// The Tellwire peer, driven line by line.
class Peer {
  constructor() {
    this.child = spawn(peerPath, [], { stdio: ['pipe', 'pipe', 'inherit'] });
    this.lines = [];
    this.waiters = [];
    readline.createInterface({ input: this.child.stdout }).on('line', (line) => {
      this.lines.push(line);
      this.flush();
    });
  }

  flush() {
    while (this.waiters.length && this.lines.length) this.waiters.shift()(this.lines.shift());
  }

  line() {
    return new Promise((resolve) => {
      this.waiters.push(resolve);
      this.flush();
    });
  }

  async ready() {
    const line = await this.line();
    if (line !== 'ready') throw new Error(`peer said ${line}`);
  }

  async command(...words) {
    this.child.stdin.write(words.map(escape).join(' ') + '\n');
    return this.line();
  }

  // The messages of the next text the mailbox receives, as field maps;
  // null when none comes in time.
  async next(name, ms) {
    this.child.stdin.write(`next ${escape(name)} ${ms}\n`);
    const head = await this.line();
    if (head === 'none') return null;
    const messages = [];
    for (;;) {
      const line = await this.line();
      if (line === 'end') break;
      const fields = {};
      for (const word of line.split(' ').slice(1)) {
        const eq = word.indexOf('=');
        fields[unescape(word.slice(0, eq))] = unescape(word.slice(eq + 1));
      }
      messages.push(fields);
    }
    const [, size, , count] = head.split(' ');
    return { size: Number(size), count: Number(count), messages };
  }

  close() {
    this.child.stdin.end();
    return new Promise((resolve) => this.child.once('exit', resolve));
  }
}

// A peer for one synchronous job (usable inside a pump callback): runs the
// commands and exits; answers its output lines.
function peerOnce(commands) {
  const input = commands.map((words) => words.map(escape).join(' ')).join('\n') + '\nexit\n';
  const out = spawnSync(peerPath, [], { input, encoding: 'utf8' });
  return out.stdout.trim().split('\n');
}

// The sample application, started directly; resolves once its mailboxes
// are open. With addressSpaceKiB its address space is limited (RLIMIT_AS,
// set by the shell that then becomes the application).
function startSampleApp(specifier, { addressSpaceKiB } = {}) {
  const args = ['-specifier', specifier];
  const stdio = ['pipe', 'pipe', 'inherit'];
  const child = addressSpaceKiB
    ? spawn('/bin/sh', ['-c', `ulimit -v ${Number(addressSpaceKiB)} && exec "$0" "$@"`, sampleAppPath, ...args], { stdio })
    : spawn(sampleAppPath, args, { stdio });
  const lines = readline.createInterface({ input: child.stdout });
  return new Promise((resolve, reject) => {
    lines.once('line', (line) => (line.startsWith('ready') ? resolve({ child, lines,
      stop: () => { child.stdin.end(); return new Promise((r) => child.once('exit', r)); } })
      : reject(new Error(line))));
    child.once('exit', (code) => reject(new Error(`sample application ended with ${code}`)));
  });
}

// A program built with the address sanitizer maps terabytes of shadow
// memory at start, so no limit on its address space lets it run.
function isSanitized(program) {
  return fs.readFileSync(program).includes('__asan_init');
}

// Pumps until done() says so or ms have passed; answers the deliveries.
async function pumpUntil(addon, done, ms = 10000) {
  const got = [];
  const end = Date.now() + ms;
  while (!done(got) && Date.now() < end) {
    addon.tvdPumpSession((kind, message) => got.push({ kind, message }));
    await new Promise((r) => setTimeout(r, 20));
  }
  return got;
}

// Wraps a test body in a session of the application: started before the
// body, ended after it.
function sessionFor(addon, application, version) {
  return (fn) => async () => {
    assert.deepEqual(addon.tvdInitialize(application, version), { status: 0 });
    try {
      await fn();
    } finally {
      assert.deepEqual(addon.tvdCleanup(), { status: 0 });
    }
  };
}

module.exports = { ownFolders, writeProductList, sampleApps, loadAddon, Peer, peerOnce, startSampleApp, pumpUntil,
  addonPath, sampleAppPath, isSanitized, sessionFor };
