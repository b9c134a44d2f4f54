// The XML debug protocol end to end: a front end on the add-on drives the
// sample application's engine "main" over Tellwire. Requests are Debug
// messages to its #tvtk endpoint whose replies match by serial number;
// stops and script output come to the front end as new messages.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { ownFolders, writeProductList, sampleApps, loadAddon, startSampleApp, sampleAppPath, isSanitized } =
  require('./helpers');
// The example front end's reader of replies, which throws on anything but one element.
const { parseXml } = require('../../../examples/debug-session.js');

// Every test has folders, a session and an application of its own.
process.setMaxListeners(0);
const target = 'sampleapp-1.0';
let addon = null;
let sessions = 0;

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function descendants(element, name) {
  const found = [];
  const walk = (e) => e.children.forEach((c) => { if (c.name === name) found.push(c); walk(c); });
  walk(element);
  return found;
}

const first = (element, name) => descendants(element, name)[0];
const stackOf = (breakElement) => descendants(first(breakElement, 'stack'), 'frameinfo').map((f) => f.text);

class Front {
  constructor() {
    this.got = [];
  }

  pump() {
    addon.tvdPumpSession((kind, message) => this.got.push({ kind, message }));
  }

  send(body) {
    const sent = addon.tvdSendDebugMessage(target, body, false);
    assert.equal(sent.status, 0, JSON.stringify(sent));
    return sent.serialNumber;
  }

  async take(what, pick, ms = 15000) {
    const end = Date.now() + ms;
    for (;;) {
      this.pump();
      const i = this.got.findIndex(pick);
      if (i >= 0) return this.got.splice(i, 1)[0];
      if (Date.now() > end) throw new Error(`no ${what} came: ${JSON.stringify(this.got)}`);
      await sleep(10);
    }
  }

  // The reply to the request of that serial: { kind, body }.
  async reply(serial, ms) {
    const { kind, message } = await this.take(`reply to ${serial}`,
      (d) => (d.kind === 3 || d.kind === 4) && d.message.serialNumber === serial, ms);
    assert.equal(message.sender, `${target}#tvtk`);
    return { kind, body: message.body };
  }

  async request(body) {
    return this.reply(this.send(body));
  }

  // The next new message from the engine whose element has that name.
  async next(name) {
    const { message } = await this.take(`<${name}>`, (d) => d.kind === 1 && d.message.body.startsWith(`<${name}`));
    assert.equal(message.type, 'Debug');
    assert.equal(message.sender, `${target}#tvtk`);
    return parseXml(message.body);
  }
}

function startSession() {
  assert.deepEqual(addon.tvdInitialize(`debugfront${process.pid}n${++sessions}`, '1'), { status: 0 });
}

function endSession() {
  if (addon.tvdIsInitialized()) assert.deepEqual(addon.tvdCleanup(), { status: 0 });
}

// options: skip, and the application's addressSpaceKiB.
function debugTest(name, fn, options = {}) {
  test(name, { skip: options.skip }, async () => {
    const folders = ownFolders();
    writeProductList(folders, sampleApps);
    addon = addon || loadAddon();
    startSession();
    let app = null;
    try {
      app = await startSampleApp(target, options);
      await fn(new Front(), app);
    } finally {
      if (app && app.child.exitCode === null && app.child.signalCode === null) await app.stop();
      endSession();
    }
  });
}

const cdata = (text) => `<![CDATA[${text}]]>`;
const evalRequest = (source, attributes = '', inner = '') =>
  `<eval${attributes}><source>${cdata(source)}</source>${inner}</eval>`;
const breakpointAt = (line) =>
  `<breakpoints><breakpoint file="t.tvs" line="${line}" enabled="true"/></breakpoints>`;

function expectResult(reply, name) {
  assert.equal(reply.kind, 3, reply.body);
  if (name === null) {
    assert.equal(reply.body, '');
    return null;
  }
  const element = parseXml(reply.body);
  assert.equal(element.name, name, reply.body);
  assert.equal(element.attrs.engine, 'main');
  return element;
}

function expectErrorReply(reply, id) {
  assert.equal(reply.kind, 4, reply.body);
  const element = parseXml(reply.body);
  assert.equal(element.name, 'error');
  assert.equal(element.attrs.id, String(id), reply.body);
  return element;
}

function expectHalted(reply) {
  const result = expectResult(reply, 'evalresult');
  const error = first(result, 'error');
  assert.ok(error, reply.body);
  assert.equal(error.attrs.id, '-34');
  return result;
}

debugTest('the sample target answers <get-info/>', async (front) => {
  const info = expectResult(await front.request('<get-info/>'), 'info');
  assert.equal(info.attrs.tvversion, '4.5.5');
  const commands = info.children.filter((c) => c.name === 'command').map((c) => c.text);
  assert.ok(commands.includes('eval') && commands.includes('get-break'), JSON.stringify(commands));
});

// The protocol reference has a section for each command the engine
// lists, and every other command it documents is served too.
debugTest('docs/debug-protocol.md describes exactly the commands the engine serves', async (front) => {
  const doc = fs.readFileSync(path.join(__dirname, '..', '..', '..', 'docs', 'debug-protocol.md'), 'utf8');
  const commands = doc.slice(doc.indexOf('\n## Commands\n'), doc.indexOf('\n## Errors'));
  const documented = [...commands.matchAll(/^### `([a-z-]+)`$/gm)].map((m) => m[1]);
  const info = expectResult(await front.request('<get-info/>'), 'info');
  const listed = info.children.filter((c) => c.name === 'command').map((c) => c.text);
  assert.deepEqual(['get-info', ...listed].filter((name) => !documented.includes(name)), []);
  for (const name of documented.filter((n) => n !== 'get-info' && !listed.includes(n))) {
    const reply = await front.request(`<${name}/>`);
    assert.ok(reply.kind === 3 || !/^<error id="19"/.test(reply.body), `${name}: ${reply.body}`);
  }
});

// What the reference says of listings, errors and steps, as the engine
// does it.
debugTest('listings, errors and steps are as the reference describes them', async (front) => {
  const source = ['var kept = {a: 1};', 'function f() {', '  var later, now = 1;', '  return 2;', '}', 'f();',
    'var list = [1];', 'list.push(2);', 'nothere();'].join('\n');
  const evalSerial = front.send(evalRequest(source, ' file="t.tvs" debug="1"', breakpointAt(3)));
  const stop = await front.next('break');
  const property = (element, name) => descendants(element, 'property').find((p) => p.attrs.name === name);
  const names = (element) => descendants(element, 'property').map((p) => p.attrs.name);
  // Every stop carries the whole source of the script.
  assert.equal(first(first(stop, 'frame'), 'source').text, source);
  // A function's variables are listed before they are assigned.
  const scope = expectResult(await front.request('<get-properties all="true"/>'), 'properties');
  for (const name of ['later', 'now'])
    assert.deepEqual([property(scope, name)?.attrs.type, property(scope, name)?.attrs.state], ['undefined', 'new']);
  // An expression without a name charges its error to the stopped script,
  // at the expression's own line; a runtime error has no column.
  const failed = expectErrorReply(await front.request('<get-properties object="nothere.x"/>'), 2);
  assert.deepEqual([failed.attrs.file, failed.attrs.line, failed.attrs.col, failed.attrs.len], ['t.tvs', '1', '1', '0']);
  // A step over the return stops on the closing brace, then in the caller.
  const lines = [];
  for (let i = 0; i < 3; i++) {
    expectResult(await front.request('<stepover/>'), null);
    const frame = first(await front.next('break'), 'frame');
    lines.push(`${frame.attrs.line}${frame.attrs.name ? ` ${frame.attrs.name}` : ''}`);
  }
  assert.deepEqual(lines, ['4 f', '5 f', '7']);
  // "builtin" leaves $ in; the script's own names need prototype and $ too.
  assert.ok(names(expectResult(await front.request('<get-properties all="true" exclude="builtin"/>'),
    'properties')).includes('$'));
  const own = expectResult(await front.request('<get-properties all="true" exclude="builtin,prototype,$,Function"/>'),
    'properties');
  assert.deepEqual(names(own), ['kept', 'list']);
  expectResult(await front.request('<stepover/>'), null);
  await front.next('break');
  expectResult(await front.request('<stepover/>'), null);
  assert.equal(first(await front.next('break'), 'frame').attrs.line, '9');
  // A var assigned since the last report is changed, not new; of the
  // array's elements the literal's is new, the pushed one changed.
  assert.equal(property(expectResult(await front.request('<get-properties/>'), 'properties'), 'list').attrs.state,
    'changed');
  const elements = expectResult(await front.request('<get-properties object="list" exclude="prototype"/>'), 'properties');
  assert.deepEqual(['0', '1'].map((n) => property(elements, n)?.attrs.state), ['new', 'changed']);
  expectResult(await front.request('<continue/>'), null);
  const error = first(await front.next('break'), 'error');
  assert.deepEqual([error.attrs.id, error.attrs.line, error.attrs.col, error.attrs.len], ['24', '9', '1', '0']);
  expectResult(await front.request('<continue/>'), null);
  expectResult(await front.reply(evalSerial), 'evalresult');
  // A syntax error has the column and length of its token.
  const syntax = first(expectResult(await front.request(evalRequest('var a = ;', ' file="s.tvs"')), 'evalresult'),
    'error');
  assert.deepEqual([syntax.attrs.line, syntax.attrs.col, syntax.attrs.len], ['1', '9', '1']);
});

debugTest('a breakpoint stops; step into, over and out; continue ends the eval', async (front) => {
  const source = ['function f(a) {', '  var b = a + 1;', '  return b * 2;', '}', 'f(3);', 'var after = 1;'].join('\n');
  const evalSerial = front.send(evalRequest(source, ' file="t.tvs" debug="1"', breakpointAt(5)));

  let stop = await front.next('break');
  assert.equal(stop.attrs.engine, 'main');
  assert.equal(first(stop, 'frame').attrs.line, '5');
  assert.equal(first(stop, 'frame').attrs.file, 't.tvs');
  assert.deepEqual(stackOf(stop), ['[t.tvs]']);

  // A function's first stop is its header, the line hook of its body;
  // its first statement is the next line of the same frame.
  expectResult(await front.request('<stepinto/>'), null);
  stop = await front.next('break');
  assert.equal(first(stop, 'frame').attrs.line, '1');
  assert.deepEqual(stackOf(stop), ['[t.tvs]', 'f(3)']);
  expectResult(await front.request('<stepover/>'), null);
  stop = await front.next('break');
  assert.equal(first(stop, 'frame').attrs.line, '2');
  assert.deepEqual(stackOf(stop), ['[t.tvs]', 'f(3)']);

  const frame = expectResult(await front.request('<get-frame all="true"/>'), 'frame');
  const a = descendants(frame, 'property').find((p) => p.attrs.name === 'a');
  assert.ok(a, JSON.stringify(frame));
  assert.deepEqual([a.attrs.type, a.text], ['number', '3']);

  expectResult(await front.request('<stepover/>'), null);
  assert.equal(first(await front.next('break'), 'frame').attrs.line, '3');
  expectResult(await front.request('<stepout/>'), null);
  assert.equal(first(await front.next('break'), 'frame').attrs.line, '6');

  expectResult(await front.request('<continue/>'), null);
  const result = expectResult(await front.reply(evalSerial), 'evalresult');
  assert.equal(first(result, 'error'), undefined, JSON.stringify(result));
});

// A script that says it runs, then runs until it is halted: its output tells
// the test that it runs, however long the application took to start it.
const runningSource = (said) => `$.writeln("${said}");\nwhile (true) {}`;

debugTest('<halt/> ends a running eval with error -34', async (front) => {
  const evalSerial = front.send(evalRequest(runningSource('running')));
  await front.next('output');
  expectResult(await front.request('<halt/>'), null);
  expectHalted(await front.reply(evalSerial));
});

debugTest('<halt/> sent while stopped ends the eval with error -34', async (front) => {
  const evalSerial = front.send(evalRequest('var x = 1;\nvar y = 2;', ' file="t.tvs" debug="1"', breakpointAt(2)));
  assert.equal(first(await front.next('break'), 'frame').attrs.line, '2');
  expectResult(await front.request('<halt/>'), null);
  expectHalted(await front.reply(evalSerial));
});

debugTest('while a script runs only break, halt, get-info and the breakpoints are served', async (front) => {
  const evalSerial = front.send(evalRequest(runningSource('running'), ' file="t.tvs" debug="1"'));
  await front.next('output');
  expectResult(await front.request('<get-info/>'), 'info');
  expectResult(await front.request('<get-breakpoints/>'), 'breakpoints');
  expectErrorReply(await front.request('<get-frame/>'), 32);
  expectErrorReply(await front.request(evalRequest('1')), 32);
  expectResult(await front.request('<break/>'), null);
  assert.equal(first(await front.next('break'), 'frame').attrs.line, '2');
  expectResult(await front.request('<halt/>'), null);
  expectHalted(await front.reply(evalSerial));
});

debugTest('a halt while a command of the stopped engine runs ends that run only', async (front) => {
  const evalSerial = front.send(evalRequest('var x = 1;\nvar y = 2;', ' file="t.tvs" debug="1"', breakpointAt(2)));
  await front.next('break');
  const innerSerial = front.send(evalRequest(runningSource('inner')));
  await front.next('output');
  expectResult(await front.request('<get-info/>'), 'info');
  expectErrorReply(await front.request('<get-breakpoints/>'), 32);
  expectResult(await front.request('<halt/>'), null);
  expectHalted(await front.reply(innerSerial));
  // Still stopped where it was.
  const frame = expectResult(await front.request('<get-frame/>'), 'frame');
  assert.equal(frame.attrs.line, '2');
  expectResult(await front.request('<continue/>'), null);
  const result = expectResult(await front.reply(evalSerial), 'evalresult');
  assert.equal(first(result, 'error'), undefined, JSON.stringify(result));
});

function expectParseError(reply) {
  assert.equal(reply.kind, 4, reply.body);
  const element = parseXml(reply.body);
  assert.equal(element.name, 'error');
  assert.match(element.text, /^XML error in line 1/);
}

debugTest('<nonsense/> gets an Error reply 19; a body that is not XML the parser\'s error', async (front) => {
  const error = expectErrorReply(await front.request('<nonsense/>'), 19);
  assert.match(error.text, /nonsense/);
  expectParseError(await front.request('<unclosed'));
  expectParseError(await front.request('<a>\u0001</a>'));
  // Other bodies keep their answers.
  assert.deepEqual(await front.request('hello'), { kind: 3, body: 'sampleapp: hello' });
});

debugTest('a stop with no front end runs on', async (front) => {
  const source = 'var t = Date.now();\nwhile (Date.now() - t < 700) {}\nvar done = "yes";';
  front.send(evalRequest(source, ' file="t.tvs" debug="1"', breakpointAt(3)));
  front.pump();
  // The front end goes before the engine stops; another one asks later.
  endSession();
  await sleep(1000);
  startSession();
  const later = new Front();
  const end = Date.now() + 15000;
  let reply;
  do {
    reply = await later.request(evalRequest('done'));
    if (reply.kind === 4) await sleep(100);
  } while (reply.kind === 4 && Date.now() < end);
  const value = first(expectResult(reply, 'evalresult'), 'value');
  assert.deepEqual([value.attrs.type, value.text], ['string', 'yes']);
});

debugTest('the application ends when its input closes, even while stopped', async (front, app) => {
  const evalSerial = front.send(evalRequest('var x = 1;\nvar y = 2;', ' file="t.tvs" debug="1"', breakpointAt(2)));
  await front.next('break');
  const exited = new Promise((resolve) => app.child.once('exit', (code) => resolve(code)));
  app.child.stdin.end();
  assert.equal(await exited, 0);
  expectHalted(await front.reply(evalSerial));
});

// The bodies that are no requests: "fail" is refused, "quit" ends the
// application once its reply is on its way. An application that is gone
// says nothing more: the running test and a send without launching tell.
debugTest('"fail" is refused; "quit" ends the sample application, which the front end can tell', async (front, app) => {
  assert.deepEqual(await front.request('fail'), { kind: 4, body: 'sampleapp: refused' });
  const exited = new Promise((resolve) => app.child.once('exit', (code) => resolve(code)));
  assert.deepEqual(await front.request('quit'), { kind: 3, body: 'sampleapp: quit' });
  assert.equal(await exited, 0);
  assert.deepEqual(addon.tvdGetApplicationRunning(target), { status: 0, isRunning: false });
  assert.deepEqual(addon.tvdSendDebugMessage(target, '<get-info/>', false, 5), { status: -1 });
  const { message } = await front.take('the refusal', (d) => d.kind === 4);
  assert.equal(message.body, 'ERROR: LAUNCHING IS SUPPRESSED');
});

// Killed while stopped, the application answers nothing: a request with a
// timeout gets its time-out, and the running test says it is gone.
debugTest('an application killed while stopped leaves a time-out and the running test', async (front, app) => {
  front.send(evalRequest('var x = 1;\nvar y = 2;', ' file="t.tvs" debug="1"', breakpointAt(2)));
  await front.next('break');
  const asked = addon.tvdSendDebugMessage(target, '<continue/>', false, 1);
  assert.equal(asked.status, 0);
  // The continue may be read before the end: the kill comes at once.
  const exited = new Promise((resolve) => app.child.once('exit', resolve));
  app.child.kill('SIGKILL');
  await exited;
  assert.deepEqual(addon.tvdGetApplicationRunning(target), { status: 0, isRunning: false });
  const answer = await front.take('an answer to the continue', (d) => d.kind >= 3 && d.message.serialNumber === asked.serialNumber);
  assert.ok(answer.kind === 5 || answer.kind === 3, JSON.stringify(answer));
});

debugTest('$.writeln("hi") reaches the front end as <output>', async (front) => {
  const evalSerial = front.send(evalRequest('$.writeln("hi")'));
  const output = await front.next('output');
  assert.match(output.text, /^hi\r?\n$/);
  expectResult(await front.reply(evalSerial), 'evalresult');
});

debugTest('a recursion 1,000 calls deep returns; a runaway one ends in error 27', async (front) => {
  // The application gives its engine the stack of the thread its scripts run on.
  const deep = 'function f(n) { return n ? f(n - 1) + 1 : 0 }\nf(1000)';
  const value = first(expectResult(await front.request(evalRequest(deep)), 'evalresult'), 'value');
  assert.deepEqual([value.attrs.type, value.text], ['number', '1000']);
  const runaway = expectResult(await front.request(evalRequest('function g() { return g() + 1 }\ng()')), 'evalresult');
  assert.equal(first(runaway, 'error')?.attrs.id, '27', JSON.stringify(runaway));
  expectResult(await front.request('<get-info/>'), 'info');
});

debugTest('a reply too large for Tellwire is an Error reply 52', async (front) => {
  // 6 * 2^22 three-byte characters: 72 MiB of UTF-8.
  const source = 'var s = "\\u20ac\\u20ac\\u20ac\\u20ac\\u20ac\\u20ac";\nfor (var i = 0; i < 22; i++) s += s;\ns';
  // Building it takes a while under the sanitizers.
  expectErrorReply(await front.reply(front.send(evalRequest(source)), 120000), 52);
  expectResult(await front.request('<get-info/>'), 'info');
});

debugTest('a script file that is a device is refused at once, and the target answers on', async (front) => {
  const error = expectErrorReply(await front.request('<eval file="/dev/zero" timeout="2000"/>'), 52);
  assert.equal(error.text, '/dev/zero is not a regular file');
  assert.equal(error.attrs.file, '/dev/zero');
  expectResult(await front.request('<get-info/>'), 'info');
});

// A script fills the memory the application may have with data a global
// holds. The eval answers -28, and the target keeps answering, so that a
// front end can reset the engine, which gives the memory back.
debugTest('out of memory, the target answers on, and a reset frees what the script held', async (front) => {
  const fill = 'var h = null;\nfor (var i = 0;; i++) h = {n: h, y: [1, 2, 3], z: "s" + i};';
  const filled = expectResult(await front.reply(front.send(evalRequest(fill)), 120000), 'evalresult');
  assert.equal(first(filled, 'error')?.attrs.id, '-28', JSON.stringify(filled));
  const requests = [['<get-info/>', 'info'], ['<get-breakpoints/>', 'breakpoints'], ['<halt/>', null],
    ['<get-frame/>', null], ['<clear-profiling/>', null]];
  for (let i = 0; i < 20; i++) {
    const [request, answer] = requests[i % requests.length];
    expectResult(await front.request(request), answer);
  }
  const reset = expectResult(await front.request(evalRequest('typeof h', ' reset="true"')), 'evalresult');
  assert.equal(first(reset, 'value')?.text, 'undefined', JSON.stringify(reset));
  const grow = 'var a = [];\nfor (var i = 0; i < 100000; i++) a.push({i: i, s: "s" + i});\na.length';
  const after = expectResult(await front.request(evalRequest(grow)), 'evalresult');
  assert.equal(first(after, 'value')?.text, '100000', JSON.stringify(after));
}, { addressSpaceKiB: 512 * 1024, skip: isSanitized(sampleAppPath) && 'an address-space limit cannot hold a sanitized build' });
