// What a debugger front end does with the add-on, start to end, against
// the sample application: start a session, list and resolve applications,
// read a script's directives, convert a path to a URI and back, send a
// debug message, pump until its reply arrives, clean up.
//
//   node examples/demo.js
//
// It runs from the installed package (node_modules/tvdcorelibinterface/
// examples/) and from a clone after scripts/demo; examples/locate.js says
// where it finds the module and the sample application.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { NotBuilt, loadAddon, requireSampleApp, startSampleApp, stopSampleApp } = require('./locate.js');

const here = __dirname;
const xml = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');

// The demo keeps its mailboxes, per-user values and product list in a
// folder of its own, so it never touches the user's files. The product
// list names one configuration file, which gives the sample application's
// specifier, path and display name. Returns the folder.
function ownFolders(appPath) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavrel-demo-'));
  for (const dir of ['run', 'config']) fs.mkdirSync(path.join(root, dir), { mode: 0o700 });
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
  return root;
}

let step = 0;
function show(what, value) {
  console.log(`${++step}. ${what}`);
  console.log(`   ${JSON.stringify(value)}`);
}

function check(result, what) {
  if (result.status !== 0) throw new Error(`${what} answered status ${result.status}`);
  return result;
}

async function pumpForReply(tvd, serial, seconds) {
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

async function demo(tvd) {
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

  const app = await startSampleApp(['-specifier', 'sampleapp-1.0']);
  show('the sample application started; is it running now?', check(tvd.tvdGetApplicationRunning(specifier), 'running'));
  const sent = check(tvd.tvdSendDebugMessage(specifier, 'Hello, sample application!', false, 10), 'send');
  show('sent a debug message', sent);
  const reply = await pumpForReply(tvd, sent.serialNumber, 10);
  if (!reply) throw new Error('no reply came');
  show('its reply', reply.body);

  // "quit" ends the sample application once its reply is on its way.
  const quit = check(tvd.tvdSendDebugMessage(specifier, 'quit', false, 10), 'send');
  show('asked it to quit; it answered', (await pumpForReply(tvd, quit.serialNumber, 10) || {}).body);
  await new Promise((resolve) => (app.exitCode !== null ? resolve() : app.once('exit', resolve)));
  show('clean up', check(tvd.tvdCleanup(), 'cleanup'));
  show('is a session up?', tvd.tvdIsInitialized());
}

async function main() {
  let folder = null;
  let tvd = null;
  try {
    folder = ownFolders(requireSampleApp());
    tvd = loadAddon();
    await demo(tvd);
  } finally {
    if (tvd && tvd.tvdIsInitialized()) tvd.tvdCleanup();
    if (folder) fs.rmSync(folder, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error instanceof NotBuilt ? `demo.js: ${error.message}` : `demo failed: ${error.message}`);
  process.exitCode = 1;
});
