// A small debugger front end on the add-on, written as an editor extension
// would write one. It runs a script in the sample application with a
// breakpoint, and when the engine stops it steps into a function, reads
// the frame's variables, evaluates an expression in the frame, sets a
// conditional breakpoint, and continues to the end, printing what it sees.
//
//   node examples/debug-session.js              starts a sample application
//                                               of its own, in folders of
//                                               its own, and ends it
//   node examples/debug-session.js SPECIFIER    debugs the running
//                                               application SPECIFIER
//                                               ("npx tavrel-sample-app"
//                                               starts sampleapp-1.0)
//
// It runs from the installed package (node_modules/tvdcorelibinterface/
// examples/) and from a clone after scripts/demo; examples/locate.js says
// where it finds the module and the sample application.
//
// Each request is one XML element sent as a debug message to the
// application's "#tvtk" endpoint (docs/debug-protocol.md). A timer pumps the
// session; a reply settles the promise of the request whose serial number
// it carries, and the engine's own messages (<break> when it stops,
// <output> when the script writes) wait in a queue until asked for.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { NotBuilt, loadAddon, startSampleApp, stopSampleApp } = require('./locate.js');

const ownTarget = 'sampleapp-1.0';

// Just enough XML for the replies: elements, attributes, text and CDATA.
// Throws unless the text is one balanced element.
function parseXml(text) {
  const entities = { lt: '<', gt: '>', amp: '&', quot: '"', apos: "'" };
  const decode = (s) => s.replace(/&(#x[0-9a-fA-F]+|#\d+|\w+);/g, (m, e) => (e[0] !== '#' ? entities[e]
    : String.fromCodePoint(e[1] === 'x' ? parseInt(e.slice(2), 16) : Number(e.slice(1)))));
  const top = { name: '', attrs: {}, children: [], text: '' };
  const open = [top];
  const token = /<!\[CDATA\[([\s\S]*?)\]\]>|<\?[\s\S]*?\?>|<!--[\s\S]*?-->|<\/([^>\s]+)\s*>|<([^\s/>]+)((?:\s+[^\s=]+\s*=\s*(?:"[^"]*"|'[^']*'))*)\s*(\/?)>|([^<]+)/g;
  for (let m; (m = token.exec(text));) {
    const parent = open[open.length - 1];
    if (m[1] !== undefined) parent.text += m[1];
    else if (m[2]) open.pop();
    else if (m[3]) {
      const element = { name: m[3], attrs: {}, children: [], text: '' };
      for (const a of m[4].matchAll(/([^\s=]+)\s*=\s*(?:"([^"]*)"|'([^']*)')/g)) element.attrs[a[1]] = decode(a[2] ?? a[3]);
      parent.children.push(element);
      if (!m[5]) open.push(element);
    } else if (m[6] !== undefined) parent.text += decode(m[6]);
  }
  if (open.length !== 1 || top.children.length !== 1) throw new Error(`not one XML element: ${text}`);
  return top.children[0];
}

const child = (element, name) => element.children.find((c) => c.name === name);
const cdata = (text) => `<![CDATA[${text.replace(/]]>/g, ']]]]><![CDATA[>')}]]>`;

class DebugSession {
  constructor(tvd, target) {
    this.tvd = tvd;
    this.target = target;
    this.pending = new Map();   // serial number -> { resolve, reject }
    this.events = [];           // the engine's messages not yet taken
    this.waiting = [];          // { name, resolve, reject } for events to come
    this.failure = null;        // why the session ended early
    this.timer = setInterval(() => this.pump(), 20);
  }

  pump() {
    try {
      this.tvd.tvdPumpSession((kind, message) => this.deliver(kind, message));
    } catch (error) {
      // A message it cannot read ends the session rather than the process.
      this.fail(error);
    }
  }

  deliver(kind, message) {
    if (kind === 1) this.queue(parseXml(message.body));
    // Replies carry the request's serial number; the engine's own
    // messages (kind 1) are numbered apart, so the kind comes first.
    const request = kind >= 3 && kind <= 5 && this.pending.get(message.serialNumber);
    if (!request) return;
    this.pending.delete(message.serialNumber);
    if (kind === 3) request.resolve(message.body ? parseXml(message.body) : null);
    else if (kind === 4) request.reject(new Error(`error reply: ${message.body}`));
    else request.reject(new Error('no reply in time'));
  }

  fail(error) {
    this.failure = error;
    this.close();
    for (const request of this.pending.values()) request.reject(error);
    for (const waiter of this.waiting) waiter.reject(error);
    this.pending.clear();
    this.waiting = [];
  }

  // The reply element of one request (null for a command that has none).
  request(xml, seconds = 30) {
    if (this.failure) return Promise.reject(this.failure);
    const sent = this.tvd.tvdSendDebugMessage(this.target, xml, false, seconds);
    if (sent.status !== 0) return Promise.reject(new Error(`sending ${xml} gave status ${sent.status}`));
    return new Promise((resolve, reject) => this.pending.set(sent.serialNumber, { resolve, reject }));
  }

  queue(event) {
    const i = this.waiting.findIndex((w) => w.name === event.name);
    if (i >= 0) this.waiting.splice(i, 1)[0].resolve(event);
    else this.events.push(event);
  }

  // The next <break>, <output>, ... of the engine.
  next(name) {
    const i = this.events.findIndex((e) => e.name === name);
    if (i >= 0) return Promise.resolve(this.events.splice(i, 1)[0]);
    if (this.failure) return Promise.reject(this.failure);
    return new Promise((resolve, reject) => this.waiting.push({ name, resolve, reject }));
  }

  close() {
    clearInterval(this.timer);
  }
}

const script = `function greet(name) {
  var text = "Hello, " + name;
  $.writeln(text);
  return text.length;
}
var who = ["Ada", "Grace", "Linus"];
var total = 0;
for (var i = 0; i < who.length; i++)
  total += greet(who[i]);
total;`;

// A breakpoint list: [line, condition] pairs in greet.tvs.
const breakpoints = (...points) => `<breakpoints>${points.map(([line, condition = '']) =>
  `<breakpoint file="greet.tvs" line="${line}" enabled="true">${cdata(condition)}</breakpoint>`).join('')}</breakpoints>`;

function describe(stop) {
  const frame = child(stop, 'frame');
  const stack = child(stop, 'stack').children.map((f) => f.text).join(' > ');
  return `${frame.attrs.file}:${frame.attrs.line} in ${frame.attrs.name || 'the script'} (stack: ${stack})`;
}

async function step(session, command) {
  await session.request(`<${command}/>`);
  const stop = await session.next('break');
  console.log(`${command}: now at ${describe(stop)}`);
  return stop;
}

async function debug(session) {
  const info = await session.request('<get-info/>');
  console.log(`engine ${info.attrs.engine}, version ${info.attrs.tvversion}, ${info.children.length} commands`);

  // The reply to the eval comes when the script ends; meanwhile it stops.
  const run = session.request(`<eval file="greet.tvs" debug="1"><source>${cdata(script)}</source>` +
    `${breakpoints([9])}</eval>`, 120);
  console.log(`breakpoint hit: ${describe(await session.next('break'))}`);
  await step(session, 'stepinto');
  await step(session, 'stepover');
  await step(session, 'stepover');

  // The frame's variables: all of them, not only those changed since the
  // last look, and neither built-in members nor functions.
  const variables = await session.request('<get-properties all="true" exclude="builtin,Function"/>');
  for (const v of variables.children.filter((c) => c.name === 'property'))
    console.log(`  variable ${v.attrs.name} = ${v.text} (${v.attrs.type})`);

  const value = child(await session.request(`<eval><source>${cdata('text.toUpperCase() + " / " + name.length')}` +
    '</source></eval>'), 'value');
  console.log(`evaluated in the frame: ${value.text} (${value.attrs.type})`);

  await step(session, 'stepover');
  console.log(`output: ${JSON.stringify((await session.next('output')).text)}`);
  await step(session, 'stepout');

  // Continue with the breakpoint moved into greet, for Linus only.
  await session.request(`<continue>${breakpoints([3, 'name == "Linus"'])}</continue>`);
  const stop = await session.next('break');
  const name = child(await session.request('<eval><source>name</source></eval>'), 'value');
  console.log(`conditional breakpoint hit: ${describe(stop)}, name is ${name.text}`);

  await session.request(`<continue>${breakpoints()}</continue>`);
  const result = await run;
  const error = child(result, 'error');
  if (error) throw new Error(`the script failed: ${error.text}`);
  console.log(`the script ended with ${child(result, 'value').text}`);
  for (const output of session.events.filter((e) => e.name === 'output'))
    console.log(`output: ${JSON.stringify(output.text)}`);
}

// Mailboxes, per-user values and the product list in a folder of its own,
// so that a session with its own sample application never touches the
// user's files. Returns the folder.
function ownFolders() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavrel-debug-'));
  for (const dir of ['run', 'config']) fs.mkdirSync(path.join(root, dir), { mode: 0o700 });
  Object.assign(process.env, { XDG_RUNTIME_DIR: path.join(root, 'run'), XDG_CONFIG_HOME: path.join(root, 'config'),
    MORVANE_INSTALLED_PRODUCTS: path.join(root, 'no-products.xml') });
  return root;
}

// specifier: a running application to debug; none starts one.
async function main(specifier) {
  const folder = specifier ? null : ownFolders();
  let tvd = null;
  let app = null;
  let session = null;
  try {
    tvd = loadAddon();
    if (!specifier) app = await startSampleApp(['-specifier', ownTarget]);
    const target = specifier || ownTarget;
    if (tvd.tvdInitialize('debugsession', '1.0').status !== 0) throw new Error('no debug session');
    if (!tvd.tvdGetApplicationRunning(target).isRunning)
      throw new Error(`${target} is not running; start it first (npx tavrel-sample-app), as this user ` +
        'and with the same XDG_RUNTIME_DIR');
    session = new DebugSession(tvd, target);
    await debug(session);
  } finally {
    if (session) session.close();
    if (tvd && tvd.tvdIsInitialized()) tvd.tvdCleanup();
    if (app) await stopSampleApp(app);
    if (folder) fs.rmSync(folder, { recursive: true, force: true });
  }
}

if (require.main === module) {
  main(process.argv[2]).catch((error) => {
    console.error(error instanceof NotBuilt ? `debug-session.js: ${error.message}`
      : `debug session failed: ${error.message}`);
    process.exitCode = 1;
  });
}

module.exports = { parseXml, DebugSession };
