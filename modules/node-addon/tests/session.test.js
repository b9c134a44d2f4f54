// The session: start, end, start again; the application queries; the
// script services behind a session.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { ownFolders, writeProductList, sampleApps, loadAddon, Peer, peerOnce, startSampleApp, sessionFor } =
  require('./helpers');

const folders = ownFolders();
writeProductList(folders, sampleApps);
const addon = loadAddon();
const app = `session${process.pid}`;

const withSession = sessionFor(addon, app, '12');

test('init, init again, cleanup, cleanup again', () => {
  assert.deepEqual(addon.tvdInitialize(app, '12'), { status: 0 });
  assert.equal(addon.tvdIsInitialized(), true);
  assert.deepEqual(addon.tvdInitialize(app, '12'), { status: 11 });
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
  assert.equal(addon.tvdIsInitialized(), false);
  assert.deepEqual(addon.tvdCleanup(), { status: 12 });
});

test('sessions start and end many times in one process', () => {
  for (let i = 0; i < 5; i++) {
    assert.deepEqual(addon.tvdPathToUri('/a b'), { status: 0, uri: '/a%20b' });
    assert.deepEqual(addon.tvdInitialize(app, String(i)), { status: 0 }, `start ${i}`);
    assert.equal(addon.tvdResolveApplicationSpecifier('sampleapp').status, 0);
    assert.deepEqual(addon.tvdUriToPath('/a%20b'), { status: 0, path: '/a b' });
    assert.deepEqual(addon.tvdCleanup(), { status: 0 }, `end ${i}`);
  }
});

test('arguments of the start are converted to strings', () => {
  assert.deepEqual(addon.tvdInitialize({ toString: () => app }, 12), { status: 0 });
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
});

test('a debug mailbox held by another front end leaves no session: 3', async () => {
  const peer = new Peer();
  await peer.ready();
  const name = `${app}_7-2.0#dbg`;
  assert.equal(await peer.command('hold', name), 'ok');
  assert.deepEqual(addon.tvdInitialize(app, '7'), { status: 3 });
  assert.equal(addon.tvdIsInitialized(), false);
  assert.deepEqual(addon.tvdCleanup(), { status: 12 });
  assert.equal(await peer.command('release', name), 'ok');
  // Nothing of the failed start stands in the way of the next one.
  assert.deepEqual(addon.tvdInitialize(app, '7'), { status: 0 });
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
  await peer.close();
});

test('a name no mailbox can carry leaves no session, and the next start works', () => {
  for (const name of ['a'.repeat(300), 'b'.repeat(20 << 20)]) {
    assert.deepEqual(addon.tvdInitialize(name, '1'), { status: 3 }, `${name.length} characters`);
    assert.equal(addon.tvdIsInitialized(), false);
    assert.deepEqual(addon.tvdCleanup(), { status: 12 });
    assert.deepEqual(addon.tvdInitialize(app, '9'), { status: 0 }, `after ${name.length} characters`);
    assert.deepEqual(addon.tvdCleanup(), { status: 0 });
  }
});

test('a zero character ends the application name, not the mailbox name', async () => {
  const peer = new Peer();
  await peer.ready();
  const name = `${app}_6-2.0#dbg`;
  try {
    assert.equal(await peer.command('hold', name), 'ok');
    assert.deepEqual(addon.tvdInitialize(`${app}\0tail`, '6\0x'), { status: 3 });
    assert.equal(await peer.command('release', name), 'ok');
    assert.deepEqual(addon.tvdInitialize(`${app}\0tail`, '6\0x'), { status: 0 });
  } finally {
    addon.tvdCleanup();
    await peer.close();
  }
});

test('a cleanup inside a pump callback ends the session once the pump returns', async () => {
  assert.deepEqual(addon.tvdInitialize(app, '8'), { status: 0 });
  peerOnce([['tell', '-', `${app}_8-2.0#dbg`, 'type=Debug', 'serial=5', 'body=bye']]);
  const inside = [];
  const end = Date.now() + 5000;
  while (!inside.length && Date.now() < end) {
    addon.tvdPumpSession(() => {
      inside.push(addon.tvdCleanup(), addon.tvdIsInitialized(), addon.tvdInitialize(app, '8'));
    });
    await new Promise((r) => setTimeout(r, 20));
  }
  assert.deepEqual(inside, [{ status: 0 }, false, { status: 3 }]);
  assert.equal(addon.tvdIsInitialized(), false);
  assert.deepEqual(addon.tvdPumpSession(() => {}), { status: 12 });
  assert.deepEqual(addon.tvdInitialize(app, '8'), { status: 0 });
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
});

test('installed applications are listed and resolved', withSession(() => {
  const list = addon.tvdGetInstalledApplicationSpecifiers();
  assert.equal(list.status, 0);
  assert.ok(list.specifiers.includes('sampleapp-1.0'), JSON.stringify(list));
  assert.deepEqual(addon.tvdResolveApplicationSpecifier('SampleApp'), { status: 0, specifier: 'sampleapp-1.0' });
  assert.deepEqual(addon.tvdGetDisplayNameForApplication('sampleapp'),
    { status: 0, name: 'Tavrel Sample Application' });
  assert.deepEqual(addon.tvdGetApplicationInstalled('sampleapp'), { status: 0, isInstalled: true });
  assert.deepEqual(addon.tvdGetApplicationInstalled('nosuchapp-3.0'), { status: 0, isInstalled: false });
  assert.deepEqual(addon.tvdResolveApplicationSpecifier('NoSuchApp-3.0'), { status: 0, specifier: 'nosuchapp-3.0' });
  assert.deepEqual(addon.tvdBringApplicationToFront('sampleapp'), { status: 0 });
}));

test('the running test sees the sample application', withSession(async () => {
  assert.deepEqual(addon.tvdGetApplicationRunning('sampleapp'), { status: 0, isRunning: false });
  const sample = await startSampleApp('sampleapp-1.0');
  try {
    assert.deepEqual(addon.tvdGetApplicationRunning('sampleapp'), { status: 0, isRunning: true });
    // A running application is not launched again.
    assert.deepEqual(addon.tvdLaunchApplication('sampleapp'), { status: 0 });
  } finally {
    await sample.stop();
  }
}));

test('launching what is not installed is refused: -1', withSession(() => {
  assert.deepEqual(addon.tvdLaunchApplication('nosuchapp-3.0', '', false), { status: -1 });
  assert.deepEqual(addon.tvdLaunchApplication('x'.repeat(300)), { status: -1 });
}));

test('a file name cannot break the report out of its CDATA section', withSession(() => {
  const { result } = addon.tvdCheckSyntax('a = @;', 'a]]>b', '');
  assert.ok(result.includes('<file><![CDATA[a]]]]><![CDATA[>b]]></file>'), result);
}));

test('script directives', withSession(() => {
  const text = '#target sampleapp\n#targetengine session\n#strict on\n//@script "Demo Script"\nvar x = 1;\n';
  assert.deepEqual(addon.tvdGetScriptDirectives(text, '/s/a.tvs'),
    { status: 0, directives: { script: 'Demo Script', strict: 'on', target: 'sampleapp', targetengine: 'session' } });
  assert.deepEqual(addon.tvdGetScriptDirectives('var x = 1;', '/s/a.tvs'), { status: 0, directives: {} });
}));

test('a directive without an argument keeps its line end', withSession(() => {
  const dir = fs.mkdtempSync(path.join(folders.root, 'inc-'));
  fs.writeFileSync(path.join(dir, 'lib.tvs'), '#target sampleapp\nvar lib = 1;\n');
  fs.writeFileSync(path.join(dir, 'main.tvs'), '');
  const out = addon.tvdGetScriptDirectives('#strict\n#include "lib.tvs"\nvar x;\n', path.join(dir, 'main.tvs'));
  assert.equal(out.status, 0);
  assert.equal(out.directives.target, 'sampleapp');
}));

test('a preprocessor error answers 15 with its text', withSession(() => {
  const out = addon.tvdGetScriptDirectives('#include "nowhere-to-be-found.tvs"\n', path.join(folders.root, 'a.tvs'));
  assert.equal(out.status, 15);
  assert.match(out.error, / \(\d+\)$/);
  assert.equal(Object.keys(out).join(), 'status,error');
}));
