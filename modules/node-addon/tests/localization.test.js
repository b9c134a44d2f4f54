// The localisation file beside the library: "tavrel-<locale>.dat" in
// Resources/localization, else "tavrel-en_US.dat"; loaded at the first
// session start and again after a cleanup has ended the core.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { ownFolders, addonPath } = require('./helpers');

const folders = ownFolders();
// A copy of the module with its own resources folder.
const lib = path.join(folders.root, 'lib');
const resources = path.join(lib, 'Resources', 'localization');
fs.mkdirSync(resources, { recursive: true });
fs.copyFileSync(addonPath, path.join(lib, 'tvdcorelibinterface.node'));
fs.writeFileSync(path.join(resources, 'tavrel-de_DE.dat'),
  '"$$$/CT/Tavrel/Errors/Err48=Datei oder Ordner existiert nicht"\n');
fs.writeFileSync(path.join(resources, 'tavrel-en_US.dat'),
  '$$$/CT/Tavrel/Errors/Err48=No such file or folder (en_US file)\n');
const addon = require(path.join(lib, 'tvdcorelibinterface.node'));

function missingIncludeText() {
  const out = addon.tvdGetScriptDirectives('#include "nowhere.tvs"\n', path.join(folders.root, 'a.tvs'));
  assert.equal(out.status, 15);
  return out.error;
}

test('the file of the current locale translates error texts', () => {
  process.env.LC_ALL = 'de_DE.UTF-8';
  assert.deepEqual(addon.tvdInitialize('loc', '1'), { status: 0 });
  assert.equal(missingIncludeText(), 'Datei oder Ordner existiert nicht: nowhere.tvs (48)');
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
});

test('after a cleanup the next session loads the file again', () => {
  assert.deepEqual(addon.tvdInitialize('loc', '1'), { status: 0 });
  assert.equal(missingIncludeText(), 'Datei oder Ordner existiert nicht: nowhere.tvs (48)');
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
});

test('a locale without a file falls back to en_US', () => {
  process.env.LC_ALL = 'fr_FR.UTF-8';
  assert.deepEqual(addon.tvdInitialize('loc', '1'), { status: 0 });
  assert.equal(missingIncludeText(), 'No such file or folder (en_US file): nowhere.tvs (48)');
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
});

test('without any file the built-in texts stay', () => {
  fs.rmSync(resources, { recursive: true });
  assert.deepEqual(addon.tvdInitialize('loc', '1'), { status: 0 });
  assert.equal(missingIncludeText(), 'File or folder does not exist: nowhere.tvs (48)');
  assert.deepEqual(addon.tvdCleanup(), { status: 0 });
});
