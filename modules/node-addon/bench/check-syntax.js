// Syntax-check speed: tvdCheckSyntax against acorn (ecmaVersion 3) in the
// same process, over seeded plain script text (only forms that this language
// and ECMAScript 3 read alike). Each row is a corpus of distinct texts of one
// call size; "small files" draws each size between 0.3 and 2 KB (1.5 KB on
// average once a text's last statement overshoots), the shape of a folder of
// scripts checked one by one. A row reports the best of its rounds in MB/s
// for each parser and their ratio.
//
//   node modules/node-addon/bench/check-syntax.js [ADDON.node] [--rounds N] [--mb M] [--write DIR]
//
// ADDON defaults to build/modules/node-addon/tvdcorelibinterface.node; M is the
// megabytes of text in each corpus (default 4). --write saves the small-files
// corpus in DIR as s0.tvs, s1.tvs, ... (for a profiler or other parsers) and
// measures nothing.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const acorn = require('acorn');

const root = path.resolve(__dirname, '..', '..', '..');
let addonPath = path.join(root, 'build', 'modules', 'node-addon', 'tvdcorelibinterface.node');
let rounds = 5;
let megabytes = 4;
let writeTo = null;
for (let i = 2; i < process.argv.length; i++) {
  const arg = process.argv[i];
  if (arg === '--rounds') rounds = Math.max(1, Number(process.argv[++i]));
  else if (arg === '--mb') megabytes = Math.max(0.01, Number(process.argv[++i]));
  else if (arg === '--write') writeTo = process.argv[++i];
  else if (!arg.startsWith('--')) addonPath = path.resolve(arg);
  else {
    console.error('usage: node check-syntax.js [ADDON.node] [--rounds N] [--mb M] [--write DIR]');
    process.exit(2);
  }
}

// The session lives in folders of its own, as in the add-on's tests.
const home = fs.mkdtempSync(path.join(os.tmpdir(), 'tvd-bench-'));
for (const dir of ['home', 'run', 'config']) fs.mkdirSync(path.join(home, dir), { mode: 0o700 });
const products = path.join(home, 'installed-products.xml');
fs.writeFileSync(products, '<?xml version="1.0" encoding="UTF-8"?>\n<InstalledProducts>\n</InstalledProducts>\n');
Object.assign(process.env, { HOME: path.join(home, 'home'), XDG_RUNTIME_DIR: path.join(home, 'run'),
  XDG_CONFIG_HOME: path.join(home, 'config'), MORVANE_INSTALLED_PRODUCTS: products, LC_ALL: 'en_US.UTF-8' });
process.on('exit', () => fs.rmSync(home, { recursive: true, force: true }));

const addon = require(addonPath);

// A seeded generator, so that every run checks the same texts.
function generator(seed) {
  let state = seed >>> 0;
  const next = () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  const pick = (n) => Math.floor(next() * n);
  const names = ['alpha', 'beta', 'count', 'total', 'items', 'index', 'value', 'result', 'node', 'list', 'data',
    'width', 'height', 'label', 'text', 'offset', 'limit', 'state', 'entry', 'buffer'];
  const words = ['hello', 'world', 'item count', 'missing value', 'a, b and c', 'line\\n', 'tab\\there',
    '\\u00e9t\\u00e9', 'quote \\" inside', 'path/to/file'];
  const operators = [' + ', ' - ', ' * ', ' / ', ' % ', ' < ', ' >= ', ' == ', ' != ', ' && ', ' || ', ' & ', ' | ',
    ' << ', ' === '];
  const name = () => names[pick(names.length)];
  const number = () => [() => `${pick(10)}`, () => `${pick(100000)}`, () => `${pick(1000)}.${pick(100)}`,
    () => `0x${10 + pick(80)}`][pick(4)]();
  const string = () => `"${words[pick(words.length)]}"`;
  const operand = (depth) => {
    switch (pick(depth > 2 ? 4 : 12)) {
      case 0: case 1: return name();
      case 2: return number();
      case 3: return string();
      case 4: return `${name()}.${name()}`;
      case 5: return `${name()}[${expression(depth + 1)}]`;
      case 6: return `${name()}(${expression(depth + 1)}, ${operand(depth + 1)})`;
      case 7: return `(${expression(depth + 1)})`;
      case 8: return `[${operand(depth + 1)}, ${operand(depth + 1)}, ${number()}]`;
      case 9: return `{${name()}: ${operand(depth + 1)}, ${name()}: ${string()}}`;
      case 10: return `new Array(${number()})`;
      default: return pick(2) ? '/ab+c/g' : '/^[a-z]+$/i';
    }
  };
  const expression = (depth) => {
    let out = operand(depth);
    for (let n = pick(3); n > 0; n--) out += operators[pick(operators.length)] + operand(depth + 1);
    if (depth === 0 && pick(8) === 0) out = `${out} ? ${operand(depth + 1)} : ${operand(depth + 1)}`;
    return out;
  };
  const indent = (level) => ' '.repeat(level * 4);
  const block = (level) => {
    let out = '';
    for (let n = 1 + pick(4); n > 0; n--) out += statement(level);
    return out;
  };
  const statement = (level) => {
    const pad = indent(level);
    switch (pick(level > 2 ? 5 : 12)) {
      case 0: return `${pad}var ${name()} = ${expression(0)};\n`;
      case 1: return `${pad}${name()} = ${expression(0)};\n`;
      case 2: return `${pad}${name()}.${name()}(${expression(0)});\n`;
      case 3: return `${pad}${name()} += ${operand(1)};\n`;
      case 4: return `${pad}// ${name()} ${name()} and more\n`;
      case 5: return `${pad}if (${expression(0)}) {\n${block(level + 1)}${pad}} else {\n${block(level + 1)}${pad}}\n`;
      case 6: return `${pad}for (var i = 0; i < ${name()}.length; i++) {\n${block(level + 1)}${pad}}\n`;
      case 7: return `${pad}while (${expression(0)}) {\n${block(level + 1)}${pad}}\n`;
      case 8: {
        let out = `${pad}switch (${name()}) {\n`;
        for (let n = 1 + pick(3); n > 0; n--) out += `${pad}case ${number()}:\n${block(level + 1)}${indent(level + 1)}break;\n`;
        return `${out}${pad}default:\n${block(level + 1)}${pad}}\n`;
      }
      case 9: return `${pad}try {\n${block(level + 1)}${pad}} catch (e) {\n${block(level + 1)}${pad}}\n`;
      case 10: return `${pad}/* ${name()} ${name()} */\n`;
      default: return `${pad}var ${name()} = function (a, b) {\n${block(level + 1)}${indent(level + 1)}return a + b;\n${pad}};\n`;
    }
  };
  const fn = (functionName) => {
    let out = `function ${functionName}(${name()}, ${name()}) {\n`;
    for (let n = 3 + pick(6); n > 0; n--) out += statement(1);
    return `${out}    return ${expression(0)};\n}\n\n`;
  };
  // One text of about size characters: whole functions, then top-level
  // statements up to the size, so that small texts vary too.
  const text = (size) => {
    let out = '';
    for (let n = 0; out.length + 3000 < size; n++) out += fn(`f${n}`);
    while (out.length < size) {
      const room = size - out.length;
      out += statement(room > 1500 ? 0 : room > 400 ? 2 : 3);
    }
    return out;
  };
  return { pick, text };
}

// Distinct texts of one call size (or of sizes drawn by sizeOf) up to the
// corpus's megabytes.
function corpus(seed, sizeOf) {
  const make = generator(seed);
  const texts = [];
  let total = 0;
  while (total < megabytes * 1e6) {
    const text = make.text(sizeOf(make));
    texts.push(text);
    total += text.length;
  }
  return { texts, total };
}

const rows = [
  { label: 'small files, 1.5 KB on average', sizeOf: (make) => 300 + make.pick(1700) },
  { label: '1 KB', sizeOf: () => 1000 },
  { label: '10 KB', sizeOf: () => 10000 },
  { label: '1 MB', sizeOf: () => 1000000 },
];

if (writeTo) {
  fs.mkdirSync(writeTo, { recursive: true });
  corpus(20261210, rows[0].sizeOf).texts.forEach((text, i) => fs.writeFileSync(path.join(writeTo, `s${i}.tvs`), text));
  process.exit(0);
}

// MB/s of one pass of check over every text.
function rate(texts, total, check) {
  const started = process.hrtime.bigint();
  for (let i = 0; i < texts.length; i++) check(texts[i], i);
  return total / 1e6 / (Number(process.hrtime.bigint() - started) / 1e9);
}

const tavrel = (text, i) => {
  const { status, result } = addon.tvdCheckSyntax(text, `/bench/s${i}.tvs`, '');
  if (status !== 0 || result !== '') throw new Error(`text ${i} does not check: ${result}`);
};
const es3 = (text) => acorn.parse(text, { ecmaVersion: 3 });

const started = addon.tvdInitialize('bench', '1');
if (started.status !== 0) throw new Error(`tvdInitialize: ${JSON.stringify(started)}`);
try {
  console.log(`node ${process.version}, acorn ${acorn.version}, best of ${rounds} rounds, ${megabytes} MB a corpus`);
  console.log('call size                        texts   tvdCheckSyntax MB/s   acorn MB/s   ratio');
  rows.forEach((row, n) => {
    const { texts, total } = corpus(20261210 + n, row.sizeOf);
    // Both parse the corpus once unmeasured, so that acorn runs compiled;
    // then their rounds take turns, so that a change of load hits both.
    rate(texts, total, tavrel);
    rate(texts, total, es3);
    let ours = 0;
    let theirs = 0;
    for (let round = 0; round < rounds; round++) {
      ours = Math.max(ours, rate(texts, total, tavrel));
      theirs = Math.max(theirs, rate(texts, total, es3));
    }
    console.log(`${row.label.padEnd(32)} ${String(texts.length).padStart(6)}   ${ours.toFixed(1).padStart(19)}` +
      `   ${theirs.toFixed(1).padStart(10)}   ${(ours / theirs).toFixed(2).padStart(5)}`);
  });
} finally {
  addon.tvdCleanup();
}
