// What a debugger front end does with the add-on, start to end, against
// the sample application: start a session, list and resolve applications,
// read a script's directives, convert a path to a URI and back, send a
// debug message, pump until its reply arrives, clean up.
//
//   node examples/demo.js      (scripts/demo builds everything first)
//
// TVD_ADDON and TAVREL_SAMPLE_APP name the built module and application;
// by default they are taken from the build folder beside this one.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { spawn } = require('node:child_process');

const here = __dirname;
const build = path.join(here, '..', 'build');
const addonPath = path.resolve(process.env.TVD_ADDON || path.join(build, 'modules', 'node-addon', 'tvdcorelibinterface.node'));
const appPath = path.resolve(process.env.TAVREL_SAMPLE_APP || path.join(build, 'examples', 'tavrel_sample_app'));

// The demo keeps its mailboxes, per-user values and product list in a
// folder of its own, so it never touches the user's files.
const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavrel-demo-'));
for (const dir of ['run', 'config']) fs.mkdirSync(path.join(root, dir), { mode: 0o700 });
const xml = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
const config = path.join(root, 'sampleapp.xml');
fs.writeFileSync(config, `<?xml version="1.0" encoding="UTF-8"?>
<Configuration>
  <Other morvaneCode="/morvane/tellwire/sampleapp-1.0">
    <Data key="Path">${xml(appPath)}</Data>
    <Data key="DisplayName">Tavrel Sample Application</Data>
  </Other>
</Configuration>
`);
fs.writeFileSync(path.join(root, 'installed-products.xml'), `<?xml version="1.0" encoding="UTF-8"?>
<InstalledProducts>
  <Product><KPVConfigPath>${xml(config)}</KPVConfigPath><LaunchString>${xml(appPath)}</LaunchString></Product>
</InstalledProducts>
`);
Object.assign(process.env, { XDG_RUNTIME_DIR: path.join(root, 'run'), XDG_CONFIG_HOME: path.join(root, 'config'),
  MORVANE_INSTALLED_PRODUCTS: path.join(root, 'installed-products.xml') });

const tvd = require(addonPath);
let step = 0;
function show(what, value) {
  console.log(`${++step}. ${what}`);
  console.log(`   ${JSON.stringify(value)}`);
}

function check(result, what) {
  if (result.status !== 0) throw new Error(`${what} answered status ${result.status}`);
  return result;
}

function startSampleApp() {
  const child = spawn(appPath, ['-specifier', 'sampleapp-1.0'], { stdio: ['pipe', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    readline.createInterface({ input: child.stdout }).once('line', (line) =>
      (line.startsWith('ready') ? resolve(child) : reject(new Error(line))));
    child.once('error', reject);
  });
}

async function pumpForReply(serial, seconds) {
  const end = Date.now() + seconds * 1000;
  let reply = null;
  while (!reply && Date.now() < end) {
    tvd.tvdPumpSession((kind, message) => {
      console.log(`   delivered: kind ${kind}, ${JSON.stringify(message)}`);
      if (kind === 3 && message.serialNumber === serial) reply = message;
    });
    if (!reply) await new Promise((r) => setTimeout(r, 50));
  }
  return reply;
}

async function main() {
  show('start a debug session as "tavreldemo" version 1.0', check(tvd.tvdInitialize('tavreldemo', '1.0'), 'start'));
  show('is a session up?', tvd.tvdIsInitialized());
  show('installed applications', check(tvd.tvdGetInstalledApplicationSpecifiers(), 'list'));
  const { specifier } = check(tvd.tvdResolveApplicationSpecifier('SampleApp'), 'resolve');
  show('"SampleApp" resolves to', specifier);
  show('its display name', check(tvd.tvdGetDisplayNameForApplication(specifier), 'name'));
  show('is it installed?', check(tvd.tvdGetApplicationInstalled(specifier), 'installed'));
  show('is it running?', check(tvd.tvdGetApplicationRunning(specifier), 'running'));

  const script = path.join(here, 'hello.tvs');
  show(`directives of ${path.basename(script)}`,
    check(tvd.tvdGetScriptDirectives(fs.readFileSync(script, 'utf8'), script), 'directives'));
  const { uri } = check(tvd.tvdPathToUri(script), 'path to URI');
  show('its path as a URI', uri);
  show('and back to a path', check(tvd.tvdUriToPath(uri), 'URI to path').path);

  const app = await startSampleApp();
  show('the sample application started; is it running now?', check(tvd.tvdGetApplicationRunning(specifier), 'running'));
  const sent = check(tvd.tvdSendDebugMessage(specifier, 'Hello, sample application!', false, 10), 'send');
  show('sent a debug message', sent);
  const reply = await pumpForReply(sent.serialNumber, 10);
  if (!reply) throw new Error('no reply came');
  show('its reply', reply.body);

  tvd.tvdSendDebugMessage(specifier, 'quit', false);
  tvd.tvdPumpSession(() => {});
  app.stdin.end();
  await new Promise((r) => app.once('exit', r));
  show('clean up', check(tvd.tvdCleanup(), 'cleanup'));
  show('is a session up?', tvd.tvdIsInitialized());
}

main().catch((error) => {
  console.error(`demo failed: ${error.message}`);
  process.exitCode = 1;
}).finally(() => {
  if (tvd.tvdIsInitialized()) tvd.tvdCleanup();
  fs.rmSync(root, { recursive: true, force: true });
});
