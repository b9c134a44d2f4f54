// Debug messages to a second process and their replies through the pump.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { ownFolders, writeProductList, sampleApps, loadAddon, Peer, peerOnce, startSampleApp, pumpUntil } =
  require('./helpers');

const folders = ownFolders();
writeProductList(folders, sampleApps);
const addon = loadAddon();
const app = `front${process.pid}`;
const own = `${app}_3-2.0#dbg`;
const target = 'peerapp-1.0';
const box = `${target}#tvtk`;

let peer;
test.before(async () => {
  assert.deepEqual(addon.tvdInitialize(app, '3'), { status: 0 });
  peer = new Peer();
  await peer.ready();
  assert.equal(await peer.command('hold', box), 'ok');
});
test.after(async () => {
  await peer.close();
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
});

test('a debug message travels as a Debug message to the target\'s tvtk mailbox', async () => {
  const sent = addon.tvdSendDebugMessage('PeerApp-1.0', 'line one\nline "two" ü', false);
  assert.equal(sent.status, 0);
  assert.equal(typeof sent.serialNumber, 'number');
  assert.ok(sent.serialNumber > 0);
  addon.tvdPumpSession(() => {});
  const got = await peer.next(box, 5000);
  assert.ok(got, 'nothing arrived');
  assert.equal(got.count, 1);
  const m = got.messages[0];
  assert.equal(m.type, 'Debug');
  assert.equal(m.target, box);
  assert.equal(m.sender, own);
  assert.equal(m.request, 'Result Error');
  assert.equal(m.timeout, '0');
  assert.equal(m.serial, String(sent.serialNumber));
  assert.equal(m.body, 'line one\nline "two" ü');
  assert.equal(m.received, '4294967295');
  assert.equal(m.result, '4294967295');
  assert.equal(m.error, '4294967295');
  // Tellwire's own authentication header is the only custom header.
  assert.deepEqual(Object.keys(m).filter((k) => k.startsWith('h.') && k !== 'h.Sender-ID'), []);
});

test('a positive timeout is asked for in seconds; 0 and negatives are none', async () => {
  for (const [timeout, request, seconds] of [[5000, 'Result Error Timeout', '5000'], [0, 'Result Error', '0'],
    [-3, 'Result Error', '0'], ['7', 'Result Error', '0']]) {
    const sent = addon.tvdSendDebugMessage(target, 'x', false, timeout);
    assert.equal(sent.status, 0);
    const m = (await peer.next(box, 5000)).messages[0];
    assert.equal(m.request, request, String(timeout));
    assert.equal(m.timeout, seconds, String(timeout));
    assert.equal(m.serial, String(sent.serialNumber));
  }
  // Drop the watcher of the 5000-second message: nothing else waits.
  await pumpUntil(addon, () => false, 100);
});

test('the result reply reaches the callback as Tellwire delivers it', async () => {
  const sent = addon.tvdSendDebugMessage(target, 'question', false);
  assert.equal((await peer.next(box, 5000)).messages[0].body, 'question');
  assert.equal(await peer.command('reply', box, 'Result', 'answer'), 'ok');
  const got = await pumpUntil(addon, (g) => g.length > 0);
  assert.equal(got.length, 1);
  const { kind, message } = got[0];
  assert.equal(kind, 3);
  // Delivery turns a "Result" into a "Tavrel" message whose result field
  // holds the kind number 3, not the serial number.
  assert.deepEqual(message, { target: own, sender: box, type: 'Tavrel', responseRequest: '', body: 'answer',
    serialNumber: sent.serialNumber, resultSerial: 3 });
});

test('a new message without reply fields has no reply serials', async () => {
  assert.equal(await peer.command('tell', box, own, 'type=Debug', 'serial=77', 'body=hello'), 'ok');
  const got = await pumpUntil(addon, (g) => g.length > 0);
  assert.equal(got[0].kind, 1);
  assert.deepEqual(got[0].message, { target: own, sender: box, type: 'Debug', responseRequest: '', body: 'hello',
    serialNumber: 77 });
});

test('a handled message is answered with a result, a throwing callback with an error', async () => {
  assert.equal(await peer.command('tell', box, own, 'type=Debug', 'serial=80', 'request=Result Error', 'body=a'), 'ok');
  await pumpUntil(addon, (g) => g.length > 0);
  const reply = (await peer.next(box, 5000)).messages[0];
  // The reader folds a reply's number into its serial number and type.
  assert.equal(reply.type, 'Result');
  assert.equal(reply.serial, '80');

  assert.equal(await peer.command('tell', box, own, 'type=Debug', 'serial=81', 'request=Result Error', 'body=b'), 'ok');
  assert.equal(await peer.command('tell', box, own, 'type=Debug', 'serial=82', 'request=Result Error', 'body=c'), 'ok');
  // Both messages wait in the mailbox before the pump runs.
  await new Promise((r) => setTimeout(r, 300));
  let calls = 0;
  assert.throws(() => addon.tvdPumpSession(() => {
    calls++;
    throw new Error('front end failed');
  }), /front end failed/);
  assert.equal(calls, 1);
  const thrown = (await peer.next(box, 5000)).messages;
  assert.deepEqual(thrown.map((a) => [a.type, a.serial, a.body, a['h.Error-Code']]),
    [['Error', '81', 'Exception', '-29']]);
  // The other message waits for the next pump, which answers it.
  const rest = await pumpUntil(addon, (g) => g.length > 0);
  assert.deepEqual(rest.map((d) => d.message.body), ['c']);
  assert.deepEqual((await peer.next(box, 5000)).messages.map((a) => [a.type, a.serial]), [['Result', '82']]);
  // The pump works as before afterwards.
  assert.equal(await peer.command('tell', box, own, 'type=Debug', 'serial=83', 'body=d'), 'ok');
  const later = await pumpUntil(addon, (g) => g.length > 0);
  assert.equal(later[0].message.body, 'd');
});

test('a callback that throws stops the pump; the next pump delivers the rest in order', async () => {
  // Four replies and a new message (an engine's <break>), all waiting.
  const waiting = [['Result', 'r1'], ['Result', 'r2'], ['Debug', '<break/>'], ['Result', 'r4'], ['Result', 'r5']];
  for (const throwAt of [0, 2, 4]) {
    for (const [i, [type, body]] of waiting.entries()) {
      const serial = 100 + 10 * throwAt + i;
      const fields = [`type=${type}`, `serial=${serial}`, `body=${body}`];
      if (type === 'Result') fields.push(`result=${serial}`);
      assert.equal(await peer.command('tell', box, own, ...fields), 'ok');
    }
    const first = [];
    assert.throws(() => addon.tvdPumpSession((kind, message) => {
      first.push([kind, message.body]);
      if (first.length === throwAt + 1) throw new Error(`stop at ${throwAt}`);
    }), { message: `stop at ${throwAt}` });
    const next = [];
    addon.tvdPumpSession((kind, message) => next.push([kind, message.body]));
    const kinds = waiting.map(([type, body]) => [type === 'Result' ? 3 : 1, body]);
    assert.deepEqual(first, kinds.slice(0, throwAt + 1), `throw at ${throwAt}`);
    assert.deepEqual(next, kinds.slice(throwAt + 1), `throw at ${throwAt}`);
    assert.deepEqual(await pumpUntil(addon, () => false, 100), []);
  }
});

test('the pump throws the very value its callback threw, whatever it is', async () => {
  const values = [new TypeError('t'), 7, 'text', null, undefined, Symbol('s'), Object.freeze({ a: 1 })];
  for (const [i, value] of values.entries()) {
    assert.equal(await peer.command('tell', box, own, 'type=Debug', `serial=${300 + i}`, 'body=x'), 'ok');
    const none = {};
    let caught = none;
    for (const end = Date.now() + 10000; caught === none && Date.now() < end;) {
      try {
        addon.tvdPumpSession(() => { throw value; });
      } catch (e) {
        caught = e;
      }
      await new Promise((r) => setTimeout(r, 20));
    }
    assert.equal(caught, value, `value ${i}`);
  }
});

test('a pump inside a callback gives the outer callback back', async () => {
  assert.equal(await peer.command('tell', box, own, 'type=Debug', 'serial=90', 'body=first'), 'ok');
  const outer = [];
  const inner = [];
  const send = (serial, body) => peerOnce([['tell', '-', own, 'type=Debug', `serial=${serial}`, `body=${body}`]]);
  const end = Date.now() + 10000;
  while (!outer.some((m) => m.body === 'after') && Date.now() < end) {
    addon.tvdPumpSession((kind, message) => {
      outer.push(message);
      if (message.body !== 'first') return;
      send(91, 'inner');
      addon.tvdPumpSession((k, m) => inner.push(m));
      send(92, 'after');
    });
    await new Promise((r) => setTimeout(r, 20));
  }
  assert.deepEqual(inner.map((m) => m.body), ['inner']);
  assert.deepEqual(outer.map((m) => m.body), ['first', 'after']);
});

test('a message asking for a timeout gets one when nobody answers', async () => {
  const start = Date.now();
  const sent = addon.tvdSendDebugMessage(target, 'no answer', false, 1);
  assert.equal(sent.status, 0);
  const got = await pumpUntil(addon, (g) => g.some((d) => d.kind === 5), 15000);
  // Never before the timeout: Tellwire counts whole seconds and gives one
  // more, so the time-out comes up to a second after the timeout.
  assert.ok(Date.now() - start >= 1000, `${Date.now() - start} ms`);
  const timeout = got.find((d) => d.kind === 5);
  assert.ok(timeout, JSON.stringify(got));
  assert.equal(timeout.message.serialNumber, sent.serialNumber);
  assert.equal(timeout.message.type, 'Timeout');
  await peer.next(box, 1000);
});

test('a target too long for a specifier is refused: -1, with an error reply', async () => {
  const sent = addon.tvdSendDebugMessage('x'.repeat(300), 'lost', false);
  assert.deepEqual(sent, { status: -1 });
  const got = await pumpUntil(addon, (g) => g.length > 0, 2000);
  assert.equal(got.length, 1);
  assert.equal(got[0].kind, 4);
  assert.equal(got[0].message.errorSerial, 4);
  assert.match(got[0].message.body, /^ERROR: /);
});

test('a target that is not running is refused without launching: -1', async () => {
  const sent = addon.tvdSendDebugMessage('notrunning-1.0', 'lost', false);
  assert.equal(sent.status, -1);
  const got = await pumpUntil(addon, (g) => g.length > 0, 2000);
  assert.equal(got[0].message.body, 'ERROR: LAUNCHING IS SUPPRESSED');
});

test('a message too large for any mailbox is refused for its size, launch or not: -1', async () => {
  const body = 'x'.repeat(65 << 20);
  for (const launch of [false, true]) {
    assert.deepEqual(addon.tvdSendDebugMessage(target, body, launch), { status: -1 }, `launch ${launch}`);
    const got = await pumpUntil(addon, (g) => g.length > 0, 2000);
    assert.deepEqual(got.map((d) => [d.kind, d.message.body]), [[4, 'ERROR: MESSAGE TOO LARGE']], `launch ${launch}`);
  }
});

// The reference lists every text a refused send can be answered with, and
// only those: each "ERROR: " text of the endpoint's send.
test('docs/debug-protocol.md lists exactly the refusal texts Tellwire sends', () => {
  const root = path.join(__dirname, '..', '..', '..');
  const source = fs.readFileSync(path.join(root, 'objects', 'Tellwire.cpp'), 'utf8');
  const sent = [...new Set([...source.matchAll(/"(ERROR: [^"]*)"/g)].map((m) => m[1]))].sort();
  const doc = fs.readFileSync(path.join(root, 'docs', 'debug-protocol.md'), 'utf8');
  const start = doc.indexOf("\n### Tellwire's refusals\n");
  assert.ok(start > 0);
  const section = doc.slice(start, doc.indexOf('\n### ', start + 1));
  const listed = [...section.matchAll(/^\| "(ERROR: [^"]*)" \|/gm)].map((m) => m[1]).sort();
  assert.ok(sent.length >= 4, sent.join());
  assert.deepEqual(listed, sent);
});

test('the sample application answers a debug message', async () => {
  const sample = await startSampleApp('sampleapp-1.0');
  try {
    const sent = addon.tvdSendDebugMessage('sampleapp', 'hello', false);
    assert.equal(sent.status, 0);
    const got = await pumpUntil(addon, (g) => g.some((d) => d.kind === 3));
    const result = got.find((d) => d.kind === 3);
    assert.ok(result, JSON.stringify(got));
    assert.deepEqual(result.message, { target: own, sender: 'sampleapp-1.0#tvtk', type: 'Tavrel',
      responseRequest: '', body: 'sampleapp: hello', serialNumber: sent.serialNumber, resultSerial: 3 });
  } finally {
    await sample.stop();
  }
});

test('a message queued while its target is launched is on its way: 0', async () => {
  const sent = addon.tvdSendDebugMessage('sampleapp', 'launched', true);
  assert.equal(sent.status, 0, JSON.stringify(sent));
  assert.ok(sent.serialNumber > 0);
  const got = await pumpUntil(addon, (g) => g.some((d) => d.kind === 3), 20000);
  const result = got.find((d) => d.kind === 3);
  assert.ok(result, JSON.stringify(got));
  assert.equal(result.message.body, 'sampleapp: launched');
  assert.equal(result.message.serialNumber, sent.serialNumber);
  assert.equal(addon.tvdSendDebugMessage('sampleapp', 'quit', false).status, 0);
});
