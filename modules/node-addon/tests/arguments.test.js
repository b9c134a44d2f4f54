// The module as a front end loads it: its 17 functions, their argument
// checks, and what each answers while no session stands.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { ownFolders, loadAddon } = require('./helpers');

const folders = ownFolders();
const addon = loadAddon();

const names = ['tvdInitialize', 'tvdIsInitialized', 'tvdCleanup', 'tvdResolveApplicationSpecifier',
  'tvdGetInstalledApplicationSpecifiers', 'tvdGetDisplayNameForApplication', 'tvdGetApplicationInstalled',
  'tvdGetApplicationRunning', 'tvdLaunchApplication', 'tvdBringApplicationToFront', 'tvdCompileToTVSBin',
  'tvdCheckSyntax', 'tvdGetScriptDirectives', 'tvdSendDebugMessage', 'tvdPumpSession', 'tvdPathToUri',
  'tvdUriToPath'];

const minimum = { tvdInitialize: 2, tvdResolveApplicationSpecifier: 1, tvdGetDisplayNameForApplication: 1,
  tvdGetApplicationInstalled: 1, tvdGetApplicationRunning: 1, tvdLaunchApplication: 1,
  tvdBringApplicationToFront: 1, tvdCompileToTVSBin: 3, tvdCheckSyntax: 3, tvdGetScriptDirectives: 2,
  tvdSendDebugMessage: 2, tvdPumpSession: 1, tvdPathToUri: 1, tvdUriToPath: 1 };

test('the module exports its 17 functions in order', () => {
  assert.deepEqual(Object.keys(addon), names);
  for (const name of names) assert.equal(typeof addon[name], 'function');
});

test('too few arguments throw a TypeError', () => {
  for (const [name, count] of Object.entries(minimum)) {
    const args = Array(count - 1).fill('x');
    assert.throws(() => addon[name](...args), { name: 'TypeError', message: 'Wrong number of arguments' }, name);
  }
});

test('the pump wants a function', () => {
  for (const value of ['f', 1, {}, null, undefined])
    assert.throws(() => addon.tvdPumpSession(value),
      { name: 'TypeError', message: 'First parameter must be a function' });
});

test('cleanup and the session test take any arguments', () => {
  assert.equal(addon.tvdIsInitialized(1, 2, 3), false);
  assert.deepEqual(addon.tvdCleanup('a', {}, 3), { status: 12 });
});

// Arguments good enough for every function, given no session.
const sessionless = {
  tvdResolveApplicationSpecifier: ['a'], tvdGetInstalledApplicationSpecifiers: [],
  tvdGetDisplayNameForApplication: ['a'], tvdGetApplicationInstalled: ['a'], tvdGetApplicationRunning: ['a'],
  tvdLaunchApplication: ['a'], tvdBringApplicationToFront: ['a'], tvdCompileToTVSBin: ['', 'a.tvs', ''],
  tvdCheckSyntax: ['', 'a.tvs', ''], tvdGetScriptDirectives: ['', 'a.tvs'], tvdSendDebugMessage: ['a', 'b'],
  tvdPumpSession: [() => assert.fail('nothing to deliver')], tvdCleanup: [],
};

test('every function that needs a session answers 12 without one', () => {
  for (const [name, args] of Object.entries(sessionless))
    assert.deepEqual(addon[name](...args), { status: 12 }, name);
});

// The reference's tables of statuses: one per function, in the module's
// order; their statuses are those of the module's header, and 12 stands
// in the table of exactly the functions that answer it without a session.
test('docs/debug-protocol.md gives each function its statuses as the module answers them', () => {
  const root = path.join(__dirname, '..', '..', '..');
  const doc = fs.readFileSync(path.join(root, 'docs', 'debug-protocol.md'), 'utf8');
  const part = doc.slice(doc.indexOf('\n## The module\'s functions\n'), doc.indexOf('\n## Traps\n'));
  const sections = part.split(/^### /m).slice(1).filter((t) => t.startsWith('`'));
  const firstColumn = (text) => [...text.matchAll(/^\| (-?\d+) \|/gm)].map((m) => Number(m[1]));
  assert.deepEqual(sections.map((t) => t.slice(1, t.indexOf('`', 1))), names);

  const header = fs.readFileSync(path.join(root, 'modules', 'node-addon', 'source', 'TVDCoreAPI.h'), 'utf8');
  const statuses = [...header.matchAll(/^\s+kTVD(\w+) = (-?\d+),/gm)].filter((m) => m[1] !== 'CallbackThrew')
    .map((m) => Number(m[2]));
  const listed = firstColumn(part.slice(0, part.indexOf('\n### ')));
  assert.deepEqual([...listed].sort(), [...statuses].sort());

  for (const section of sections) {
    const name = section.slice(1, section.indexOf('`', 1));
    const answered = firstColumn(section);
    for (const status of answered) assert.ok(statuses.includes(status), `${name}: ${status}`);
    // The two that start and test a session never need one.
    if (name === 'tvdInitialize' || name === 'tvdIsInitialized') {
      assert.ok(!answered.includes(12), name);
      continue;
    }
    const without = addon[name](...(sessionless[name] || ['/a'])).status;
    assert.equal(answered.includes(12), without === 12, `${name} answers ${without} without a session`);
    assert.ok(answered.includes(without), `${name}: ${without}`);
  }
});

test('a string argument of another type raises the string error and reads as empty', () => {
  assert.throws(() => addon.tvdGetApplicationRunning(5), { name: 'TypeError', message: /string/i });
  assert.throws(() => addon.tvdCheckSyntax('', 3, ''), { name: 'TypeError' });
  assert.throws(() => addon.tvdLaunchApplication('a', 'b', 'not a boolean'), { name: 'TypeError' });
});

test('path and URI conversion work without a session', () => {
  const home = folders.home;
  const table = [
    [`${home}/notes.txt`, '~/notes.txt'],
    [`${home}/a b/c%d.txt`, '~/a%20b/c%25d.txt'],
    ['/opt/Tavrel/Scripts/x.tvs', '/opt/Tavrel/Scripts/x.tvs'],
    ['/opt/dir/', '/opt/dir'],
    ['/tmp/ünïcode/ñ.tvs', '/tmp/%C3%BCn%C3%AFcode/%C3%B1.tvs'],
    [home, '~'],
  ];
  for (const [path, uri] of table) {
    assert.deepEqual(addon.tvdPathToUri(path), { status: 0, uri }, path);
    assert.deepEqual(addon.tvdUriToPath(uri), { status: 0, path: path.replace(/\/$/, '') }, uri);
  }
});

test('a path is taken literally, a URI is decoded', () => {
  // "%41" in a path is the three characters; in a URI it is "A".
  assert.equal(addon.tvdPathToUri('/tmp/%41').uri, '/tmp/%2541');
  assert.equal(addon.tvdUriToPath('/tmp/%41').path, '/tmp/A');
  assert.equal(addon.tvdUriToPath('file:///tmp/a%20b').path, '/tmp/a b');
  assert.equal(addon.tvdUriToPath('~/x').path, `${folders.home}/x`);
});

test('path and URI arguments are converted to strings', () => {
  assert.equal(addon.tvdPathToUri(12).status, 0);
  assert.equal(addon.tvdUriToPath({ toString: () => '/a' }).path, '/a');
  assert.throws(() => addon.tvdPathToUri(Symbol('s')), TypeError);
});

test('a conversion that throws throws the very value thrown', () => {
  for (const value of [new RangeError('r'), 7, undefined, Symbol('s')]) {
    const none = {};
    let caught = none;
    try {
      addon.tvdPathToUri({ toString() { throw value; } });
    } catch (e) {
      caught = e;
    }
    assert.equal(caught, value, String(value));
  }
});

test('a relative path is taken against the current folder', () => {
  assert.equal(addon.tvdUriToPath('x.tvs').path, require('node:path').join(process.cwd(), 'x.tvs'));
});
