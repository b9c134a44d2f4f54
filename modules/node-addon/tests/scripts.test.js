// The script services: the syntax check's report and the compile worker's
// compiled text, which tvrun runs.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { ownFolders, loadAddon, sessionFor } = require('./helpers');

const folders = ownFolders();
const addon = loadAddon();
const app = `scripts${process.pid}`;

const withSession = sessionFor(addon, app, '12');

function tvrun(file) {
  return spawnSync(process.env.TVRUN, [file], { encoding: 'utf8' });
}

test('a syntax error is reported with its line, columns and file', withSession(() => {
  const { status, result } = addon.tvdCheckSyntax('var a = 1;\nvar b = ;\n', '/s/a.tvs', '');
  assert.equal(status, 0);
  assert.match(result, new RegExp('^<\\?xml version="1.0" encoding="UTF-8" \\?><errorInfo><errorText><!\\[CDATA\\[' +
    '[^\\]]+\\]\\]></errorText><line>2</line><col1>9</col1><col2>10</col2>' +
    '<file><!\\[CDATA\\[/s/a.tvs\\]\\]></file></errorInfo>$'));
}));

test('a good script gives an empty report', withSession(() => {
  assert.deepEqual(addon.tvdCheckSyntax('var a = 1;', '/s/a.tvs', ''), { status: 0, result: '' });
}));

test('compiling: a syntax error gives 16 and its code, a good script the text tvrun runs', withSession(() => {
  const bad = addon.tvdCompileToTVSBin('a = @;', '/s/a.tvs', '');
  assert.equal(bad.status, 16);
  assert.equal(bad.error, 'Syntax error(8)');
  const good = addon.tvdCompileToTVSBin('function f(n) { return n * 6; }\nprint("ran", f(7));', '/s/a.tvs', '');
  assert.equal(good.status, 0);
  assert.ok(good.output.startsWith('@TVSBIN@TV@2.0@'), good.output);
  const file = path.join(folders.root, 'compiled.tvs');
  fs.writeFileSync(file, good.output);
  const run = tvrun(file);
  assert.equal(run.stderr, '');
  assert.equal(run.stdout, 'ran 42\n');
}));

test('a damaged compiled text reports the reader\'s error', withSession(() => {
  const { output } = addon.tvdCompileToTVSBin('var a = [1, 2, 3];', '/s/a.tvs', '');
  const cut = output.slice(0, -4);
  const compiled = addon.tvdCompileToTVSBin(cut, '/s/c.tvs', '');
  assert.equal(compiled.status, 16);
  assert.match(compiled.error, /\(51\)$/);
  const { result } = addon.tvdCheckSyntax(cut.replace('M', '['), '/s/c.tvs', '');
  assert.match(result, /<line>0<\/line>.*<file><!\[CDATA\[\/s\/c.tvs\]\]><\/file>/);
}));

test('the include path widens the engine\'s, with and without JSINCLUDE', withSession(() => {
  const lib = fs.mkdtempSync(path.join(folders.root, 'lib-'));
  fs.writeFileSync(path.join(lib, 'lib.tvs'), 'var fromLib = 1;\n');
  const main = path.join(folders.root, 'main.tvs');
  const script = '#include "lib.tvs"\nfromLib;\n';
  const saved = process.env.JSINCLUDE;
  try {
    delete process.env.JSINCLUDE;
    assert.match(addon.tvdCompileToTVSBin(script, main, '').error, /\(48\)$/);
    assert.equal(addon.tvdCompileToTVSBin(script, main, lib).status, 0);
    assert.deepEqual(addon.tvdCheckSyntax(script, main, lib), { status: 0, result: '' });
    process.env.JSINCLUDE = lib;
    assert.equal(addon.tvdCompileToTVSBin(script, main, '').status, 0);
    assert.equal(addon.tvdCompileToTVSBin(script, main, '/nowhere').status, 0);
  } finally {
    if (saved === undefined)
      delete process.env.JSINCLUDE;
    else
      process.env.JSINCLUDE = saved;
  }
}));

test('report texts hold only what XML can', withSession(() => {
  const { result } = addon.tvdCheckSyntax('var a = ;', 'a\u0001b\uFFFEc', '');
  assert.ok(result.includes('<file><![CDATA[a\uFFFDb\uFFFDc]]></file>'), result);
}));
